#include "picture_bytes.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "encoders.h"

namespace web {

bool FileBytes(const cgvw::PictureView& picture, app::OutputFormat format,
               std::vector<std::uint8_t>* bytes, std::string* why) noexcept {
  try {
    app::BmpEncoder bmp;
    app::PngEncoder png;
    app::Encoder& encoder =
        format == app::OutputFormat::kPng ? static_cast<app::Encoder&>(png) : bmp;
    app::EncodedFile file;
    if (!encoder.Encode(picture, &file, why)) {
      return false;
    }
    bytes->reserve(file.headerSize + file.body.size());
    bytes->assign(file.header.begin(), file.header.begin() + file.headerSize);
    bytes->insert(bytes->end(), file.body.begin(), file.body.end());
    return true;
  } catch (const std::bad_alloc&) {
    *why = "out of memory";
    return false;
  }
}

namespace {

// The red, green and blue of each pixel of picture row y, one after the
// other (3 bytes a pixel).
void RgbRow(const cgvw::PictureView& picture, const std::uint8_t (&colours)[256][3],
            std::uint32_t y, std::uint8_t* rgb) {
  const std::span<const std::uint8_t> row = picture.row(y);
  const std::uint32_t width = picture.width();
  switch (picture.bitCount()) {
    case 24:
      for (std::uint32_t x = 0; x < width; ++x, rgb += 3) {
        rgb[0] = row[3 * std::size_t{x} + 2];
        rgb[1] = row[3 * std::size_t{x} + 1];
        rgb[2] = row[3 * std::size_t{x}];
      }
      break;
    case 8:
      for (std::uint32_t x = 0; x < width; ++x, rgb += 3) {
        std::memcpy(rgb, colours[row[x]], 3);
      }
      break;
    default:  // 4 bits: the left pixel of a pair is the high nibble
      for (std::uint32_t x = 0; x < width; ++x, rgb += 3) {
        const std::uint8_t byte = row[x / 2];
        std::memcpy(rgb, colours[x % 2 == 0 ? byte >> 4 : byte & 0x0F], 3);
      }
      break;
  }
}

}  // namespace

bool RgbaPixels(const cgvw::PictureView& picture, std::uint32_t longest,
                std::vector<std::uint8_t>* rgba, std::uint32_t* width,
                std::uint32_t* height) noexcept {
  const std::uint32_t inWidth = picture.width();
  const std::uint32_t inHeight = picture.height();
  const std::uint32_t side = std::max(inWidth, inHeight);
  const std::uint32_t factor = longest == 0 || side <= longest ? 1 : (side + longest - 1) / longest;
  *width = (inWidth + factor - 1) / factor;
  *height = (inHeight + factor - 1) / factor;
  // The colour table as red, green, blue.
  std::uint8_t colours[256][3] = {};
  const std::span<const std::uint8_t> table = picture.colourTable();
  for (std::size_t i = 0; i < std::min<std::size_t>(256, table.size() / 4); ++i) {
    colours[i][0] = table[4 * i + 2];
    colours[i][1] = table[4 * i + 1];
    colours[i][2] = table[4 * i];
  }
  std::vector<std::uint8_t> line;  // one picture row as RGB
  try {
    rgba->resize(std::size_t{*width} * *height * 4);
    line.resize(std::size_t{inWidth} * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::uint8_t* out = rgba->data();
  for (std::uint32_t outY = 0; outY < *height; ++outY) {
    RgbRow(picture, colours, std::min(inHeight - 1, outY * factor + factor / 2), line.data());
    for (std::uint32_t outX = 0; outX < *width; ++outX, out += 4) {
      const std::uint32_t x = std::min(inWidth - 1, outX * factor + factor / 2);
      std::memcpy(out, &line[3 * std::size_t{x}], 3);
      out[3] = 255;
    }
  }
  return true;
}

}  // namespace web
