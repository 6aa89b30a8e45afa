// The tiled decoder: a background read from one file as the catalogue lays
// it out, generated maps, the depth codes it accepts or refuses, and every
// failure path with nothing left allocated.
#include <gtest/gtest.h>

#include "catalog/catalogue.h"
#include "dib_test_util.h"
#include "test_support.h"

namespace {

using platform::faults::FailNth;
using platform::faults::Point;
using testing_support::Bytes;
using testing_support::DecodeWith;
using testing_support::FaultScope;
using testing_support::NothingHeld;
using testing_support::TestDrive;

constexpr char kFile[] = "bg900_0.bg";

// A background file: palette at 0x18, tiles at 0x220, map 8 bytes after.
// Tile t is filled with the value t + 1; colour word i is i (red = i & 31).
struct Background {
  std::uint16_t width;
  std::uint16_t height;
  std::uint32_t tileCount;
  std::vector<std::uint16_t> entries;

  std::uint32_t PixSize() const { return tileCount * 64; }
  std::uint32_t MapOffset() const { return 0x228 + PixSize(); }
  std::vector<std::uint8_t> FileBytes() const {
    Bytes bytes;
    bytes.Fill(0x18, 0xA5);
    for (std::uint16_t i = 0; i < 256; ++i) {
      bytes.BE16(i);
    }
    bytes.Fill(8, 0xA5);
    for (std::uint32_t t = 0; t < tileCount; ++t) {
      bytes.Fill(64, static_cast<std::uint8_t>(t + 1));
    }
    bytes.Fill(8, 0xA5);
    for (std::uint16_t entry : entries) {
      bytes.BE16(entry);
    }
    return bytes.Fill(16, 0xA5).get();
  }
};

// The descriptor of a background and its map chunk; Extra points into the
// object itself, so it is built in place and never copied.
struct TiledPicture {
  TCGVwChunk map;
  TCGVwImage image;

  explicit TiledPicture(const Background& bg, std::uint32_t flags = 0x241)
      : map{kFile, bg.MapOffset(), static_cast<std::uint32_t>(bg.entries.size() * 2)},
        image{flags, bg.width, bg.height,    0,   0, nullptr, kFile, 0x18,
              kFile, 0x220,    bg.PixSize(), &map} {}
  TiledPicture(const TiledPicture&) = delete;
  TiledPicture& operator=(const TiledPicture&) = delete;
};

class DecodeTiledTest : public ::testing::Test {
 protected:
  FaultScope faults;
  TestDrive drive;
};

TEST_F(DecodeTiledTest, CatalogueSizedBackground) {
  Background bg{288, 144, 649, std::vector<std::uint16_t>(36 * 18, 0)};
  bg.entries[0] = 2 * 648 + 1;  // top-left: the last tile, bit 0 set
  bg.entries[36 * 18 - 1] = 2;  // bottom-right: tile 1
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg);

  const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_TRUE(decoded.wasUnlocked);
  ASSERT_EQ(decoded.bytes.size(), 144u * 288 + 1064);
  EXPECT_EQ(decoded.U32(4), 288u);
  EXPECT_EQ(decoded.U32(8), 144u);
  EXPECT_EQ(decoded.U16(14), 8u);
  EXPECT_EQ(decoded.U32(20), 41472u);
  // Colour word 31 (red 31) is entry 31.
  EXPECT_EQ(decoded.U32(40 + 31 * 4), 0x02FF0000u);
  const std::uint8_t* rows = decoded.bytes.data() + 1064;
  EXPECT_EQ(testing_support::PixelAt(rows, 288, 144, 0, 0), 649 % 256);
  EXPECT_EQ(testing_support::PixelAt(rows, 288, 144, 287, 143), 2);
  EXPECT_EQ(testing_support::PixelAt(rows, 288, 144, 8, 0), 1);  // entry 0: tile 0
  EXPECT_TRUE(NothingHeld());
}

TEST_F(DecodeTiledTest, WidthIsPaddedToFourBytesPerRow) {
  Background bg{290, 8, 2, std::vector<std::uint16_t>(36, 2)};
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg);
  const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(decoded.bytes.size(), 8u * 292 + 1064);
  EXPECT_EQ(decoded.U32(20), 8u * 292);
  EXPECT_EQ(decoded.bytes[1064 + 287], 2);
  EXPECT_EQ(decoded.bytes[1064 + 288], 0);
}

TEST_F(DecodeTiledTest, GeneratedSixteenBitMapShowsTilesFromOne) {
  Background bg{16, 16, 5, {}};
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg);
  picture.map = {nullptr, 0, 8};
  const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  const std::uint8_t* rows = decoded.bytes.data() + 1064;
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 0, 0), 2);    // tile 1
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 8, 0), 3);    // tile 2
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 0, 8), 4);    // tile 3
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 15, 15), 5);  // tile 4
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 2);        // palette and tiles only
}

TEST_F(DecodeTiledTest, GeneratedThirtyTwoBitMapShowsTilesFromZero) {
  Background bg{16, 16, 4, {}};
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg, 0x441);
  picture.map = {nullptr, 0, 16};
  const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  const std::uint8_t* rows = decoded.bytes.data() + 1064;
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 0, 0), 1);
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 8, 0), 2);
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 0, 8), 3);
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 8, 8), 4);
}

TEST_F(DecodeTiledTest, GeneratedMapStopsAtTheEndOfItsBuffer) {
  Background bg{16, 16, 5, {}};
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg);
  picture.map = {nullptr, 0, 3};  // one whole entry and a half
  const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  const std::uint8_t* rows = decoded.bytes.data() + 1064;
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 0, 0), 2);
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 16, 8, 0), 0);
}

TEST_F(DecodeTiledTest, DepthCodesZeroAndOneGiveBlankPixels) {
  Background bg{16, 8, 2, {2, 2}};
  drive.WriteFile(kFile, bg.FileBytes());
  for (std::uint32_t flags : {0x201u, 0x221u}) {
    TiledPicture picture(bg, flags);
    const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
    ASSERT_EQ(decoded.status, kCGVwOk);
    const std::size_t pixels = flags == 0x201u ? 104 : 1064;
    ASSERT_EQ(decoded.bytes.size(), pixels + 16 * 8);
    EXPECT_EQ(decoded.U16(14), flags == 0x201u ? 4 : 8);
    EXPECT_EQ(decoded.U32(40 + 4), 0x02080000u);  // colour word 1: red 1 scales to 8
    for (std::size_t i = pixels; i < decoded.bytes.size(); ++i) {
      ASSERT_EQ(decoded.bytes[i], 0) << "byte " << i;
    }
  }
}

TEST_F(DecodeTiledTest, RefusedDepthCodes) {
  Background bg{16, 8, 2, {2, 2}};
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg, 0x261);
  auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  EXPECT_EQ(decoded.status, kCGVwUnsupported);
  EXPECT_FALSE(decoded.gotHandle);
  EXPECT_EQ(platform::faults::Calls(Point::GlobalAlloc), 1);  // allocated, then refused

  FailNth(Point::GlobalAlloc, 1);
  EXPECT_EQ(DecodeWith(CGVwDecodeTiled, picture.image).status, kCGVwNoMemory);

  for (std::uint32_t depth = 4; depth < 8; ++depth) {
    platform::faults::Reset();
    TiledPicture refused(bg, 0x201 | depth << 5);
    decoded = DecodeWith(CGVwDecodeTiled, refused.image);
    EXPECT_EQ(decoded.status, kCGVwUnsupported);
    EXPECT_FALSE(decoded.gotHandle);
    EXPECT_EQ(platform::faults::Calls(Point::GlobalAlloc), 0);
  }
  EXPECT_TRUE(NothingHeld());
}

TEST_F(DecodeTiledTest, MissingMapDescriptionIsRefusedBeforeAnything) {
  Background bg{16, 8, 2, {2, 2}};
  TiledPicture picture(bg);
  picture.image.Extra = nullptr;
  EXPECT_EQ(DecodeWith(CGVwDecodeTiled, picture.image).status, kCGVwUnsupported);
  EXPECT_EQ(platform::faults::Calls(Point::GlobalAlloc), 0);
}

TEST_F(DecodeTiledTest, TilesMissingFromAShortFileStayBlank) {
  Background bg{16, 8, 2, {2, 4}};  // the second entry wants tile 2, beyond PixSize
  auto bytes = bg.FileBytes();
  drive.WriteFile(kFile, bytes);
  TiledPicture picture(bg);
  picture.image.PixSize = 3 * 64;  // claims a third tile; the map follows instead
  const auto decoded = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(decoded.status, kCGVwOk);
  const std::uint8_t* rows = decoded.bytes.data() + 1064;
  EXPECT_EQ(testing_support::PixelAt(rows, 16, 8, 0, 0), 2);
  // Tile 2 is read from the bytes after the tiles (junk and map): whatever
  // they are, they come from the file. A file cut before them gives zeros.
  bytes.resize(0x220 + 2 * 64);
  drive.WriteFile(kFile, bytes);
  picture.map.FileName = nullptr;  // map generated: tiles 1 and 2
  const auto shortFile = DecodeWith(CGVwDecodeTiled, picture.image);
  ASSERT_EQ(shortFile.status, kCGVwOk);
  const std::uint8_t* shortRows = shortFile.bytes.data() + 1064;
  EXPECT_EQ(testing_support::PixelAt(shortRows, 16, 8, 0, 0), 2);
  EXPECT_EQ(testing_support::PixelAt(shortRows, 16, 8, 8, 0), 0);
}

TEST_F(DecodeTiledTest, ZeroSizesFailAfterWhatCameBefore) {
  Background bg{16, 8, 2, {2, 2}};
  drive.WriteFile(kFile, bg.FileBytes());
  TiledPicture picture(bg);
  picture.image.PixSize = 0;
  EXPECT_EQ(DecodeWith(CGVwDecodeTiled, picture.image).status, kCGVwNoMemory);
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 2);  // palette and map were read

  platform::faults::Reset();
  picture.image.PixSize = bg.PixSize();
  picture.map.Size = 0;
  EXPECT_EQ(DecodeWith(CGVwDecodeTiled, picture.image).status, kCGVwNoMemory);
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 1);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(DecodeTiledTest, FirstCatalogueRowFromAGeneratedFile) {
  // Row 0 as the catalogue describes it, read from drive q.
  const TCGVwImage& row = Catalogue[0].Image;
  Background bg{288, 144, row.PixSize / 64, std::vector<std::uint16_t>(36 * 18, 6)};
  drive.WriteFile("bg000_0.bg", bg.FileBytes());
  const auto decoded = DecodeWith(CGVwDecode, row);
  ASSERT_EQ(decoded.status, kCGVwOk);
  EXPECT_EQ(decoded.bytes.size(), 42536u);
  EXPECT_EQ(decoded.bytes[1064], 4);  // tile 3 everywhere
}

}  // namespace
