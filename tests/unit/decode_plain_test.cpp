// The plain decoder at every depth: byte order, bottom-up rows, padding,
// short data, and every failure path with nothing left allocated.
#include <gtest/gtest.h>

#include "catalog/catalogue.h"
#include "dib_test_util.h"
#include "test_support.h"

namespace {

using platform::faults::Point;
using testing_support::Bytes;
using testing_support::Decoded;
using testing_support::DecodeWith;
using testing_support::FaultScope;
using testing_support::NothingHeld;
using testing_support::TestDrive;

constexpr char kPal[] = "pic.bpl";
constexpr char kPix[] = "pic.btx";

TCGVwImage Plain(std::uint32_t flags, std::uint16_t width, std::uint16_t height,
                 std::uint32_t pixSize) {
  return {flags, width, height, 0, 0, nullptr, kPal, 4, kPix, 4, pixSize, nullptr};
}

// Palette file: 4 junk bytes, then colour word i = i for every index.
std::vector<std::uint8_t> Palette(int colours = 256) {
  Bytes bytes;
  bytes.Fill(4, 0xCC);
  for (int i = 0; i < colours; ++i) {
    bytes.BE16(static_cast<std::uint16_t>(i));
  }
  return bytes.get();
}

// Pixel file: 4 junk bytes, then the given pixel bytes.
std::vector<std::uint8_t> Pixels(const std::vector<std::uint8_t>& pixels) {
  return Bytes().Fill(4, 0xCC).Raw(pixels).get();
}

std::vector<std::uint8_t> Sequence(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  return bytes;
}

class DecodePlainTest : public ::testing::Test {
 protected:
  void SetUp() override { drive.WriteFile(kPal, Palette()); }
  Decoded Decode(const TCGVwImage& image) { return DecodeWith(CGVwDecodePlain, image); }

  FaultScope faults;
  TestDrive drive;
};

TEST_F(DecodePlainTest, PortraitRowsAreStoredBottomUp) {
  const auto source = Sequence(104 * 84);
  drive.WriteFile(kPix, Pixels(source));
  const auto decoded = Decode(Plain(0x40, 104, 84, 0x2220));
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_TRUE(decoded.wasUnlocked);
  ASSERT_EQ(decoded.bytes.size(), 9800u);
  EXPECT_EQ(decoded.U16(14), 8u);
  EXPECT_EQ(decoded.U32(20), 8736u);
  // Colour word 0x00FF: red 31, green 7, blue 0.
  EXPECT_EQ(decoded.U32(40 + 255 * 4), 0x02FF3900u);
  const std::vector<std::uint8_t> top(decoded.bytes.begin() + 9696, decoded.bytes.end());
  EXPECT_EQ(top, std::vector<std::uint8_t>(source.begin(), source.begin() + 104));
  const std::vector<std::uint8_t> bottom(decoded.bytes.begin() + 1064,
                                         decoded.bytes.begin() + 1064 + 104);
  EXPECT_EQ(bottom, std::vector<std::uint8_t>(source.end() - 104, source.end()));
  EXPECT_TRUE(NothingHeld());
}

TEST_F(DecodePlainTest, EightBitRowsArePaddedWithZeros) {
  drive.WriteFile(kPix, Pixels(Sequence(6 * 2)));
  const auto decoded = Decode(Plain(0x40, 6, 2, 12));
  ASSERT_EQ(decoded.status, kCGVwOk);
  ASSERT_EQ(decoded.bytes.size(), 1064u + 16);
  const std::vector<std::uint8_t> expected = {43, 50, 57, 64, 71, 78, 0, 0,
                                              1,  8,  15, 22, 29, 36, 0, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 1064, decoded.bytes.end()), expected);
}

TEST_F(DecodePlainTest, HundredTwentyEightColoursLeaveTheRestOfTheTableBlack) {
  drive.WriteFile(kPix, Pixels(Sequence(4)));
  const auto decoded = Decode(Plain(0x20, 4, 1, 4));
  ASSERT_EQ(decoded.status, kCGVwOk);
  ASSERT_EQ(decoded.bytes.size(), 1064u + 4);
  EXPECT_EQ(decoded.U16(14), 8u);
  EXPECT_EQ(decoded.U32(40 + 127 * 4), 0x02FF1800u);  // word 127: red 31, green 3
  for (std::size_t i = 40 + 128 * 4; i < 1064; ++i) {
    ASSERT_EQ(decoded.bytes[i], 0) << "byte " << i;
  }
  EXPECT_EQ(decoded.bytes[1064], 1);
}

TEST_F(DecodePlainTest, FifteenBitWordsByteOrder) {
  drive.WriteFile(kPix, Pixels({0x7C, 0x00}));
  auto decoded = Decode(Plain(0x60, 1, 1, 2));
  ASSERT_EQ(decoded.status, kCGVwOk);
  ASSERT_EQ(decoded.bytes.size(), 40u + 4);  // one standard row of 4 bytes
  EXPECT_EQ(decoded.U16(14), 24u);
  EXPECT_EQ(decoded.U32(20), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 40, decoded.bytes.end()),
            (std::vector<std::uint8_t>{0xFF, 0x00, 0x00, 0x00}));

  decoded = Decode(Plain(0x160, 1, 1, 2));  // SwapOff: the word is 0x007C
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 40, decoded.bytes.end()),
            (std::vector<std::uint8_t>{0x00, 0x18, 0xE6, 0x00}));
}

TEST_F(DecodePlainTest, FifteenBitPicturesNeedNoPalette) {
  // Width 3: rows of 9 bytes padded to 12; bit 15 of a word is ignored.
  drive.WriteFile(kPix, Pixels(Bytes()
                                   .BE16(0x001F)
                                   .BE16(0x03E0)
                                   .BE16(0x7C00)
                                   .BE16(0xFFFF)
                                   .BE16(0x8000)
                                   .BE16(0x0000)
                                   .get()));
  TCGVwImage image = Plain(0x60, 3, 2, 12);
  image.PalFile = nullptr;
  const auto decoded = Decode(image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 1);
  const std::vector<std::uint8_t> expected = {
      0xFF, 0xFF, 0xFF, 0, 0,    0, 0,    0, 0, 0, 0, 0,  // bottom row: white, black, black
      0,    0,    0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0,  // top row: red, green, blue
  };
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 40, decoded.bytes.end()), expected);
}

TEST_F(DecodePlainTest, FourBitPixelsKeepTheirNibbles) {
  // Width 4: two bytes a row, padded to the 4-byte row.
  drive.WriteFile(kPix, Pixels({0x12, 0x34, 0x56, 0x78}));
  auto decoded = Decode(Plain(0x00, 4, 2, 4));
  ASSERT_EQ(decoded.status, kCGVwOk);
  ASSERT_EQ(decoded.bytes.size(), 104u + 8);
  EXPECT_EQ(decoded.U16(14), 4u);
  EXPECT_EQ(decoded.U32(40 + 15 * 4), 0x027B0000u);  // word 15: red 15 scales to 123
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 104, decoded.bytes.end()),
            (std::vector<std::uint8_t>{0x56, 0x78, 0, 0, 0x12, 0x34, 0, 0}));
}

TEST_F(DecodePlainTest, FourBitOddWidthRowsFollowEachOtherWithoutGaps) {
  // Width 3, height 2: the six nibbles 1 2 3 / 4 5 6 in three bytes.
  drive.WriteFile(kPix, Pixels({0x12, 0x34, 0x56}));
  auto decoded = Decode(Plain(0x00, 3, 2, 3));
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(decoded.U32(20), 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 104, decoded.bytes.end()),
            (std::vector<std::uint8_t>{0x45, 0x60, 0, 0, 0x12, 0x30, 0, 0}));
}

TEST_F(DecodePlainTest, ShortPixelDataConvertsOnlyTheRowsItHolds) {
  // PixSize holds one and a half rows of 4: the second row stays black.
  drive.WriteFile(kPix, Pixels(Sequence(16)));
  auto decoded = Decode(Plain(0x40, 4, 2, 6));
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 1064, decoded.bytes.end()),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 8, 15, 22}));

  // A file that ends early: the missing bytes read as 0.
  drive.WriteFile(kPix, Pixels({9, 9, 9}));
  decoded = Decode(Plain(0x40, 4, 1, 4));
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 1064, decoded.bytes.end()),
            (std::vector<std::uint8_t>{9, 9, 9, 0}));

  drive.WriteFile(kPix, Pixels({0x7C}));
  decoded = Decode(Plain(0x60, 2, 1, 2));  // holds one word of two
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(std::vector<std::uint8_t>(decoded.bytes.begin() + 40, decoded.bytes.end()),
            (std::vector<std::uint8_t>(8, 0)));
}

TEST_F(DecodePlainTest, ZeroHeightGivesHeaderAndTableOnly) {
  drive.WriteFile(kPix, Pixels(Sequence(8)));
  const auto decoded = Decode(Plain(0x40, 8, 0, 8));
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(decoded.bytes.size(), 1064u);
  EXPECT_EQ(decoded.U32(20), 0u);
}

TEST_F(DecodePlainTest, RefusedDepthsAllocateNothing) {
  for (std::uint32_t depth = 4; depth < 8; ++depth) {
    const auto decoded = Decode(Plain(depth << 5, 4, 4, 16));
    EXPECT_EQ(decoded.status, kCGVwUnsupported);
    EXPECT_FALSE(decoded.gotHandle);
  }
  EXPECT_EQ(platform::faults::Calls(Point::GlobalAlloc), 0);
}

TEST_F(DecodePlainTest, PaletteIsReadBeforeThePixelFile) {
  drive.WriteFile(kPix, Pixels(Sequence(16)));
  TCGVwImage image = Plain(0x40, 4, 4, 16);
  image.PalFile = "missing.bpl";
  EXPECT_EQ(Decode(image).status, kCGVwCannotOpen);
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 1);  // the pixel file was never opened

  platform::faults::Reset();
  image = Plain(0x40, 4, 4, 16);
  image.PixFile = "missing.btx";
  EXPECT_EQ(Decode(image).status, kCGVwCannotOpen);
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 2);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(DecodePlainTest, ZeroPixSizeFailsWithNoMemory) {
  const auto decoded = Decode(Plain(0x40, 4, 4, 0));
  EXPECT_EQ(decoded.status, kCGVwNoMemory);
  EXPECT_FALSE(decoded.gotHandle);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(DecodePlainTest, PictureTooLargeForABmpFileIsRefused) {
  const auto decoded = Decode(Plain(0x60, 65535, 65535, 16));
  EXPECT_EQ(decoded.status, kCGVwNoMemory);
  EXPECT_EQ(platform::faults::Calls(Point::GlobalAlloc), 0);
}

}  // namespace
