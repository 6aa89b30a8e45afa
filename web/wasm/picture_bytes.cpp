#include "picture_bytes.h"

#include <new>

#include "png_writer.h"

namespace web {

bool FileBytes(const cgvw::Picture& picture, app::OutputFormat format,
               std::vector<std::uint8_t>* bytes, std::string* why) noexcept {
  try {
    if (format == app::OutputFormat::kPng) {
      return app::EncodePng(picture, bytes, why);
    }
    const auto header = picture.BmpFileHeader();
    const std::span<const std::uint8_t> dib = picture.dib();
    bytes->reserve(header.size() + dib.size());
    bytes->assign(header.begin(), header.end());
    bytes->insert(bytes->end(), dib.begin(), dib.end());
    return true;
  } catch (const std::bad_alloc&) {
    *why = "out of memory";
    return false;
  }
}

bool RgbaPixels(const cgvw::Picture& picture, std::vector<std::uint8_t>* rgba) noexcept {
  const std::uint32_t width = picture.width();
  const std::uint16_t bits = picture.bitCount();
  const std::span<const std::uint8_t> table = picture.colourTable();
  try {
    rgba->resize(std::size_t{width} * picture.height() * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::uint8_t* out = rgba->data();
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    const std::span<const std::uint8_t> row = picture.row(y);
    for (std::uint32_t x = 0; x < width; ++x, out += 4) {
      const std::uint8_t* bgr = nullptr;
      if (bits == 24) {
        bgr = &row[3 * x];
      } else {
        const std::uint8_t byte = row[bits == 4 ? x / 2 : x];
        // 4 bits: the left pixel of a pair is the high nibble.
        const std::uint8_t index = bits == 4 ? (x % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte;
        bgr = &table[4 * std::size_t{index}];
      }
      out[0] = bgr[2];
      out[1] = bgr[1];
      out[2] = bgr[0];
      out[3] = 255;
    }
  }
  return true;
}

}  // namespace web
