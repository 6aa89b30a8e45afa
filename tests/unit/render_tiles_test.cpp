// The tile-map renderer: placement of tiles and cells, the three map layouts,
// selectors, bottom-up rows, and maps or tiles that do not hold what the
// picture asks for.
#include <gtest/gtest.h>

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

}  // namespace
