// The layout of a DIB block (a 40-byte BITMAPINFOHEADER, the colour table,
// then bottom-up pixel rows) and the two small tables that say what the
// Depth and MapLayout bits of a descriptor mean. Every row stride, colour
// table size and map geometry of the library comes from here, so the
// header, the decoders, the renderer and the BMP writer agree on them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "cgvw/bytes.h"

namespace cgvw {

inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kFileHeaderSize = 14;

// One Depth code (Flags AND 0xE0).
struct DepthInfo {
  std::uint32_t code;            // the masked value: 0x00, 0x20, 0x40 or 0x60
  std::uint16_t bitCount;        // bits per pixel of the DIB
  std::uint32_t paletteColours;  // colour words read for the palette; 0: direct colour
  std::uint32_t tableEntries;    // RGBQUAD entries in the block, whatever the palette holds
  bool zeroFilledPlain;          // a plain picture's block starts zero-filled (GHND)

  constexpr std::uint32_t PixelOffset() const { return kInfoHeaderSize + 4 * tableEntries; }
};

inline constexpr DepthInfo kDepths[] = {
    {0x00, 4, 16, 16, true},     // 16 colours, two pixels a byte
    {0x20, 8, 128, 256, false},  // 128 colours in a 256-entry table
    {0x40, 8, 256, 256, false},  // 256 colours
    {0x60, 24, 0, 0, false},     // 15-bit colour words, produced as 24-bit pixels
};

// Where the rows of every 8-bit picture begin: after the header and a
// 256-entry colour table.
inline constexpr std::uint32_t kPixelOffset8Bit = kDepths[2].PixelOffset();
static_assert(kPixelOffset8Bit == 1064);

// The row of a descriptor's Depth code; null for codes 4 to 7, which no
// decoder takes.
constexpr const DepthInfo* DepthOf(std::uint32_t flags) {
  const std::uint32_t index = (flags & 0xE0u) >> 5;
  return index < sizeof kDepths / sizeof kDepths[0] ? &kDepths[index] : nullptr;
}

// The row of a DIB bit count (4, 8 or 24); null for any other.
constexpr const DepthInfo* DepthOfBitCount(std::uint16_t bitCount) {
  for (const DepthInfo& depth : kDepths) {
    if (depth.bitCount == bitCount) {
      return &depth;
    }
  }
  return nullptr;
}

// Bytes of one DIB row of `width` pixels of `bitCount` bits, padded to a
// multiple of 4 bytes (the standard DIB row).
constexpr std::uint32_t RowStride(std::uint16_t bitCount, std::uint16_t width) {
  return (std::uint32_t{bitCount} * width + 31u) / 32u * 4u;
}
constexpr std::uint32_t RowStride8(std::uint16_t width) {
  return RowStride(8, width);
}
// Width rounded up to a multiple of 4 pixels: the 8-bit row stride.
constexpr std::uint32_t PaddedWidth(std::uint16_t width) {
  return RowStride8(width);
}

struct TDibLayout {
  std::uint16_t bitCount;       // 4, 8 or 24
  std::uint32_t colourEntries;  // 16, 256 or 0
  std::uint32_t pixelOffset;    // 104, 1064 or 40
  std::uint32_t rowStride;      // bytes
  std::uint64_t imageSize;      // Height x rowStride
  std::uint64_t blockSize;      // pixelOffset + imageSize
};

// The layout for the Depth bits of Flags; nullopt for Depth codes 4 to 7.
constexpr std::optional<TDibLayout> DibLayoutFor(std::uint32_t flags, std::uint16_t width,
                                                 std::uint16_t height) {
  const DepthInfo* depth = DepthOf(flags);
  if (depth == nullptr) {
    return std::nullopt;
  }
  const std::uint32_t stride = RowStride(depth->bitCount, width);
  const std::uint64_t imageSize = std::uint64_t{height} * stride;
  return TDibLayout{depth->bitCount, depth->tableEntries, depth->PixelOffset(),
                    stride,          imageSize,           depth->PixelOffset() + imageSize};
}

// True when a BMP file of the layout has a size that its 32-bit header
// fields can state (only very large 24-bit pictures do not).
constexpr bool FitsBmpFile(const TDibLayout& layout) {
  return kFileHeaderSize + layout.blockSize <= 0xFFFFFFFFu;
}

// bfOffBits for a bit count: 118, 1078 or 54; 0 for any other bit count.
constexpr std::uint32_t PixelFileOffset(std::uint16_t bitCount) {
  const DepthInfo* depth = DepthOfBitCount(bitCount);
  return depth == nullptr ? 0 : kFileHeaderSize + depth->PixelOffset();
}

// The fields of a block's BITMAPINFOHEADER that say what the block holds.
struct InfoHeaderFields {
  std::int32_t width;       // biWidth
  std::int32_t height;      // biHeight (positive: rows bottom-up)
  std::uint16_t bitCount;   // biBitCount
  std::uint32_t imageSize;  // biSizeImage
};

// The header fields of a block; nullopt for a block shorter than a header.
constexpr std::optional<InfoHeaderFields> ReadInfoHeader(std::span<const std::uint8_t> block) {
  if (block.size() < kInfoHeaderSize) {
    return std::nullopt;
  }
  return InfoHeaderFields{static_cast<std::int32_t>(LoadLE32(block.data() + 4)),
                          static_cast<std::int32_t>(LoadLE32(block.data() + 8)),
                          LoadLE16(block.data() + 14), LoadLE32(block.data() + 20)};
}

// One MapLayout (Flags AND 0xE00) of a tiled picture. Entries are
// big-endian in every layout.
struct MapLayoutInfo {
  std::uint32_t mask;        // 0x200, 0x400 or 0xC00
  std::uint32_t entryBytes;  // 2 or 4
  std::uint32_t side;  // pixels one entry covers across and down: an 8 x 8 tile or a 16 x 16 cell
  std::uint32_t rowBytes;   // bytes between map rows; 0: rows packed, Width / side entries each
  bool generated;           // a map is generated when the chunk names no file
  std::uint32_t firstTile;  // the tile a generated map's first entry shows
  // The renderer writes every byte of the rows, padding included (it clears
  // what no tile covers), so that the rows need not be cleared before.
  bool drawsEveryByte;
};

inline constexpr MapLayoutInfo kMapLayouts[] = {
    {0x200, 2, 8, 0, true, 1, true},      // 16-bit entries, tile = entry >> 1
    {0x400, 4, 8, 0, true, 0, true},      // 32-bit entries, tile = entry >> 1
    {0xC00, 2, 16, 64, false, 0, false},  // 16 x 16 cells, selector in bits 10-15
};

// The row of a descriptor's MapLayout; null for the values nothing draws.
constexpr const MapLayoutInfo* MapLayoutOf(std::uint32_t flags) {
  for (const MapLayoutInfo& layout : kMapLayouts) {
    if ((flags & 0xE00u) == layout.mask) {
      return &layout;
    }
  }
  return nullptr;
}

}  // namespace cgvw
