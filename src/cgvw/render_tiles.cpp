// The tile-map renderer: draws 8 x 8 tiles (or 16 x 16 cells of four tiles)
// into the bottom-up 8-bit pixel rows of a DIB, as the tile map says.
//
// Every entry is read only if it lies inside the map, and a tile is drawn only
// if it lies wholly inside the tile data; a cell that fails either test is
// not drawn. Each map entry is decoded once and its whole tile (or cell) is
// drawn at once, one 8-byte tile row at a time.
#include <algorithm>
#include <cstring>

#include <iterator>

#include "cgvw/bytes.h"
#include "cgvw/core.h"

namespace cgvw::core {
namespace {

constexpr std::size_t kTileBytes = 64;
constexpr std::size_t kTileSide = kMapLayouts[0].side;
constexpr std::size_t kCellSide = kMapLayouts[2].side;
constexpr std::size_t kCellMapRowBytes =
    kMapLayouts[2].rowBytes;  // 0xC00 map rows lie 64 bytes apart

// The pixel rows of the picture, addressed from the top. Row y + 1 lies one
// stride below row y in memory.
class PixelRows {
 public:
  PixelRows(std::uint8_t* dest, std::size_t stride, std::size_t height)
      : dest_(dest), stride_(stride), height_(height) {}
  std::uint8_t* Row(std::size_t y) const { return dest_ + (height_ - 1 - y) * stride_; }
  std::size_t stride() const { return stride_; }

 private:
  std::uint8_t* dest_;
  std::size_t stride_;
  std::size_t height_;
};

// One 8-pixel tile row, as stored or mirrored left to right. A mirrored row
// is the stored row with its eight bytes in reverse order.
std::uint64_t LoadTileRow(const std::uint8_t* in) {
  std::uint64_t row;
  std::memcpy(&row, in, sizeof row);
  return row;
}
void StoreTileRow(std::uint8_t* out, std::uint64_t row) {
  std::memcpy(out, &row, sizeof row);
}
std::uint64_t ReverseBytes(std::uint64_t v) {
  v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
  v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
  return (v << 32) | (v >> 32);
}

// Draws one tile with its top-left pixel at `out` (a byte of picture row y,
// so row y + r is r strides lower).
void DrawTile(std::uint8_t* out, std::size_t stride, const std::uint8_t* tile) {
  for (std::size_t r = 0; r < kTileSide; ++r) {
    std::memcpy(out - r * stride, tile + r * kTileSide, kTileSide);
  }
}
void ClearTile(std::uint8_t* out, std::size_t stride) {
  for (std::size_t r = 0; r < kTileSide; ++r) {
    std::memset(out - r * stride, 0, kTileSide);
  }
}

// Asks for the cache line at `p` ahead of its use; a hint only.
inline void PrefetchForRead(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// How many entries ahead the tile of an entry is asked for: the tiles of a
// map may lie anywhere in the tile data, and fetching one from memory takes
// as long as drawing a dozen tiles already at hand.
constexpr std::size_t kPrefetchEntries = 16;
// Tile data up to this size stays in the cache once read (a catalogue
// background has 41,536 bytes), so its tiles are not asked for ahead.
constexpr std::size_t kCachedTileBytes = 256 * 1024;

template <std::size_t EntryBytes>
std::uint32_t LoadEntry(const std::uint8_t* entry) {
  return EntryBytes == 2 ? LoadBE16(entry) : LoadBE32(entry);
}

// Map layouts 0x200 and 0x400: one big-endian entry of EntryBytes per 8 x 8
// tile, Width / 8 entries per map row; the tile number is the entry without
// its bit 0. The result equals clearing every row and then drawing each tile
// whose entry lies in the map and whose tile lies in the tile data: each byte
// is written once, by its tile or by the clearing of what no tile covers.
template <std::size_t EntryBytes, bool FetchAhead>
void DrawTileRows(const PixelRows& rows, std::size_t width, std::size_t height,
                  std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles) {
  const std::size_t stride = rows.stride();
  const std::size_t columns = width / kTileSide;
  const std::size_t mapRows = height / kTileSide;
  const std::size_t drawnWidth = columns * kTileSide;
  const std::size_t drawnHeight = mapRows * kTileSide;
  const std::size_t tileCount = tiles.size() / kTileBytes;

  // What no tile covers: the columns right of the last whole tile (with the
  // row padding) and the rows below the last whole map row.
  for (std::size_t y = 0; y < drawnHeight && drawnWidth < stride; ++y) {
    std::memset(rows.Row(y) + drawnWidth, 0, stride - drawnWidth);
  }
  for (std::size_t y = drawnHeight; y < height; ++y) {
    std::memset(rows.Row(y), 0, stride);
  }

  const std::size_t mapEntries = map.size() / EntryBytes;
  // Entries that are both read and inside the map; rows follow each other
  // in the map, so the tile of an entry is fetched ahead across row ends.
  const std::size_t lastEntry = std::min(mapEntries, mapRows * columns);
  for (std::size_t i = 0; i < mapRows; ++i) {
    std::uint8_t* top = rows.Row(i * kTileSide);
    const std::size_t first = i * columns;
    // Entries of this map row that lie inside the map.
    const std::size_t inMap = first >= mapEntries ? 0 : std::min(columns, mapEntries - first);
    const std::uint8_t* entry = map.data() + (inMap == 0 ? 0 : first * EntryBytes);
    std::size_t j = 0;
    for (; j < inMap; ++j, entry += EntryBytes) {
      if (FetchAhead && first + j + kPrefetchEntries < lastEntry) {
        const std::size_t ahead = LoadEntry<EntryBytes>(entry + kPrefetchEntries * EntryBytes) >> 1;
        if (ahead < tileCount) {
          // A tile may straddle two cache lines.
          PrefetchForRead(tiles.data() + ahead * kTileBytes);
          PrefetchForRead(tiles.data() + ahead * kTileBytes + kTileBytes - 1);
        }
      }
      const std::size_t t = LoadEntry<EntryBytes>(entry) >> 1;
      if (t < tileCount) {
        DrawTile(top + j * kTileSide, stride, tiles.data() + t * kTileBytes);
      } else {
        ClearTile(top + j * kTileSide, stride);
      }
    }
    for (; j < columns; ++j) {
      ClearTile(top + j * kTileSide, stride);
    }
  }
}

template <std::size_t EntryBytes>
void DrawTileMap(const PixelRows& rows, std::size_t width, std::size_t height,
                 std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles) {
  if (tiles.size() <= kCachedTileBytes) {
    DrawTileRows<EntryBytes, false>(rows, width, height, map, tiles);
  } else {
    DrawTileRows<EntryBytes, true>(rows, width, height, map, tiles);
  }
}

// Map layout 0xC00: a 16 x 16 cell per entry. Bits 1-9 give the first of four
// consecutive tiles (in units of four tiles), bits 10-15 the selector.
constexpr unsigned kSelectorAsStored = 0;
constexpr unsigned kSelectorMirrored = 1;
constexpr unsigned kSelectorFlipped = 3;

// Draws the four tiles from `first` as one cell with its top-left pixel at
// `out`, by the selector (0, 1 or 3).
void DrawCell(std::uint8_t* out, std::size_t stride, const std::uint8_t* first, unsigned selector) {
  const std::uint8_t* tile[4] = {first, first + kTileBytes, first + 2 * kTileBytes,
                                 first + 3 * kTileBytes};
  switch (selector) {
    case kSelectorAsStored:
      for (std::size_t y = 0; y < kCellSide; ++y) {
        const std::size_t half = y < kTileSide ? 0 : 2;
        const std::size_t r = y % kTileSide;
        std::uint8_t* row = out - y * stride;
        std::memcpy(row, tile[half] + r * kTileSide, kTileSide);
        std::memcpy(row + kTileSide, tile[half + 1] + r * kTileSide, kTileSide);
      }
      break;
    case kSelectorMirrored:  // tiles 1, 0 / 3, 2, each row reversed
      for (std::size_t y = 0; y < kCellSide; ++y) {
        const std::size_t half = y < kTileSide ? 0 : 2;
        const std::size_t r = y % kTileSide;
        std::uint8_t* row = out - y * stride;
        StoreTileRow(row, ReverseBytes(LoadTileRow(tile[half + 1] + r * kTileSide)));
        StoreTileRow(row + kTileSide, ReverseBytes(LoadTileRow(tile[half] + r * kTileSide)));
      }
      break;
    case kSelectorFlipped:  // tiles 2, 3 / 0, 1, each upside down
      for (std::size_t y = 0; y < kCellSide; ++y) {
        const std::size_t half = y < kTileSide ? 2 : 0;
        const std::size_t r = kTileSide - 1 - y % kTileSide;
        std::uint8_t* row = out - y * stride;
        std::memcpy(row, tile[half] + r * kTileSide, kTileSide);
        std::memcpy(row + kTileSide, tile[half + 1] + r * kTileSide, kTileSide);
      }
      break;
    default:
      break;  // the other selectors draw nothing
  }
}

void DrawCellMap(const PixelRows& rows, std::size_t width, std::size_t height,
                 std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles) {
  const std::size_t stride = rows.stride();
  const std::size_t columns = width / kCellSide;
  const std::size_t cellRows = height / kCellSide;
  const std::size_t tileCount = tiles.size() / kTileBytes;
  for (std::size_t i = 0; i < cellRows; ++i) {
    std::uint8_t* top = rows.Row(i * kCellSide);
    for (std::size_t j = 0; j < columns; ++j) {
      const std::size_t offset = i * kCellMapRowBytes + j * 2;
      if (offset + 2 > map.size()) {
        break;  // so do the rest of this map row's entries
      }
      const std::uint16_t entry = LoadBE16(map.data() + offset);
      const std::size_t first = std::size_t{(entry & 0x3FFu) >> 1} * 4;
      if (first + 3 >= tileCount) {
        continue;  // a tile of the cell lies outside the tile data
      }
      DrawCell(top + j * kCellSide, stride, tiles.data() + first * kTileBytes, entry >> 10);
    }
  }
}

// The drawing of each map layout, in the order of kMapLayouts.
using DrawMap = void (*)(const PixelRows&, std::size_t, std::size_t, std::span<const std::uint8_t>,
                         std::span<const std::uint8_t>);
constexpr DrawMap kDrawMap[] = {DrawTileMap<2>, DrawTileMap<4>, DrawCellMap};
static_assert(std::size(kDrawMap) == std::size(kMapLayouts));
// The tile maps clear what no tile covers; the cell map leaves it as it was.
static_assert(kMapLayouts[0].drawsEveryByte && kMapLayouts[1].drawsEveryByte &&
              !kMapLayouts[2].drawsEveryByte);

}  // namespace

void RenderTiles(std::span<std::uint8_t> dest, std::span<const std::uint8_t> map,
                 std::span<const std::uint8_t> tiles, const TCGVwImage& image) {
  // Only 8-bit pictures with 256 colours are drawn, and only in a layout
  // that has a drawing.
  const MapLayoutInfo* layout = MapLayoutOf(image.Flags);
  if ((image.Flags & cgvw_flags::kDepthMask) != cgvw_flags::kDepth8Bit256 || layout == nullptr) {
    return;
  }
  const std::size_t width = image.Width;
  const std::size_t height = image.Height;
  const std::size_t stride = RowStride8(image.Width);
  if (height * stride == 0 || dest.size() < height * stride) {
    return;  // nothing to draw, or a destination that cannot hold the picture
  }
  // 0x200 and 0x400 clear what no tile covers; under 0xC00 pixels that no
  // cell writes keep what the destination held.
  kDrawMap[layout - kMapLayouts](PixelRows(dest.data(), stride, height), width, height, map, tiles);
}

}  // namespace cgvw::core
