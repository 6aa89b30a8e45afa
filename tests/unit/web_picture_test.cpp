// What the web page makes of a decoded picture (web/wasm/picture_bytes.h):
// its BMP file (the encoder's, read back independently by stb_image), and
// its RGBA pixels, whole and as a thumbnail, against that reading.
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

// stb_image, the independent BMP reader, for this file alone.
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STB_IMAGE_IMPLEMENTATION
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

// A picture of random colour words and pixels: every byte of the source
// is used.
cgvw::Result<cgvw::Picture> Decoded(const Case& c) {
  std::mt19937 random(c.width * 31 + c.height);
  std::vector<std::uint8_t> pal(512);
  std::vector<std::uint8_t> pix(std::size_t{c.width} * c.height * 2);
  std::generate(pal.begin(), pal.end(), [&] { return static_cast<std::uint8_t>(random()); });
  std::generate(pix.begin(), pix.end(), [&] { return static_cast<std::uint8_t>(random()); });
  cgvw::MemorySource source;
  source.Add("pal", pal);
  source.Add("pix", pix);
  TCGVwImage image{};
  image.Flags = c.flags;
  image.Width = c.width;
  image.Height = c.height;
  image.PalFile = "pal";
  image.PixFile = "pix";
  image.PixSize = static_cast<std::uint32_t>(pix.size());
  return cgvw::Decode(image, source);
}

class WebPicture : public testing::TestWithParam<Case> {};

TEST_P(WebPicture, PixelsAreTheBmpFilesWholeAndAsAThumbnail) {
  const Case& c = GetParam();
  const cgvw::Result<cgvw::Picture> decoded = Decoded(c);
  ASSERT_TRUE(decoded);
  const cgvw::PictureView picture = decoded->view();

  std::vector<std::uint8_t> bmp;
  std::string why;
  ASSERT_TRUE(web::FileBytes(picture, app::OutputFormat::kBmp, &bmp, &why)) << why;
  int width = 0;
  int height = 0;
  int channels = 0;
  stbi_uc* read = stbi_load_from_memory(bmp.data(), static_cast<int>(bmp.size()), &width, &height,
                                        &channels, 4);
  ASSERT_NE(read, nullptr) << stbi_failure_reason();
  const std::vector<std::uint8_t> expected(read, read + std::size_t{4} * width * height);
  stbi_image_free(read);
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
    return;
  }
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
            << "at " << x << "," << y;
      }
    }
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
