// The built-in catalogue: its rows, the tile-map ranges and the record layouts
// that the stored data relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"

namespace {

// Tile bytes of the 152 backgrounds, in row order, as the disc holds them.
constexpr std::uint32_t kTileBytes[kBackgroundRows] = {
    0xA240,  0xA240, 0x9CC0, 0xA240, 0x9CC0, 0xA240, 0xA0C0,  0x9BC0, 0xA240, 0x9440,  // 0-9
    0xA240,  0xA240, 0xA240, 0xA240, 0xA180, 0xA240, 0xA140,  0xA240, 0xA040, 0xA180,  // 10-19
    0x14700, 0xA240, 0xA100, 0xA1C0, 0xA240, 0x99C0, 0xA240,  0xA240, 0xA240, 0xA240,  // 20-29
    0xA240,  0xA240, 0xA240, 0xA0C0, 0xA240, 0xA240, 0x9BC0,  0xA240, 0xA240, 0x9640,  // 30-39
    0xA240,  0xA240, 0xA240, 0xA240, 0xA240, 0x9EC0, 0xA240,  0xA240, 0xA240, 0xA240,  // 40-49
    0xA240,  0xA240, 0xA180, 0xA240, 0xA240, 0x99C0, 0xA040,  0xA180, 0xA240, 0xA240,  // 50-59
    0xA240,  0x99C0, 0xA100, 0xA1C0, 0xA240, 0xA240, 0xA240,  0x9A00, 0xA000, 0xA240,  // 60-69
    0x9D40,  0x7EC0, 0xA240, 0x9D00, 0xA240, 0xA240, 0xA240,  0xA240, 0xA240, 0xA240,  // 70-79
    0xA200,  0xA240, 0xA240, 0xA240, 0xA100, 0xA200, 0x92C0,  0xA240, 0x9B80, 0xA1C0,  // 80-89
    0xA1C0,  0xA240, 0xA240, 0x9F80, 0xA240, 0xA240, 0x5800,  0xA240, 0xA240, 0xA240,  // 90-99
    0x9C80,  0xA240, 0xA240, 0xA240, 0x9D00, 0x82C0, 0xA140,  0xA100, 0x9D80, 0xA1C0,  // 100-109
    0xA000,  0x9F80, 0x9F00, 0x9CC0, 0x4C0,  0xA1C0, 0x14C40, 0xA180, 0xA240, 0xA240,  // 110-119
    0xA240,  0x9880, 0x8880, 0xA240, 0x9680, 0xA240, 0x9680,  0x9680, 0x9F80, 0xA140,  // 120-129
    0xA240,  0xA240, 0x9E80, 0xA240, 0xA000, 0x9E80, 0xA200,  0xA240, 0xA240, 0xA180,  // 130-139
    0xA240,  0x9640, 0x9D80, 0x9680, 0xA240, 0xA1C0, 0xA240,  0x93C0, 0x9D80, 0x9700,  // 140-149
    0xA240,  0xA1C0,                                                                   // 150-151
};

// The file number of each background row: 000-006, 009-027, 034-109, 111-160.
int BackgroundNumber(std::size_t row) {
  int number = 0;
  for (std::size_t i = 0;; ++number) {
    const bool missing =
        number == 7 || number == 8 || (number >= 28 && number <= 33) || number == 110;
    if (missing) {
      continue;
    }
    if (i++ == row) {
      return number;
    }
  }
}

std::string BackgroundName(std::size_t row) {
  char name[32];
  std::snprintf(name, sizeof name, "bg%03d_0.bg", BackgroundNumber(row));
  return name;
}

const char kBackgroundLabel[] = "\x94\x77\x8C\x69";  // "背景" in Shift-JIS
const char kPortraitLabel[] = "\x93\xFA\x92\xBC";    // "日直" in Shift-JIS

TEST(Catalogue, Holds161RowsAndATerminatingRowOfZeros) {
  ASSERT_EQ(Catalogue.size(), 162u);
  for (std::size_t row = 0; row < 161; ++row) {
    EXPECT_NE(Catalogue[row].Category, nullptr) << "row " << row;
  }
  const TCatalogEntry& end = Catalogue[161];
  EXPECT_EQ(end.Category, nullptr);
  EXPECT_EQ(end.Image.Flags, 0u);
  EXPECT_EQ(end.Image.Width, 0);
  EXPECT_EQ(end.Image.Height, 0);
  EXPECT_EQ(end.Image.PalFile, nullptr);
  EXPECT_EQ(end.Image.PixFile, nullptr);
  EXPECT_EQ(end.Image.PixSize, 0u);
  EXPECT_EQ(end.Image.Extra, nullptr);
}

TEST(Catalogue, BackgroundRowsNameTheirFileAndRanges) {
  for (std::size_t row = 0; row < kBackgroundRows; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const TCGVwImage& image = Catalogue[row].Image;
    const std::string name = BackgroundName(row);
    const std::uint16_t height = (row == 20 || row == 116) ? 296 : 144;
    EXPECT_EQ(image.Flags, 0x241u);
    EXPECT_EQ(image.Width, 288);
    EXPECT_EQ(image.Height, height);
    EXPECT_EQ(image.PosX, 0);
    EXPECT_EQ(image.PosY, 0);
    EXPECT_EQ(image.Backdrop, nullptr);
    ASSERT_NE(image.PalFile, nullptr);
    ASSERT_NE(image.PixFile, nullptr);
    EXPECT_EQ(std::string(image.PalFile), name);
    EXPECT_EQ(std::string(image.PixFile), name);
    EXPECT_EQ(image.PalOffset, 0x18u);
    EXPECT_EQ(image.PixOffset, 0x220u);
    EXPECT_EQ(image.PixSize, kTileBytes[row]);
    EXPECT_EQ(image.PixSize % 64, 0u);
    EXPECT_STREQ(Catalogue[row].Category, kBackgroundLabel);

    // The map lies 8 bytes after the tiles, one 16-bit entry per 8 x 8 cell.
    ASSERT_EQ(image.Extra, &MapSources[row]);
    const TCGVwChunk& map = MapSources[row];
    ASSERT_NE(map.FileName, nullptr);
    EXPECT_EQ(std::string(map.FileName), name);
    EXPECT_EQ(map.Offset, image.PixOffset + image.PixSize + 8);
    EXPECT_EQ(map.Size, (image.Width / 8u) * (image.Height / 8u) * 2u);
  }
}

TEST(Catalogue, TallBackgroundsHaveTheirLongerMaps) {
  for (std::size_t row : {20u, 116u}) {
    EXPECT_EQ(Catalogue[row].Image.Height, 296) << "row " << row;
    EXPECT_EQ(MapSources[row].Size, 0xA68u) << "row " << row;
  }
  EXPECT_EQ(MapSources[20].Offset, 0x14928u);
  EXPECT_EQ(MapSources[116].Offset, 0x14E68u);
  EXPECT_EQ(MapSources[0].Size, 0x510u);
}

TEST(Catalogue, RowsAreNumberedByPositionNotByFileNumber) {
  EXPECT_STREQ(Catalogue[7].Image.PixFile, "bg009_0.bg");
  EXPECT_STREQ(Catalogue[26].Image.PixFile, "bg034_0.bg");
  EXPECT_STREQ(Catalogue[102].Image.PixFile, "bg111_0.bg");
  EXPECT_STREQ(Catalogue[151].Image.PixFile, "bg160_0.bg");
}

TEST(Catalogue, MostBackgroundsHaveTheFullTileCount) {
  const auto full = std::count_if(Catalogue.begin(), Catalogue.begin() + kBackgroundRows,
                                  [](const TCatalogEntry& e) { return e.Image.PixSize == 0xA240; });
  EXPECT_EQ(full, 79);
}

TEST(Catalogue, PortraitRowsArePlainPicturesInStemOrder) {
  const char* const stems[] = {"Tesuna", "Mirabo", "Lonet",  "Pelka", "Quena",
                               "Rusel",  "Hodaki", "Nerumi", "Sofu"};
  for (std::size_t i = 0; i < kPortraitRows; ++i) {
    const std::size_t row = 152 + i;
    SCOPED_TRACE("row " + std::to_string(row));
    const TCGVwImage& image = Catalogue[row].Image;
    EXPECT_EQ(image.Flags, 0x40u);
    EXPECT_EQ(image.Width, 104);
    EXPECT_EQ(image.Height, 84);
    EXPECT_EQ(image.PosX, 0);
    EXPECT_EQ(image.PosY, 0);
    EXPECT_EQ(image.Backdrop, nullptr);
    EXPECT_EQ(std::string(image.PalFile), std::string(stems[i]) + ".bpl");
    EXPECT_EQ(std::string(image.PixFile), std::string(stems[i]) + ".btx");
    EXPECT_EQ(image.PalOffset, 4u);
    EXPECT_EQ(image.PixOffset, 4u);
    EXPECT_EQ(image.PixSize, 0x2220u);
    EXPECT_EQ(image.Extra, nullptr);
    EXPECT_STREQ(Catalogue[row].Category, kPortraitLabel);
  }
}

TEST(Descriptors, LayerListKeepsItsPointerRightAfterTheCount) {
  EXPECT_EQ(offsetof(TCGVwLayers, Items), 2u);
  EXPECT_EQ(sizeof(TCGVwLayers), 2 + sizeof(void*));
}

TEST(Descriptors, SourceRootIsADrivePrefixWithZeroPadding) {
  // The first character is the drive letter and may have been set already.
  EXPECT_STREQ(SourceRoot + 1, ":\\");
  EXPECT_TRUE(
      std::all_of(SourceRoot + 3, SourceRoot + kSourceRootSize, [](char c) { return c == '\0'; }));
}

}  // namespace
