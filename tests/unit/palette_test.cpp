// Palette conversion: 15-bit colour words to RGBQUAD entries, from the
// palette file of a descriptor or from memory.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include "cgvw/cgvw.h"
#include "platform/faults.h"
#include "test_support.h"

namespace {

using platform::faults::Calls;
using platform::faults::FailNth;
using platform::faults::Point;
using testing_support::NothingHeld;

using Entry = std::array<std::uint8_t, 4>;  // blue, green, red, reserved
constexpr std::uint8_t kUntouched = 0xEE;
constexpr Entry kUntouchedEntry = {kUntouched, kUntouched, kUntouched, kUntouched};

// Converts big-endian (or, with noSwap, little-endian) word bytes in memory.
std::vector<Entry> FromMemory(const std::vector<std::uint8_t>& words, std::int32_t count,
                              std::int32_t noSwap, std::int32_t* slot, std::int32_t* status) {
  std::vector<Entry> dest(words.size() / 2 + 1, kUntouchedEntry);
  TArgs_CGVwGetPalette00 args;
  args.Dest = dest[0].data();
  args.Source = words.data();
  args.Mode = 1;
  TCGVwPalInfo info{count, noSwap};
  *status = CGVwGetPalette(&args, &info, slot);
  return dest;
}

Entry One(std::uint8_t high, std::uint8_t low, bool noSwap = false) {
  std::int32_t slot = 0;
  std::int32_t status = 0;
  return FromMemory({high, low}, 1, noSwap ? 1 : 0, &slot, &status)[0];
}

TEST(PaletteConversion, ChannelsScaleByTheirTellingValues) {
  const std::pair<unsigned, std::uint8_t> scaled[] = {{0, 0},    {1, 8},    {5, 41},  {15, 123},
                                                      {16, 131}, {30, 246}, {31, 255}};
  for (const auto& [v, out] : scaled) {
    SCOPED_TRACE("channel value " + std::to_string(v));
    const auto red = static_cast<std::uint16_t>(v);
    const auto green = static_cast<std::uint16_t>(v << 5);
    const auto blue = static_cast<std::uint16_t>(v << 10);
    EXPECT_EQ(One(red >> 8, red & 0xFF), (Entry{0, 0, out, 2}));
    EXPECT_EQ(One(green >> 8, green & 0xFF), (Entry{0, out, 0, 2}));
    EXPECT_EQ(One(blue >> 8, blue & 0xFF), (Entry{out, 0, 0, 2}));
  }
}

TEST(PaletteConversion, WordsAreBigEndianUnlessNoSwapIsSet) {
  EXPECT_EQ(One(0x00, 0x1F), (Entry{0, 0, 255, 2}));
  EXPECT_EQ(One(0x00, 0x1F, true), (Entry{57, 197, 0, 2}));
  EXPECT_EQ(One(0x7C, 0x00), (Entry{255, 0, 0, 2}));
  EXPECT_EQ(One(0x03, 0xE0), (Entry{0, 255, 0, 2}));
  EXPECT_EQ(One(0x7F, 0xFF), (Entry{255, 255, 255, 2}));
  EXPECT_EQ(One(0x80, 0x00), (Entry{0, 0, 0, 2}));  // bit 15 is ignored
  EXPECT_EQ(One(0xFF, 0xFF), (Entry{255, 255, 255, 2}));
}

TEST(PaletteConversion, MemoryModeConvertsExactlyCountWords) {
  std::int32_t slot = -5;
  std::int32_t status = -5;
  auto dest = FromMemory({0x00, 0x1F, 0x7C, 0x00, 0x03, 0xE0}, 2, 0, &slot, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(dest[1], (Entry{255, 0, 0, 2}));
  EXPECT_EQ(dest[2], kUntouchedEntry);

  for (std::int32_t count : {0, -1, INT_MIN}) {
    slot = -5;
    dest = FromMemory({0x00, 0x1F}, count, 0, &slot, &status);
    EXPECT_EQ(status, 0) << count;
    EXPECT_EQ(slot, 0) << count;
    EXPECT_EQ(dest[0], kUntouchedEntry) << count;
  }
}

TEST(PaletteConversion, OtherModesAreRefused) {
  std::vector<Entry> dest(16, kUntouchedEntry);
  TCGVwPalInfo info{1, 0};
  const std::uint8_t words[2] = {0, 0x1F};
  for (std::int32_t mode : {2, 3, -1, INT_MIN, INT_MAX}) {
    TArgs_CGVwGetPalette00 args{dest[0].data(), words, mode};
    std::int32_t slot = 9;
    EXPECT_EQ(CGVwGetPalette(&args, &info, &slot), -1) << mode;
    EXPECT_EQ(slot, 0) << mode;
    EXPECT_EQ(dest[0], kUntouchedEntry) << mode;
  }
}

// Palettes read from a file through the descriptor.
class PaletteFile : public testing::Test {
 protected:
  // A file with `words` big-endian colour words at offset 0x18: word i holds
  // red = i % 32 and blue = 31 - i % 32.
  void WriteWords(int words, bool littleEndian = false) {
    std::vector<std::uint8_t> bytes(0x18, 0x55);
    for (int i = 0; i < words; ++i) {
      const auto word = static_cast<std::uint16_t>((i % 32) | ((31 - i % 32) << 10));
      const auto high = static_cast<std::uint8_t>(word >> 8);
      const auto low = static_cast<std::uint8_t>(word & 0xFF);
      bytes.push_back(littleEndian ? low : high);
      bytes.push_back(littleEndian ? high : low);
    }
    drive_.WriteFile("pal.bg", bytes);
  }
  static Entry Expected(int i) {
    return Entry{static_cast<std::uint8_t>((31 - i % 32) * 255 / 31), 0,
                 static_cast<std::uint8_t>(i % 32 * 255 / 31), 2};
  }
  std::int32_t Convert(std::uint32_t flags) {
    image_.Flags = flags;
    dest_.assign(260, kUntouchedEntry);
    slot_ = -9;
    TArgs_CGVwGetPalette00 args{dest_[0].data(), &image_, 0};
    return ServiceTable[kServiceGetPalette](&args, nullptr, &slot_);
  }
  void TearDown() override { EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld(); }

  testing_support::FaultScope faults_;
  testing_support::TestDrive drive_{'q'};
  TCGVwImage image_{0x41, 8, 8, 0, 0, nullptr, "pal.bg", 0x18, "pal.bg", 0, 0, nullptr};
  std::vector<Entry> dest_;
  std::int32_t slot_ = 0;
};

TEST_F(PaletteFile, DepthChoosesTheColourCount) {
  WriteWords(300);
  const std::pair<std::uint32_t, int> depths[] = {{0x00, 16}, {0x20, 128}, {0x40, 256}};
  for (const auto& [depth, colours] : depths) {
    SCOPED_TRACE("depth bits " + std::to_string(depth));
    ASSERT_EQ(Convert(depth | 0x201), 0);
    EXPECT_EQ(slot_, colours);
    EXPECT_EQ(dest_[0], Expected(0));
    EXPECT_EQ(dest_[colours - 1], Expected(colours - 1));
    EXPECT_EQ(dest_[colours], kUntouchedEntry);
  }
}

TEST_F(PaletteFile, SwapOffReadsLittleEndianWords) {
  WriteWords(256, true);
  ASSERT_EQ(Convert(0x141), 0);
  for (int i : {0, 1, 31, 255}) {
    EXPECT_EQ(dest_[i], Expected(i)) << "entry " << i;
  }
}

TEST_F(PaletteFile, AShortFileLeavesTheMissingColoursBlack) {
  WriteWords(10);
  ASSERT_EQ(Convert(0x00), 0);
  EXPECT_EQ(slot_, 16);
  EXPECT_EQ(dest_[9], Expected(9));
  EXPECT_EQ(dest_[10], (Entry{0, 0, 0, 2}));
  EXPECT_EQ(dest_[15], (Entry{0, 0, 0, 2}));
}

TEST_F(PaletteFile, DepthsWithoutAPaletteAreRefusedBeforeAnythingIsObtained) {
  WriteWords(256);
  for (std::uint32_t depth = 3; depth <= 7; ++depth) {
    EXPECT_EQ(Convert(depth << 5), -1) << depth;
    EXPECT_EQ(slot_, 0);
    EXPECT_EQ(dest_[0], kUntouchedEntry);
  }
  EXPECT_EQ(Calls(Point::HeapBuffer), 0);
  EXPECT_EQ(Calls(Point::FileOpen), 0);
}

TEST_F(PaletteFile, FailuresPassTheirStatusOnAndReleaseTheBuffer) {
  struct Case {
    const char* what;
    Point point;
    std::int32_t status;
  };
  WriteWords(256);
  for (const Case& c : {Case{"heap buffer", Point::HeapBuffer, -3},
                        Case{"open", Point::FileOpen, -2}, Case{"read", Point::FileRead, -2}}) {
    FailNth(c.point, 1);
    EXPECT_EQ(Convert(0x40), c.status) << c.what;
    EXPECT_EQ(slot_, 0) << c.what;
    EXPECT_EQ(dest_[0], kUntouchedEntry) << c.what;
    EXPECT_TRUE(NothingHeld()) << c.what << ": " << testing_support::DescribeHeld();
  }
  image_.PalFile = "nothere.bg";
  EXPECT_EQ(Convert(0x40), -2);
  EXPECT_EQ(slot_, 0);
  EXPECT_EQ(dest_[0], kUntouchedEntry);
}

}  // namespace
