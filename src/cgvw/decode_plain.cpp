// The plain image decoder: an untiled picture stored row by row, top row
// first, converted into the bottom-up rows of a DIB block.
#include <cstring>

#include "cgvw/cgvw.h"
#include "cgvw/dib_layout.h"
#include "colour.h"
#include "dib_block.h"
#include "operation_support.h"

namespace {

// The source rows and the DIB rows of one picture.
struct RowCopy {
  std::span<const std::uint8_t> source;
  std::uint8_t* pixels;  // the block's pixel area
  std::uint32_t stride;  // DIB row stride
  std::uint16_t width;
  std::uint16_t height;
  bool noSwap;  // 15-bit words stored little-endian

  std::uint8_t* DibRow(std::uint32_t r) const {
    return pixels + std::size_t{height - 1u - r} * stride;
  }
};

// 4-bit pixels, two to a byte, the left pixel in the high nibble. Rows follow
// each other without padding; with an odd width a row starts in the middle
// of a byte, so the nibbles are moved one at a time.
void Convert4Bit(const RowCopy& copy) {
  const std::uint64_t rowNibbles = copy.width;
  for (std::uint32_t r = 0; r < copy.height; ++r) {
    std::uint8_t* out = copy.DibRow(r);
    std::memset(out, 0, copy.stride);
    const std::uint64_t first = r * rowNibbles;
    if ((first + rowNibbles + 1) / 2 > copy.source.size()) {
      continue;  // the row is not in the data
    }
    if (first % 2 == 0 && rowNibbles % 2 == 0) {
      std::memcpy(out, copy.source.data() + first / 2, rowNibbles / 2);
      continue;
    }
    for (std::uint64_t x = 0; x < rowNibbles; ++x) {
      const std::uint64_t n = first + x;
      const unsigned nibble = (copy.source[n / 2] >> (n % 2 == 0 ? 4 : 0)) & 0xF;
      out[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? nibble << 4 : nibble);
    }
  }
}

// 8-bit palette indices, copied unchanged.
void Convert8Bit(const RowCopy& copy) {
  for (std::uint32_t r = 0; r < copy.height; ++r) {
    std::uint8_t* out = copy.DibRow(r);
    const std::uint64_t first = std::uint64_t{r} * copy.width;
    if (first + copy.width > copy.source.size()) {
      std::memset(out, 0, copy.stride);
      continue;
    }
    std::memcpy(out, copy.source.data() + first, copy.width);
    std::memset(out + copy.width, 0, copy.stride - copy.width);
  }
}

// 15-bit colour words to blue, green, red bytes.
void Convert15Bit(const RowCopy& copy) {
  const std::size_t rowBytes = std::size_t{copy.width} * 3;
  for (std::uint32_t r = 0; r < copy.height; ++r) {
    std::uint8_t* out = copy.DibRow(r);
    const std::uint64_t first = std::uint64_t{r} * copy.width * 2;
    if (first + std::uint64_t{copy.width} * 2 > copy.source.size()) {
      std::memset(out, 0, copy.stride);
      continue;
    }
    cgvw::ColourWordsToBgr(copy.source.data() + first, copy.width, copy.noSwap, out);
    std::memset(out + rowBytes, 0, copy.stride - rowBytes);
  }
}

}  // namespace

std::int32_t CGVwDecodePlain(const void* imagePtr, const void* /*reserved*/, void* result) {
  auto* slot = static_cast<platform::HGLOBAL*>(result);
  *slot = nullptr;
  const TCGVwImage* image = cgvw::DescriptorOf(imagePtr);
  if (image == nullptr) {
    return kCGVwUnsupported;
  }
  const auto layout = cgvw::DibLayoutFor(image->Flags, image->Width, image->Height);
  if (!layout) {
    return kCGVwUnsupported;  // Depth codes 4 to 7
  }
  if (!cgvw::FitsBmpFile(*layout)) {
    return kCGVwNoMemory;  // larger than a DIB can state
  }
  const std::uint32_t depth = image->Flags & cgvw_flags::kDepthMask;
  // 4-bit blocks start zero-filled; the others are written completely below.
  cgvw::DibBlock block(depth == cgvw_flags::kDepth4Bit ? platform::GHND : platform::GMEM_FIXED,
                       layout->blockSize);
  if (!block.allocated() || !block.Lock()) {
    return kCGVwNoMemory;
  }
  std::uint8_t* colourTable = block.data() + cgvw::kInfoHeaderSize;
  if (depth != cgvw_flags::kDepth15Bit) {
    if (const std::int32_t status = cgvw::ReadPalette(image, colourTable); status < 0) {
      return status;
    }
  }
  if (depth == cgvw_flags::kDepth8Bit128) {
    std::memset(colourTable + 128 * 4, 0, 128 * 4);  // the unused half of the table
  }
  cgvw::WriteInfoHeader(image, block.data());

  const platform::TempBuffer pixels = cgvw::ObtainBuffer(image->PixSize);
  if (!pixels) {
    return kCGVwNoMemory;
  }
  if (const std::int32_t status = cgvw::ReadInto(pixels, image->PixFile, image->PixOffset);
      status < 0) {
    return status;
  }

  const RowCopy copy{pixels.span(),     block.data() + layout->pixelOffset,
                     layout->rowStride, image->Width,
                     image->Height,     (image->Flags & cgvw_flags::kSwapOff) != 0};
  switch (depth) {
    case cgvw_flags::kDepth4Bit:
      Convert4Bit(copy);
      break;
    case cgvw_flags::kDepth15Bit:
      Convert15Bit(copy);
      break;
    default:
      Convert8Bit(copy);
      break;
  }
  *slot = block.HandOver();
  return kCGVwOk;
}
