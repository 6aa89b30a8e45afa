// The plain image decoder: an untiled picture stored row by row, top row
// first, converted into the bottom-up rows of a DIB block.
#include <cstring>
#include <iterator>

#include "cgvw/colour.h"
#include "cgvw/core.h"

namespace cgvw::core {
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
    ColourWordsToBgr(copy.source.data() + first, copy.width, copy.noSwap, out);
    std::memset(out + rowBytes, 0, copy.stride - rowBytes);
  }
}

// The row conversion of each Depth code, in the order of kDepths.
constexpr void (*kConvertRows[])(const RowCopy&) = {Convert4Bit, Convert8Bit, Convert8Bit,
                                                    Convert15Bit};
static_assert(std::size(kConvertRows) == std::size(kDepths));

}  // namespace

Status PlanPlain(const Job& job, const TCGVwImage& image, Plan* plan) {
  if (!IsKind(image, cgvw_flags::kKindPlain)) {
    return Status::Unsupported;  // another kind's descriptor: its fields mean other things
  }
  const DepthInfo* depth = DepthOf(image.Flags);
  if (depth == nullptr) {
    return Status::Unsupported;  // Depth codes 4 to 7
  }
  const TDibLayout layout = *DibLayoutFor(image.Flags, image.Width, image.Height);
  if (!FitsBmpFile(layout)) {
    return Status::TooLarge;  // larger than a DIB can state
  }
  *plan = {layout, layout.blockSize, Status::Ok};
  return CheckLimits(job, image, layout.blockSize, {{"PixSize", image.PixSize}});
}

Status DecodePlain(Job& job, const TCGVwImage& image, Block* out) {
  Plan plan;
  if (const Status status = PlanPlain(job, image, &plan); status != Status::Ok) {
    return status;
  }
  const TDibLayout& layout = plan.dib;
  const DepthInfo* depth = DepthOf(image.Flags);
  // 4-bit blocks start zero-filled; the others are written completely below.
  HeldBlock block(job.store);
  if (const Status status = block.Obtain(layout.blockSize, depth->zeroFilledPlain);
      status != Status::Ok) {
    return status;
  }
  std::uint8_t* colourTable = block.data() + kInfoHeaderSize;
  if (depth->paletteColours != 0) {
    if (const Status status = ReadPalette(job, image, colourTable); status != Status::Ok) {
      return status;
    }
    // The entries the palette does not fill (the upper half of a 128-colour
    // picture's table).
    std::memset(colourTable + 4 * depth->paletteColours, 0,
                4 * (depth->tableEntries - depth->paletteColours));
  }
  WriteInfoHeader(block.data(), image);

  platform::TempBuffer pixels;
  if (const Status status =
          ReadNewBuffer(job, image.PixFile, image.PixOffset, image.PixSize, &pixels);
      status != Status::Ok) {
    return status;
  }
  kConvertRows[depth - kDepths]({pixels.span(), block.data() + layout.pixelOffset, layout.rowStride,
                                 image.Width, image.Height,
                                 (image.Flags & cgvw_flags::kSwapOff) != 0});
  *out = block.HandOver();
  return Status::Ok;
}

}  // namespace cgvw::core
