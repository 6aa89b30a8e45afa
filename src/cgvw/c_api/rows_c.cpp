// The rows of a decoded picture as the C caller asks for them: its own form
// or red, green, blue (and 255), top row or bottom row first, at the
// caller's stride.
#include <array>
#include <cstring>

#include "handles.h"

namespace cgvw::c_api {
namespace {

// The colours of an indexed picture as red, green, blue, 255: entry k at
// 4 k. The DIB's colour table holds blue, green, red, reserved.
using Colours = std::array<std::uint8_t, 256 * 4>;

Colours ColoursOf(const PictureView& picture) {
  Colours colours{};
  const std::span<const std::uint8_t> table = picture.colourTable();
  for (std::size_t k = 0; k < table.size() / 4 && k < 256; ++k) {
    colours[4 * k] = table[4 * k + 2];
    colours[4 * k + 1] = table[4 * k + 1];
    colours[4 * k + 2] = table[4 * k];
    colours[4 * k + 3] = 255;
  }
  return colours;
}

// One row in red, green, blue and, with Bytes 4, 255: Bytes of each
// pixel's colour (of its index, or its blue, green, red).
template <std::size_t Bytes>
void WriteColourRow(const PictureView& picture, const Colours& colours, const std::uint8_t* row,
                    std::uint8_t* out) {
  const std::uint32_t width = picture.width();
  switch (picture.bitCount()) {
    case 24:
      for (std::uint32_t x = 0; x < width; ++x, out += Bytes, row += 3) {
        const std::uint8_t rgba[4] = {row[2], row[1], row[0], 255};
        std::memcpy(out, rgba, Bytes);
      }
      break;
    case 8:
      for (std::uint32_t x = 0; x < width; ++x, out += Bytes) {
        std::memcpy(out, &colours[4 * std::size_t{row[x]}], Bytes);
      }
      break;
    default:  // 4 bits, the left pixel in the high nibble
      for (std::uint32_t x = 0; x < width; ++x, out += Bytes) {
        const unsigned index = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        std::memcpy(out, &colours[4 * std::size_t{index}], Bytes);
      }
      break;
  }
}

// One row in the picture's own form: the DIB row without its padding, the
// nibble after an odd 4-bit width's last pixel cleared.
void WriteNativeRow(const PictureView& picture, const std::uint8_t* row, std::size_t bytes,
                    std::uint8_t* out) {
  std::memcpy(out, row, bytes);
  if (picture.bitCount() == 4 && picture.width() % 2 != 0) {
    out[bytes - 1] &= 0xF0;
  }
}

}  // namespace

void WritePicture(const PictureView& picture, const cgvw_output& output) {
  cgvw_info info{};
  info.width = picture.width();
  info.bits_per_pixel = picture.bitCount();
  const std::size_t bytes = cgvw_row_bytes(&info, output.format);
  const std::size_t stride = output.stride == 0 ? bytes : output.stride;
  const bool bottomUp = (output.flags & CGVW_BOTTOM_UP) != 0;
  const Colours colours = ColoursOf(picture);
  auto* pixels = static_cast<std::uint8_t*>(output.pixels);
  const std::uint32_t height = picture.height();
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::span<const std::uint8_t> row = picture.row(y);
    std::uint8_t* out = pixels + std::size_t{bottomUp ? height - 1 - y : y} * stride;
    if (output.format == CGVW_FORMAT_NATIVE) {
      WriteNativeRow(picture, row.data(), bytes, out);
    } else if (output.format == CGVW_FORMAT_RGBA8) {
      WriteColourRow<4>(picture, colours, row.data(), out);
    } else {
      WriteColourRow<3>(picture, colours, row.data(), out);
    }
  }
  if (output.palette != nullptr && picture.bitCount() != 24) {
    std::memcpy(output.palette, colours.data(), picture.colourTable().size());
  }
}

}  // namespace cgvw::c_api
