// The layout of a DIB block: header, colour table and bottom-up pixel rows.
// Every row stride of the layer comes from here, so the header, the decoders
// and the BMP writer agree on it.
#pragma once

#include <cstdint>
#include <optional>

namespace cgvw {

inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kFileHeaderSize = 14;

// Width rounded up to a multiple of 4 pixels.
constexpr std::uint32_t PaddedWidth(std::uint16_t width) {
  return (width + 3u) & ~3u;
}

// Row sizes in bytes, padded to a multiple of 4 bytes (the standard DIB row).
constexpr std::uint32_t RowStride4(std::uint16_t width) {
  return (width + 7u) / 8u * 4u;
}
constexpr std::uint32_t RowStride8(std::uint16_t width) {
  return PaddedWidth(width);
}
constexpr std::uint32_t RowStride24(std::uint16_t width) {
  return (3u * width + 3u) & ~3u;
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
std::optional<TDibLayout> DibLayoutFor(std::uint32_t flags, std::uint16_t width,
                                       std::uint16_t height);

// True when a BMP file of the layout has a size that its 32-bit header
// fields can state (only very large 24-bit pictures do not).
bool FitsBmpFile(const TDibLayout& layout);

// bfOffBits for a bit count: 118, 1078 or 54; 0 for any other bit count.
std::uint32_t PixelFileOffset(std::uint16_t bitCount);

}  // namespace cgvw
