// The tile-map renderer: draws 8 x 8 tiles (or 16 x 16 cells of four tiles)
// into the bottom-up 8-bit pixel rows of a DIB, as the tile map says.
//
// Every entry is read only if it lies inside the map, and a tile is drawn only
// if it lies wholly inside the tile data; a cell that fails either test is
// not drawn. Rows are written one picture row at a time, left to right.
#include <cstring>

#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/dib_layout.h"

namespace {

constexpr std::size_t kTileBytes = 64;
constexpr std::size_t kTileSide = 8;
constexpr std::size_t kCellSide = 16;
constexpr std::size_t kCellMapRowBytes = 64;  // 0xC00 map rows lie 64 bytes apart

// The pixel rows of the picture, addressed from the top.
class PixelRows {
 public:
  PixelRows(std::uint8_t* dest, std::size_t stride, std::size_t height)
      : dest_(dest), stride_(stride), height_(height) {}
  std::uint8_t* Row(std::size_t y) const { return dest_ + (height_ - 1 - y) * stride_; }

 private:
  std::uint8_t* dest_;
  std::size_t stride_;
  std::size_t height_;
};

// Tile t, or null when it does not lie wholly inside the tile data.
const std::uint8_t* TileAt(std::span<const std::uint8_t> tiles, std::uint64_t t) {
  if (t >= tiles.size() / kTileBytes) {
    return nullptr;
  }
  return tiles.data() + t * kTileBytes;
}

// Map layouts 0x200 and 0x400: one big-endian entry of EntryBytes per 8 x 8
// tile, Width / 8 entries per map row; the tile number is the entry without
// its bit 0.
template <std::size_t EntryBytes>
const std::uint8_t* TileOfEntry(std::span<const std::uint8_t> map,
                                std::span<const std::uint8_t> tiles, std::size_t index) {
  const std::uint64_t offset = std::uint64_t{index} * EntryBytes;
  if (offset + EntryBytes > map.size()) {
    return nullptr;
  }
  const std::uint8_t* entry = map.data() + offset;
  const std::uint32_t value = EntryBytes == 2 ? cgvw::LoadBE16(entry) : cgvw::LoadBE32(entry);
  return TileAt(tiles, value >> 1);
}

template <std::size_t EntryBytes>
void DrawTileMap(const PixelRows& rows, std::size_t width, std::size_t height,
                 std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles) {
  const std::size_t columns = width / kTileSide;
  const std::size_t mapRows = height / kTileSide;
  for (std::size_t i = 0; i < mapRows; ++i) {
    for (std::size_t r = 0; r < kTileSide; ++r) {
      std::uint8_t* row = rows.Row(i * kTileSide + r);
      for (std::size_t j = 0; j < columns; ++j) {
        if (const std::uint8_t* tile = TileOfEntry<EntryBytes>(map, tiles, i * columns + j)) {
          std::memcpy(row + j * kTileSide, tile + r * kTileSide, kTileSide);
        }
      }
    }
  }
}

// Map layout 0xC00: a 16 x 16 cell per entry. Bits 1-9 give the first of four
// consecutive tiles (in units of four tiles), bits 10-15 the selector.
struct Cell {
  const std::uint8_t* quarters[4];  // top-left, top-right, bottom-left, bottom-right
  unsigned selector;
};

constexpr unsigned kSelectorAsStored = 0;
constexpr unsigned kSelectorMirrored = 1;
constexpr unsigned kSelectorFlipped = 3;

// The cell at (i, j), or false when it is not drawn: its entry lies past the
// map, a tile lies outside the tile data, or the selector draws nothing.
bool CellAt(std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles, std::size_t i,
            std::size_t j, Cell* cell) {
  const std::size_t offset = i * kCellMapRowBytes + j * 2;
  if (offset + 2 > map.size()) {
    return false;
  }
  const std::uint16_t entry = cgvw::LoadBE16(map.data() + offset);
  const std::uint64_t first = std::uint64_t{(entry & 0x3FFu) >> 1} * 4;
  cell->selector = entry >> 10;
  if (TileAt(tiles, first + 3) == nullptr) {
    return false;
  }
  // Which of the four tiles fills each quarter.
  static constexpr unsigned kOrder[4][4] = {
      {0, 1, 2, 3},  // as stored
      {1, 0, 3, 2},  // mirrored left to right
      {0, 0, 0, 0},  // unused
      {2, 3, 0, 1},  // flipped top to bottom
  };
  if (cell->selector != kSelectorAsStored && cell->selector != kSelectorMirrored &&
      cell->selector != kSelectorFlipped) {
    return false;
  }
  for (int q = 0; q < 4; ++q) {
    cell->quarters[q] = tiles.data() + (first + kOrder[cell->selector][q]) * kTileBytes;
  }
  return true;
}

// Writes row r (0 = top) of one 8-pixel quarter of a cell.
void DrawQuarterRow(std::uint8_t* out, const std::uint8_t* tile, std::size_t r, unsigned selector) {
  if (selector == kSelectorMirrored) {
    const std::uint8_t* in = tile + r * kTileSide;
    for (std::size_t x = 0; x < kTileSide; ++x) {
      out[x] = in[kTileSide - 1 - x];
    }
  } else if (selector == kSelectorFlipped) {
    std::memcpy(out, tile + (kTileSide - 1 - r) * kTileSide, kTileSide);
  } else {
    std::memcpy(out, tile + r * kTileSide, kTileSide);
  }
}

void DrawCellMap(const PixelRows& rows, std::size_t width, std::size_t height,
                 std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles) {
  const std::size_t columns = width / kCellSide;
  const std::size_t cellRows = height / kCellSide;
  for (std::size_t i = 0; i < cellRows; ++i) {
    for (std::size_t y = 0; y < kCellSide; ++y) {
      std::uint8_t* row = rows.Row(i * kCellSide + y);
      const int half = y < kTileSide ? 0 : 2;  // top or bottom quarters
      const std::size_t r = y % kTileSide;
      for (std::size_t j = 0; j < columns; ++j) {
        Cell cell{};
        if (!CellAt(map, tiles, i, j, &cell)) {
          continue;
        }
        std::uint8_t* out = row + j * kCellSide;
        DrawQuarterRow(out, cell.quarters[half], r, cell.selector);
        DrawQuarterRow(out + kTileSide, cell.quarters[half + 1], r, cell.selector);
      }
    }
  }
}

}  // namespace

void CGVwRenderTiles(std::span<std::uint8_t> dest, std::span<const std::uint8_t> map,
                     std::span<const std::uint8_t> tiles, const TCGVwImage* image) {
  // Only 8-bit pictures with 256 colours are drawn.
  if (image == nullptr || (image->Flags & cgvw_flags::kDepthMask) != cgvw_flags::kDepth8Bit256) {
    return;
  }
  const std::size_t width = image->Width;
  const std::size_t height = image->Height;
  const std::size_t stride = cgvw::RowStride8(image->Width);
  if (height * stride == 0 || dest.size() < height * stride) {
    return;  // nothing to draw, or a destination that cannot hold the picture
  }
  const PixelRows rows(dest.data(), stride, height);
  switch (image->Flags & cgvw_flags::kMapLayoutMask) {
    case cgvw_flags::kMap16:
      std::memset(dest.data(), 0, height * stride);
      DrawTileMap<2>(rows, width, height, map, tiles);
      break;
    case cgvw_flags::kMap32:
      std::memset(dest.data(), 0, height * stride);
      DrawTileMap<4>(rows, width, height, map, tiles);
      break;
    case cgvw_flags::kMapCells:
      // Pixels that no cell writes keep what the destination held.
      DrawCellMap(rows, width, height, map, tiles);
      break;
    default:
      break;  // no other layout is drawn
  }
}
