// The source reader: one byte range of one file in the root of the source
// drive, always reached through its service slot.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cgvw/cgvw.h"
#include "platform/faults.h"
#include "test_support.h"

namespace {

using platform::faults::FailNth;
using platform::faults::Point;
using testing_support::NothingHeld;

constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::int32_t kSlotUnset = -77;

class ReadFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i) {
      bytes[i] = static_cast<std::uint8_t>(i);
    }
    drive_.WriteFile("bg000_0.bg", bytes);
  }
  void TearDown() override { EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld(); }

  // Reads through the service table into buffer_ (pre-filled with
  // kUntouched); slot_ keeps kSlotUnset unless the reader writes it.
  std::int32_t Read(const char* name, std::int32_t offset, std::int32_t size) {
    buffer_.assign(16, kUntouched);
    slot_ = kSlotUnset;
    TArgs_CGVwReadFile00 args;
    args.Buffer = buffer_.data();
    args.FileName = name;
    args.Offset = offset;
    args.Size = size;
    return ServiceTable[kServiceReadFile](&args, nullptr, &slot_);
  }
  bool BufferUntouchedFrom(std::size_t index) const {
    for (std::size_t i = index; i < buffer_.size(); ++i) {
      if (buffer_[i] != kUntouched) {
        return false;
      }
    }
    return true;
  }

  testing_support::FaultScope faults_;
  testing_support::TestDrive drive_{'q'};
  std::vector<std::uint8_t> buffer_;
  std::int32_t slot_ = kSlotUnset;
};

TEST_F(ReadFileTest, CopiesExactlyTheRangeAndReportsZero) {
  ASSERT_EQ(Read("bg000_0.bg", 0x18, 5), 0);
  EXPECT_EQ(slot_, 0);
  EXPECT_EQ(buffer_[0], 0x18);
  EXPECT_EQ(buffer_[4], 0x1C);
  EXPECT_TRUE(BufferUntouchedFrom(5));
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 1);
}

TEST_F(ReadFileTest, AFileEndingEarlyFillsOnlyWhatItHas) {
  ASSERT_EQ(Read("bg000_0.bg", 250, 10), 0);
  EXPECT_EQ(slot_, 0);
  EXPECT_EQ(buffer_[0], 250);
  EXPECT_EQ(buffer_[5], 255);
  EXPECT_TRUE(BufferUntouchedFrom(6));

  for (std::int32_t offset : {256, 1000, 0x7FFFFFFF}) {
    ASSERT_EQ(Read("bg000_0.bg", offset, 10), 0) << offset;
    EXPECT_EQ(slot_, 0);
    EXPECT_TRUE(BufferUntouchedFrom(0));
  }
}

TEST_F(ReadFileTest, ZeroBytesOpensTheFileAndSucceeds) {
  ASSERT_EQ(Read("bg000_0.bg", 0, 0), 0);
  EXPECT_EQ(slot_, 0);
  EXPECT_TRUE(BufferUntouchedFrom(0));
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 1);
  // Zero bytes of a missing file is still a missing file.
  EXPECT_EQ(Read("missing.bg", 0, 0), -2);
}

TEST_F(ReadFileTest, FailuresLeaveSlotAndBufferAlone) {
  struct Case {
    const char* what;
    const char* name;
    std::int32_t offset;
    std::int32_t size;
  };
  const Case cases[] = {
      {"missing file", "bg001_0.bg", 0, 4},
      {"negative offset", "bg000_0.bg", -1, 4},
      {"negative size", "bg000_0.bg", 0, -4},
      {"a name with a directory part", "..\\q\\bg000_0.bg", 0, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.name, c.offset, c.size), -2) << c.what;
    EXPECT_EQ(slot_, kSlotUnset) << c.what;
    EXPECT_TRUE(BufferUntouchedFrom(0)) << c.what;
    EXPECT_TRUE(NothingHeld()) << c.what << ": " << testing_support::DescribeHeld();
  }
}

TEST_F(ReadFileTest, InjectedOpenAndReadFailuresGiveMinusTwo) {
  FailNth(Point::FileOpen, 1);
  EXPECT_EQ(Read("bg000_0.bg", 0, 4), -2);
  EXPECT_EQ(slot_, kSlotUnset);
  EXPECT_TRUE(BufferUntouchedFrom(0));

  FailNth(Point::FileRead, 1);
  EXPECT_EQ(Read("bg000_0.bg", 0, 4), -2);
  EXPECT_EQ(slot_, kSlotUnset);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();

  EXPECT_EQ(Read("bg000_0.bg", 0, 4), 0);  // the faults fire once only
}

TEST_F(ReadFileTest, TheDriveLetterOfSourceRootChoosesTheDrive) {
  std::ofstream(drive_.AddDrive('r') / "bg000_0.bg", std::ios::binary) << "R";

  SourceRoot[0] = 'r';
  ASSERT_EQ(Read("bg000_0.bg", 0, 1), 0);
  EXPECT_EQ(buffer_[0], 'R');
  SourceRoot[0] = 'Q';  // the letter is taken in either case
  ASSERT_EQ(Read("bg000_0.bg", 0, 1), 0);
  EXPECT_EQ(buffer_[0], 0);
  SourceRoot[0] = 's';
  EXPECT_EQ(Read("bg000_0.bg", 0, 1), -2);
}

}  // namespace
