#include "cgvw/dib_layout.h"

#include "catalog/descriptors.h"

namespace cgvw {

std::optional<TDibLayout> DibLayoutFor(std::uint32_t flags, std::uint16_t width,
                                       std::uint16_t height) {
  TDibLayout layout{};
  switch (flags & cgvw_flags::kDepthMask) {
    case cgvw_flags::kDepth4Bit:
      layout = {4, 16, kInfoHeaderSize + 16 * 4, RowStride4(width), 0, 0};
      break;
    case cgvw_flags::kDepth8Bit128:
    case cgvw_flags::kDepth8Bit256:
      layout = {8, 256, kInfoHeaderSize + 256 * 4, RowStride8(width), 0, 0};
      break;
    case cgvw_flags::kDepth15Bit:
      layout = {24, 0, kInfoHeaderSize, RowStride24(width), 0, 0};
      break;
    default:
      return std::nullopt;
  }
  layout.imageSize = std::uint64_t{height} * layout.rowStride;
  layout.blockSize = layout.pixelOffset + layout.imageSize;
  return layout;
}

bool FitsBmpFile(const TDibLayout& layout) {
  return kFileHeaderSize + layout.blockSize <= 0xFFFFFFFFu;
}

std::uint32_t PixelFileOffset(std::uint16_t bitCount) {
  switch (bitCount) {
    case 4:
      return kFileHeaderSize + kInfoHeaderSize + 16 * 4;
    case 8:
      return kFileHeaderSize + kInfoHeaderSize + 256 * 4;
    case 24:
      return kFileHeaderSize + kInfoHeaderSize;
    default:
      return 0;
  }
}

}  // namespace cgvw
