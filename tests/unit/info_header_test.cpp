// The BITMAPINFOHEADER of a DIB block and the block layout it shares with the
// decoders and the BMP writer.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/layout.h"

namespace {

constexpr std::uint8_t kUntouched = 0xEE;

struct Header {
  std::int32_t status;
  std::int32_t slot;
  std::vector<std::uint8_t> bytes;  // 40 header bytes and 8 bytes after them

  std::uint32_t U32(int at) const { return cgvw::LoadLE32(&bytes[at]); }
  std::uint16_t U16(int at) const { return cgvw::LoadLE16(&bytes[at]); }
};

Header Make(std::uint32_t flags, std::uint16_t width, std::uint16_t height) {
  const TCGVwImage image{flags, width, height, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, nullptr};
  Header header{-9, -9, std::vector<std::uint8_t>(48, kUntouched)};
  TArgs_CGVwMakeInfoHeader00 args{header.bytes.data(), &image};
  header.status = ServiceTable[kServiceMakeInfoHeader](&args, nullptr, &header.slot);
  return header;
}

struct Shape {
  std::uint32_t flags;
  std::uint16_t width;
  std::uint16_t height;
  std::uint16_t bitCount;
  std::uint32_t sizeImage;
};

void PrintTo(const Shape& s, std::ostream* os) {
  *os << "flags 0x" << std::hex << s.flags << std::dec << ", " << s.width << " x " << s.height;
}

class InfoHeader : public testing::TestWithParam<Shape> {};

std::string ShapeName(const testing::TestParamInfo<Shape>& info) {
  const Shape& s = info.param;
  return "Depth" + std::to_string((s.flags >> 5) & 7) + "_" + std::to_string(s.width) + "x" +
         std::to_string(s.height);
}

TEST_P(InfoHeader, HasTheDepthsBitCountAndRowSize) {
  const Shape& s = GetParam();
  const Header h = Make(s.flags, s.width, s.height);
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.slot, 0);
  EXPECT_EQ(h.U32(0), 40u);           // biSize
  EXPECT_EQ(h.U32(4), s.width);       // biWidth
  EXPECT_EQ(h.U32(8), s.height);      // biHeight, positive
  EXPECT_EQ(h.U16(12), 1);            // biPlanes
  EXPECT_EQ(h.U16(14), s.bitCount);   // biBitCount
  EXPECT_EQ(h.U32(16), 0u);           // biCompression
  EXPECT_EQ(h.U32(20), s.sizeImage);  // biSizeImage
  for (int at : {24, 28, 32, 36}) {   // resolution, colours used
    EXPECT_EQ(h.U32(at), 0u) << "offset " << at;
  }
  for (int at = 40; at < 48; ++at) {
    EXPECT_EQ(h.bytes[at], kUntouched) << "byte " << at << " past the header";
  }
}

INSTANTIATE_TEST_SUITE_P(CataloguePictures, InfoHeader,
                         testing::Values(Shape{0x241, 288, 144, 8, 41472},
                                         Shape{0x241, 288, 296, 8, 85248},
                                         Shape{0x40, 104, 84, 8, 8736},
                                         Shape{0x20, 104, 84, 8, 8736}, Shape{0x140, 104, 0, 8, 0}),
                         ShapeName);

// 4-bit and 24-bit rows have the standard DIB row size at every width.
INSTANTIATE_TEST_SUITE_P(FourBit, InfoHeader,
                         testing::Values(Shape{0x00, 1, 3, 4, 12}, Shape{0x00, 2, 3, 4, 12},
                                         Shape{0x00, 3, 3, 4, 12}, Shape{0x00, 5, 2, 4, 8},
                                         Shape{0x00, 8, 3, 4, 12}, Shape{0x00, 9, 3, 4, 24},
                                         Shape{0x00, 16, 3, 4, 24}),
                         ShapeName);
INSTANTIATE_TEST_SUITE_P(TwentyFourBit, InfoHeader,
                         testing::Values(Shape{0x60, 1, 2, 24, 8}, Shape{0x60, 2, 2, 24, 16},
                                         Shape{0x60, 3, 2, 24, 24}, Shape{0x60, 4, 2, 24, 24},
                                         Shape{0x60, 5, 2, 24, 32}, Shape{0x60, 9, 2, 24, 56}),
                         ShapeName);
INSTANTIATE_TEST_SUITE_P(EightBitOddWidths, InfoHeader,
                         testing::Values(Shape{0x40, 1, 2, 8, 8}, Shape{0x40, 5, 2, 8, 16},
                                         Shape{0x20, 9, 1, 8, 12}),
                         ShapeName);
// Width and height are taken as unsigned 16-bit values.
INSTANTIATE_TEST_SUITE_P(Largest, InfoHeader,
                         testing::Values(Shape{0x40, 65535, 1, 8, 65536},
                                         Shape{0x40, 4, 65535, 8, 262140}),
                         ShapeName);

TEST(InfoHeaderDepths, CodesFourToSevenKeepBitCountAndSizeImage) {
  for (std::uint32_t depth = 4; depth <= 7; ++depth) {
    const Header h = Make(depth << 5, 10, 10);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.slot, 0);
    EXPECT_EQ(h.U32(0), 40u);
    EXPECT_EQ(h.U32(4), 10u);
    EXPECT_EQ(h.U16(12), 1);
    EXPECT_EQ(h.U16(14), 0xEEEE) << depth;
    EXPECT_EQ(h.U32(20), 0xEEEEEEEEu) << depth;
    EXPECT_EQ(h.U32(32), 0u);
  }
}

// The decoders size their blocks by this layout.
TEST(DibLayout, PixelsFollowTheColourTable) {
  const std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint32_t, std::uint64_t>
      layouts[] = {{0x40, 104, 84, 1064, 9800}, {0x00, 5, 2, 104, 112}, {0x60, 3, 2, 40, 64}};
  for (const auto& [flags, width, height, pixelOffset, blockSize] : layouts) {
    const auto layout = cgvw::DibLayoutFor(flags, width, height);
    ASSERT_TRUE(layout) << flags;
    EXPECT_EQ(layout->pixelOffset, pixelOffset) << flags;
    EXPECT_EQ(layout->blockSize, blockSize) << flags;
  }
  for (std::uint32_t depth = 4; depth <= 7; ++depth) {
    EXPECT_FALSE(cgvw::DibLayoutFor(depth << 5, 8, 8)) << depth;
  }
}

}  // namespace
