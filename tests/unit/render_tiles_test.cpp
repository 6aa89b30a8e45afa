// The tile-map renderer: placement of tiles and cells, the three map layouts,
// selectors, bottom-up rows, and maps or tiles that do not hold what the
// picture asks for.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cgvw/cgvw.h"
#include "dib_test_util.h"

namespace {

using testing_support::Bytes;
using testing_support::PixelAt;

constexpr std::uint8_t kUntouched = 0xEE;

// Tile t's pixel (row r, column c) holds a value that tells all three apart
// for the first four tiles, and the tile number for the rest.
std::uint8_t TileByte(std::size_t t, std::size_t r, std::size_t c) {
  return t < 4 ? static_cast<std::uint8_t>(t << 6 | r << 3 | c) : static_cast<std::uint8_t>(t);
}

std::vector<std::uint8_t> MakeTiles(std::size_t count) {
  std::vector<std::uint8_t> tiles(count * 64);
  for (std::size_t t = 0; t < count; ++t) {
    for (std::size_t r = 0; r < 8; ++r) {
      for (std::size_t c = 0; c < 8; ++c) {
        tiles[t * 64 + r * 8 + c] = TileByte(t, r, c);
      }
    }
  }
  return tiles;
}

struct Canvas {
  std::uint16_t width;
  std::uint16_t height;
  std::size_t stride;
  std::vector<std::uint8_t> rows;

  Canvas(std::uint16_t w, std::uint16_t h)
      : width(w), height(h), stride((w + 3u) & ~3u), rows(stride * h, kUntouched) {}
  std::uint8_t At(std::size_t x, std::size_t y) const {
    return PixelAt(rows.data(), stride, height, x, y);
  }
};

void Render(Canvas& canvas, std::uint32_t flags, const std::vector<std::uint8_t>& map,
            const std::vector<std::uint8_t>& tiles) {
  TCGVwImage image{};
  image.Flags = flags;
  image.Width = canvas.width;
  image.Height = canvas.height;
  CGVwRenderTiles(canvas.rows, map, tiles, &image);
}

// Expects the 8 x 8 block at (x0, y0) to show tile t, transformed.
enum class Look { kStored, kMirrored, kFlipped };
void ExpectTile(const Canvas& canvas, std::size_t x0, std::size_t y0, std::size_t t,
                Look look = Look::kStored) {
  for (std::size_t r = 0; r < 8; ++r) {
    for (std::size_t c = 0; c < 8; ++c) {
      const std::size_t tr = look == Look::kFlipped ? 7 - r : r;
      const std::size_t tc = look == Look::kMirrored ? 7 - c : c;
      ASSERT_EQ(canvas.At(x0 + c, y0 + r), TileByte(t, tr, tc))
          << "pixel (" << x0 + c << ", " << y0 + r << ") of tile " << t;
    }
  }
}

void ExpectBlock(const Canvas& canvas, std::size_t x0, std::size_t y0, std::size_t w, std::size_t h,
                 std::uint8_t value) {
  for (std::size_t y = y0; y < y0 + h; ++y) {
    for (std::size_t x = x0; x < x0 + w; ++x) {
      ASSERT_EQ(canvas.At(x, y), value) << "pixel (" << x << ", " << y << ")";
    }
  }
}

constexpr std::uint32_t kMap16 = 0x241;  // 8-bit 256 colours, 16-bit map
constexpr std::uint32_t kMap32 = 0x441;
constexpr std::uint32_t kCells = 0xC41;

TEST(RenderTiles16, PlacesTilesFromTheTopAndIgnoresBitZero) {
  Canvas canvas(16, 16);
  // Entries: tile 1, tile 0 (bit 0 set), tile 3 (bit 0 set), tile 2.
  const auto map = Bytes().BE16(0x0002).BE16(0x0001).BE16(0x0007).BE16(0x0004).get();
  Render(canvas, kMap16, map, MakeTiles(4));
  ExpectTile(canvas, 0, 0, 1);
  ExpectTile(canvas, 8, 0, 0);
  ExpectTile(canvas, 0, 8, 3);
  ExpectTile(canvas, 8, 8, 2);
  // The top row of the picture is the last row in memory.
  EXPECT_EQ(canvas.rows[15 * 16 + 0], TileByte(1, 0, 0));
  EXPECT_EQ(canvas.rows[0], TileByte(3, 7, 0));
}

TEST(RenderTiles16, TileNumberIsTheEntryWithoutBitZero) {
  Canvas canvas(8, 8);
  Render(canvas, kMap16, Bytes().BE16(0x0123).get(), MakeTiles(146));
  ExpectBlock(canvas, 0, 0, 8, 8, 145);
  Render(canvas, kMap16, Bytes().BE16(0x0122).get(), MakeTiles(146));
  ExpectBlock(canvas, 0, 0, 8, 8, 145);
}

TEST(RenderTiles16, ClearsWhatNoTileCovers) {
  // 20 x 12: one row of two tiles; the 4 columns on the right, the 4 rows at
  // the bottom are cleared, not left as they were.
  Canvas canvas(20, 12);
  Render(canvas, kMap16, Bytes().BE16(0x0002).BE16(0x0004).get(), MakeTiles(3));
  ExpectTile(canvas, 0, 0, 1);
  ExpectTile(canvas, 8, 0, 2);
  ExpectBlock(canvas, 16, 0, 4, 12, 0);
  ExpectBlock(canvas, 0, 8, 20, 4, 0);
}

TEST(RenderTiles16, ClearsRowPaddingBeyondTheWidth) {
  Canvas canvas(18, 8);  // stride 20
  Render(canvas, kMap16, Bytes().BE16(0x0002).BE16(0x0002).get(), MakeTiles(2));
  ExpectTile(canvas, 8, 0, 1);
  for (std::size_t y = 0; y < 8; ++y) {
    EXPECT_EQ(canvas.rows[y * 20 + 16], 0);
    EXPECT_EQ(canvas.rows[y * 20 + 19], 0);
  }
}

TEST(RenderTiles16, PictureSmallerThanATileIsOnlyCleared) {
  Canvas canvas(7, 7);
  Render(canvas, kMap16, Bytes().BE16(0x0002).get(), MakeTiles(2));
  ExpectBlock(canvas, 0, 0, 8, 7, 0);
}

TEST(RenderTiles32, ReadsBigEndian32BitEntries) {
  Canvas canvas(16, 8);
  const auto map = Bytes().BE32(0x00000102).BE32(0x00000003).get();
  Render(canvas, kMap32, map, MakeTiles(130));
  ExpectBlock(canvas, 0, 0, 8, 8, 129);
  ExpectTile(canvas, 8, 0, 1);
}

TEST(RenderTiles32, HugeTileNumbersDrawNothing) {
  Canvas canvas(8, 8);
  Render(canvas, kMap32, Bytes().BE32(0xFFFFFFFE).get(), MakeTiles(4));
  ExpectBlock(canvas, 0, 0, 8, 8, 0);
}

// A 32 x 16 picture of two cells; the second cell's map row lies at byte 64.
std::vector<std::uint8_t> CellMap(std::initializer_list<std::uint16_t> firstRow,
                                  std::initializer_list<std::uint16_t> secondRow = {}) {
  std::vector<std::uint8_t> map(secondRow.size() == 0 ? 64 : 128, 0xAB);
  std::size_t at = 0;
  for (std::uint16_t entry : firstRow) {
    map[at++] = static_cast<std::uint8_t>(entry >> 8);
    map[at++] = static_cast<std::uint8_t>(entry);
  }
  at = 64;
  for (std::uint16_t entry : secondRow) {
    map[at++] = static_cast<std::uint8_t>(entry >> 8);
    map[at++] = static_cast<std::uint8_t>(entry);
  }
  return map;
}

// Tiles 8 to 11 (the second cell of four) with the patterns of tiles 0 to 3,
// so that every pixel tells which tile and which tile pixel it shows.
std::vector<std::uint8_t> CellTiles() {
  std::vector<std::uint8_t> tiles(12 * 64, 0x55);
  const auto patterns = MakeTiles(4);
  std::copy(patterns.begin(), patterns.end(), tiles.begin() + 8 * 64);
  return tiles;
}

TEST(RenderTilesCells, SelectorZeroShowsTheCellAsStored) {
  Canvas canvas(16, 16);
  Render(canvas, kCells, CellMap({0x0005}), CellTiles());  // bit 0 ignored: first tile 8
  ExpectTile(canvas, 0, 0, 0);
  ExpectTile(canvas, 8, 0, 1);
  ExpectTile(canvas, 0, 8, 2);
  ExpectTile(canvas, 8, 8, 3);
}

TEST(RenderTilesCells, SelectorOneMirrorsTheWholeCell) {
  Canvas canvas(16, 16);
  Render(canvas, kCells, CellMap({0x0405}), CellTiles());
  ExpectTile(canvas, 0, 0, 1, Look::kMirrored);
  ExpectTile(canvas, 8, 0, 0, Look::kMirrored);
  ExpectTile(canvas, 0, 8, 3, Look::kMirrored);
  ExpectTile(canvas, 8, 8, 2, Look::kMirrored);
}

TEST(RenderTilesCells, SelectorThreeFlipsTheWholeCell) {
  Canvas canvas(16, 16);
  Render(canvas, kCells, CellMap({0x0C05}), CellTiles());
  ExpectTile(canvas, 0, 0, 2, Look::kFlipped);
  ExpectTile(canvas, 8, 0, 3, Look::kFlipped);
  ExpectTile(canvas, 0, 8, 0, Look::kFlipped);
  ExpectTile(canvas, 8, 8, 1, Look::kFlipped);
}

TEST(RenderTilesCells, OtherSelectorsAndUncoveredPixelsKeepTheDestination) {
  // 40 x 20: two cells across (the second with selector 2), 8 columns and 4
  // rows outside every cell.
  Canvas canvas(40, 20);
  Render(canvas, kCells, CellMap({0x0005, 0x0805}), CellTiles());
  ExpectTile(canvas, 0, 0, 0);
  ExpectBlock(canvas, 16, 0, 16, 16, kUntouched);
  ExpectBlock(canvas, 32, 0, 8, 20, kUntouched);
  ExpectBlock(canvas, 0, 16, 40, 4, kUntouched);
}

TEST(RenderTilesCells, MapRowsLieSixtyFourBytesApart) {
  Canvas canvas(16, 32);
  Render(canvas, kCells, CellMap({0x0000}, {0x0005}), CellTiles());
  EXPECT_EQ(canvas.At(0, 0), 0x55);  // tiles 0-3 of the filler
  ExpectTile(canvas, 0, 16, 0);      // second cell row: entry at byte 64
  ExpectTile(canvas, 8, 24, 3);
}

TEST(RenderTilesCells, CellWithATileOutsideTheDataIsNotDrawn) {
  Canvas canvas(16, 16);
  std::vector<std::uint8_t> tiles = CellTiles();
  tiles.resize(11 * 64 + 63);  // tile 11 is cut short
  Render(canvas, kCells, CellMap({0x0005}), tiles);
  ExpectBlock(canvas, 0, 0, 16, 16, kUntouched);
}

// Every bit of the cell number counts: bits 1 to 9 of the entry, each alone
// and all together, with each drawing selector; bit 0 and the selector bits
// take no part. Column 0 of every row of tile t (of 2048) holds the low
// byte of t, column 1 the high byte and the row number, so each quarter
// shows which tile, and which way up, it came from.
TEST(RenderTilesCells, EveryBitOfTheCellNumberCounts) {
  constexpr std::size_t kTileCount = 2048;  // cells 0 to 511
  std::vector<std::uint8_t> tiles(kTileCount * 64);
  for (std::size_t t = 0; t < kTileCount; ++t) {
    for (std::size_t b = 0; b < 64; ++b) {
      tiles[t * 64 + b] = static_cast<std::uint8_t>(b % 2 == 0 ? t : t >> 8);
    }
    for (std::size_t r = 0; r < 8; ++r) {
      tiles[t * 64 + r * 8 + 1] = static_cast<std::uint8_t>(t >> 8 | r << 4);
    }
  }
  struct Case {
    std::uint16_t entry;
    std::size_t firstTile;
  };
  std::vector<Case> cases;
  for (unsigned bit = 1; bit <= 9; ++bit) {
    cases.push_back({static_cast<std::uint16_t>(1u << bit), std::size_t{1} << (bit - 1) << 2});
  }
  cases.push_back({0x03FF, 511 * 4});  // every bit, bit 0 too
  for (const unsigned selector : {0u, 1u, 3u}) {
    for (const Case& test : std::vector<Case>(cases)) {
      const auto entry = static_cast<std::uint16_t>(selector << 10 | test.entry);
      SCOPED_TRACE(entry);
      Canvas canvas(16, 16);
      Render(canvas, kCells, CellMap({entry}), tiles);
      // Quarters top-left, top-right, bottom-left, bottom-right.
      static constexpr std::size_t kOrder[4][4] = {
          {0, 1, 2, 3}, {1, 0, 3, 2}, {0, 0, 0, 0}, {2, 3, 0, 1}};
      for (std::size_t q = 0; q < 4; ++q) {
        const std::size_t t = test.firstTile + kOrder[selector][q];
        for (std::size_t r = 0; r < 8; ++r) {
          const std::size_t tileRow = selector == 3 ? 7 - r : r;
          const std::size_t y = q / 2 * 8 + r;
          const std::size_t x0 = q % 2 * 8;
          // Column 1 of the tile row, mirrored to column 6 under selector 1.
          const std::size_t x = x0 + (selector == 1 ? 6 : 1);
          ASSERT_EQ(canvas.At(x, y), static_cast<std::uint8_t>(t >> 8 | tileRow << 4))
              << "quarter " << q << ", row " << r;
          ASSERT_EQ(canvas.At(x0 + (selector == 1 ? 7 : 0), y), static_cast<std::uint8_t>(t))
              << "quarter " << q << ", row " << r;
        }
      }
    }
  }
}

TEST(RenderTilesLimits, EntriesPastTheEndOfTheMapAreNotRead) {
  Canvas canvas(24, 8);
  // Room for one and a half entries: only the first cell is drawn.
  Render(canvas, kMap16, {0x00, 0x02, 0x00}, MakeTiles(2));
  ExpectTile(canvas, 0, 0, 1);
  ExpectBlock(canvas, 8, 0, 16, 8, 0);

  Canvas cells(32, 16);
  Render(cells, kCells, {0x00, 0x05, 0x00}, CellTiles());
  ExpectTile(cells, 0, 0, 0);
  ExpectBlock(cells, 16, 0, 16, 16, kUntouched);
}

TEST(RenderTilesLimits, WideCellPictureWithAShortMapDrawsEveryEntryInside) {
  // 1024 x 32: 64 cells a row, so map row 0 reads bytes 0 to 127 and map row
  // 1 bytes 64 to 191. A 100-byte map ends inside row 0's entries, yet the
  // first 18 entries of row 1 lie inside it.
  Canvas canvas(1024, 32);
  std::vector<std::uint8_t> map(100);
  for (std::size_t b = 0; b < map.size(); b += 2) {
    map[b + 1] = 0x02;  // cell 1: tiles 4 to 7, as stored
  }
  std::vector<std::uint8_t> tiles = MakeTiles(8);
  Render(canvas, kCells, map, tiles);
  ExpectTile(canvas, 49 * 16, 0, 4);
  ExpectBlock(canvas, 50 * 16, 0, 16, 16, kUntouched);
  ExpectTile(canvas, 17 * 16 + 8, 16, 5);
  ExpectBlock(canvas, 18 * 16, 16, 16, 16, kUntouched);
}

TEST(RenderTilesLimits, TileOutsideTheDataLeavesItsCellBlank) {
  Canvas canvas(16, 8);
  Render(canvas, kMap16, Bytes().BE16(0x0004).BE16(0x0002).get(), MakeTiles(2));
  ExpectBlock(canvas, 0, 0, 8, 8, 0);
  ExpectTile(canvas, 8, 0, 1);
}

TEST(RenderTilesLimits, OnlyDepthCodeTwoAndKnownLayoutsAreDrawn) {
  const auto map = Bytes().BE16(0x0002).get();
  for (std::uint32_t flags : {0x201u, 0x221u, 0x261u, 0x041u, 0x641u, 0xE41u, 0x841u}) {
    Canvas canvas(8, 8);
    Render(canvas, flags, map, MakeTiles(2));
    ExpectBlock(canvas, 0, 0, 8, 8, kUntouched);
  }
}

TEST(RenderTilesLimits, DestinationTooSmallForThePictureIsLeftAlone) {
  std::vector<std::uint8_t> rows(8 * 8 - 1, kUntouched);
  TCGVwImage image{};
  image.Flags = kMap16;
  image.Width = 8;
  image.Height = 8;
  const auto tiles = MakeTiles(2);
  const auto map = Bytes().BE16(0x0002).get();
  CGVwRenderTiles(rows, map, tiles, &image);
  for (std::uint8_t byte : rows) {
    ASSERT_EQ(byte, kUntouched);
  }
}

// The renderer as its rules read, one pixel at a time: clear (layouts 0x200
// and 0x400), then draw every entry inside the map whose tiles lie inside
// the tile data. The renderer draws whole tiles and cells with block copies;
// it must give the same bytes for any input.
std::vector<std::uint8_t> ModelRender(std::vector<std::uint8_t> dest, std::uint32_t flags,
                                      std::size_t w, std::size_t h,
                                      const std::vector<std::uint8_t>& map,
                                      const std::vector<std::uint8_t>& tiles) {
  const std::size_t stride = (w + 3) & ~std::size_t{3};
  if ((flags & 0xE0) != 0x40 || h * stride == 0 || dest.size() < h * stride) {
    return dest;
  }
  const std::size_t tileCount = tiles.size() / 64;
  auto pixel = [&](std::size_t x, std::size_t y) -> std::uint8_t& {
    return dest[(h - 1 - y) * stride + x];
  };
  const std::uint32_t layout = flags & 0xE00;
  if (layout == 0x200 || layout == 0x400) {
    const std::size_t entryBytes = layout == 0x200 ? 2 : 4;
    std::fill(dest.begin(), dest.begin() + static_cast<std::ptrdiff_t>(h * stride), 0);
    for (std::size_t i = 0; i < h / 8; ++i) {
      for (std::size_t j = 0; j < w / 8; ++j) {
        const std::size_t at = (i * (w / 8) + j) * entryBytes;
        if (at + entryBytes > map.size()) {
          continue;
        }
        std::uint64_t value = 0;
        for (std::size_t b = 0; b < entryBytes; ++b) {
          value = value << 8 | map[at + b];
        }
        const std::uint64_t t = value >> 1;
        if (t >= tileCount) {
          continue;
        }
        for (std::size_t r = 0; r < 8; ++r) {
          for (std::size_t c = 0; c < 8; ++c) {
            pixel(j * 8 + c, i * 8 + r) = tiles[t * 64 + r * 8 + c];
          }
        }
      }
    }
  } else if (layout == 0xC00) {
    static constexpr std::size_t kOrder[4][4] = {
        {0, 1, 2, 3}, {1, 0, 3, 2}, {0, 0, 0, 0}, {2, 3, 0, 1}};
    for (std::size_t i = 0; i < h / 16; ++i) {
      for (std::size_t j = 0; j < w / 16; ++j) {
        const std::size_t at = i * 64 + j * 2;
        if (at + 2 > map.size()) {
          continue;
        }
        const unsigned entry = static_cast<unsigned>(map[at] << 8 | map[at + 1]);
        const std::size_t k = ((entry & 0x3FF) >> 1) * 4;
        const unsigned selector = entry >> 10;
        if (k + 3 >= tileCount || (selector != 0 && selector != 1 && selector != 3)) {
          continue;
        }
        for (std::size_t q = 0; q < 4; ++q) {
          const std::size_t t = k + kOrder[selector][q];
          for (std::size_t r = 0; r < 8; ++r) {
            for (std::size_t c = 0; c < 8; ++c) {
              const std::size_t tr = selector == 3 ? 7 - r : r;
              const std::size_t tc = selector == 1 ? 7 - c : c;
              pixel(j * 16 + (q % 2) * 8 + c, i * 16 + (q / 2) * 8 + r) =
                  tiles[t * 64 + tr * 8 + tc];
            }
          }
        }
      }
    }
  }
  return dest;
}

TEST(RenderTilesModel, MatchesThePixelByPixelRulesOnRandomInputs) {
  std::mt19937 random(20240601);
  auto below = [&random](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  const std::uint32_t layouts[] = {0x241, 0x441, 0xC41, 0x221, 0x641};
  for (int round = 0; round < 3000; ++round) {
    const std::uint32_t flags = layouts[below(std::size(layouts))];
    // Mostly small pictures of any size; some wider than 512 pixels, where
    // 0xC00 columns from 32 on read the next map row's bytes.
    const std::size_t w = below(8) == 0 ? 500 + below(60) : below(72);
    const std::size_t h = below(40);
    const std::size_t stride = (w + 3) & ~std::size_t{3};
    const std::size_t entryBytes = (flags & 0xE00) == 0x400 ? 4 : 2;
    const std::size_t needed =
        (flags & 0xE00) == 0xC00 ? (h / 16) * 64 + (w / 16) * 2 : (w / 8) * (h / 8) * entryBytes;
    // The map is sometimes short; tile numbers sometimes point past the data.
    std::vector<std::uint8_t> map(below(4) == 0 ? below(needed + 1) : needed);
    // Now and then more tile data than a cache holds, which the renderer
    // reads differently (asking for tiles ahead).
    const bool large = below(32) == 0;
    const std::size_t tileCount = large ? 4096 + below(64) : below(48);
    for (std::size_t b = 0; b < map.size(); ++b) {
      map[b] = static_cast<std::uint8_t>(
          b % entryBytes == entryBytes - 1 || below(3) != 0 ? below(256) : below(2));
    }
    if ((flags & 0xE00) == 0xC00) {
      // Selectors 0, 1 and 3 mostly, any other now and then; small cell numbers.
      static constexpr unsigned kSelectors[] = {0, 1, 3, 0, 1, 3, 2, 5, 63};
      for (std::size_t b = 0; b + 1 < map.size(); b += 2) {
        const unsigned entry = kSelectors[below(std::size(kSelectors))] << 10 |
                               static_cast<unsigned>(below(16) << 1 | below(2));
        map[b] = static_cast<std::uint8_t>(entry >> 8);
        map[b + 1] = static_cast<std::uint8_t>(entry);
      }
    }
    std::vector<std::uint8_t> tiles(tileCount * 64 + below(64));
    const std::size_t salt = below(256);
    for (std::size_t b = 0; b < tiles.size(); ++b) {
      tiles[b] = static_cast<std::uint8_t>(large ? b * 131 + salt : below(256));
    }
    // The destination holds bytes of its own, sometimes more than the picture.
    std::vector<std::uint8_t> dest(h * stride + (below(4) == 0 ? below(40) : 0));
    for (auto& byte : dest) {
      byte = static_cast<std::uint8_t>(below(256));
    }
    const std::vector<std::uint8_t> expected = ModelRender(dest, flags, w, h, map, tiles);
    TCGVwImage image{};
    image.Flags = flags;
    image.Width = static_cast<std::uint16_t>(w);
    image.Height = static_cast<std::uint16_t>(h);
    CGVwRenderTiles(dest, map, tiles, &image);
    ASSERT_EQ(dest, expected) << "round " << round << ": flags 0x" << std::hex << flags << std::dec
                              << ", " << w << " x " << h << ", map " << map.size() << " bytes, "
                              << tiles.size() << " tile bytes";
  }
}

}  // namespace
