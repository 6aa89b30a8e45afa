// What the web page makes of a decoded picture (web/wasm/picture_bytes.h):
// its RGBA pixels, whole and as a thumbnail, against an independent reading
// of the BMP file (stb_image), and its PNG file's pixels against the BMP's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cgvw/decode.h"
#include "picture_bytes.h"
#include "png_writer.h"
#include "stb_image.h"

namespace {

struct Case {
  const char* name;
  std::uint32_t flags;  // plain pictures of each depth
  std::uint16_t width;
  std::uint16_t height;
  std::uint32_t longest;  // thumbnail side; 0: none
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// Random colour words and pixels: every byte of the source is used.
cgvw::Picture Decoded(const Case& c, cgvw::MemorySource* source, std::vector<std::uint8_t>* pal,
                      std::vector<std::uint8_t>* pix) {
  std::mt19937 random(c.width * 31 + c.height);
  pal->resize(512);
  pix->resize(std::size_t{c.width} * c.height * 2);
  for (auto& byte : *pal)
    byte = static_cast<std::uint8_t>(random());
  for (auto& byte : *pix)
    byte = static_cast<std::uint8_t>(random());
  source->Add("pal", *pal);
  source->Add("pix", *pix);
  const TCGVwImage image{c.flags,
                         c.width,
                         c.height,
                         0,
                         0,
                         nullptr,
                         "pal",
                         0,
                         "pix",
                         0,
                         static_cast<std::uint32_t>(pix->size()),
                         nullptr};
  cgvw::Result<cgvw::Picture> picture = cgvw::Decode(image, *source);
  EXPECT_TRUE(picture) << c.name;
  return std::move(*picture);
}

// RGBA of a BMP or PNG file as stb_image reads it.
std::vector<std::uint8_t> Read(const std::vector<std::uint8_t>& file, int* width, int* height) {
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), width, height,
                                          &channels, 4);
  if (pixels == nullptr) {
    ADD_FAILURE() << "stb_image: " << stbi_failure_reason();
    return {};
  }
  std::vector<std::uint8_t> rgba(pixels, pixels + std::size_t{4} * *width * *height);
  stbi_image_free(pixels);
  return rgba;
}

class WebPicture : public testing::TestWithParam<Case> {};

TEST_P(WebPicture, PixelsAreTheBmpFilesAndThePngHasTheSame) {
  const Case& c = GetParam();
  cgvw::MemorySource source;
  std::vector<std::uint8_t> pal;
  std::vector<std::uint8_t> pix;
  const cgvw::Picture picture = Decoded(c, &source, &pal, &pix);

  std::vector<std::uint8_t> bmp;
  std::string why;
  ASSERT_TRUE(web::FileBytes(picture, app::OutputFormat::kBmp, &bmp, &why)) << why;
  const auto header = picture.BmpFileHeader();
  ASSERT_EQ(bmp.size(), header.size() + picture.dib().size());
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bmp.begin()));
  int width = 0;
  int height = 0;
  const std::vector<std::uint8_t> expected = Read(bmp, &width, &height);
  ASSERT_EQ(width, c.width);
  ASSERT_EQ(height, c.height);

  std::vector<std::uint8_t> rgba;
  std::uint32_t madeWidth = 0;
  std::uint32_t madeHeight = 0;
  ASSERT_TRUE(web::RgbaPixels(picture, c.longest, &rgba, &madeWidth, &madeHeight));
  if (c.longest == 0 || std::max(c.width, c.height) <= c.longest) {
    EXPECT_EQ(madeWidth, c.width);
    EXPECT_EQ(madeHeight, c.height);
    EXPECT_EQ(rgba, expected);
  } else {
    // Each thumbnail pixel is the centre pixel of the block it stands for.
    const std::uint32_t factor = (std::max(c.width, c.height) + c.longest - 1) / c.longest;
    EXPECT_LE(std::max(madeWidth, madeHeight), c.longest);
    EXPECT_EQ(madeWidth, (c.width + factor - 1) / factor);
    EXPECT_EQ(madeHeight, (c.height + factor - 1) / factor);
    for (std::uint32_t y = 0; y < madeHeight; ++y) {
      for (std::uint32_t x = 0; x < madeWidth; ++x) {
        const std::uint32_t fromX = std::min<std::uint32_t>(c.width - 1, x * factor + factor / 2);
        const std::uint32_t fromY = std::min<std::uint32_t>(c.height - 1, y * factor + factor / 2);
        for (int channel = 0; channel < 4; ++channel) {
          ASSERT_EQ(rgba[(std::size_t{y} * madeWidth + x) * 4 + channel],
                    expected[(std::size_t{fromY} * c.width + fromX) * 4 + channel])
              << c.name << " at " << x << "," << y;
        }
      }
    }
  }

  if (app::PngAvailable(&why)) {
    std::vector<std::uint8_t> png;
    ASSERT_TRUE(web::FileBytes(picture, app::OutputFormat::kPng, &png, &why)) << why;
    EXPECT_EQ(Read(png, &width, &height), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Depths, WebPicture,
    testing::Values(Case{"16 colours, odd width", 0x00, 5, 3, 0},
                    Case{"128 colours", 0x20, 7, 4, 0}, Case{"256 colours", 0x40, 6, 5, 0},
                    Case{"15-bit colour", 0x60, 3, 3, 0},
                    Case{"thumbnail of 256 colours, blocks cut short", 0x40, 11, 7, 4},
                    Case{"thumbnail of 16 colours", 0x00, 9, 2, 3},
                    Case{"thumbnail of 15-bit colour", 0x60, 8, 8, 4},
                    Case{"thumbnail no smaller than the picture", 0x40, 4, 4, 4}),
    [](const testing::TestParamInfo<Case>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch)))
          ch = '_';
      }
      return name;
    });

}  // namespace
