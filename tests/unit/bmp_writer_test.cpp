// Writing a locked DIB block as a BMP file: the file header in front of the
// block's bytes, in the current directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bmp_writer.h"
#include "cgvw/bytes.h"
#include "platform/faults.h"
#include "test_support.h"

namespace {

using app::BmpFileHeader;
using app::BmpWriteResult;
using app::WriteBmpFile;
using platform::faults::FailNth;
using platform::faults::Point;
using testing_support::ReadWholeFile;

// A block of the given size whose bytes count up, so that any shift or
// truncation shows.
std::vector<std::uint8_t> Block(std::size_t bytes) {
  std::vector<std::uint8_t> block(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    block[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  return block;
}

bool SameHeader(const app::TBmpFileHeader& a, const app::TBmpFileHeader& b) {
  return a.bfType == b.bfType && a.bfSize == b.bfSize && a.bfReserved1 == b.bfReserved1 &&
         a.bfReserved2 == b.bfReserved2 && a.bfOffBits == b.bfOffBits;
}

class BmpWriter : public testing::Test {
 protected:
  ~BmpWriter() override { BmpFileHeader = saved_; }
  void TearDown() override {
    EXPECT_TRUE(testing_support::NothingHeld()) << testing_support::DescribeHeld();
  }

  std::filesystem::path File(const char* name) const { return dir_.path() / name; }

  // Writes `block` and checks the whole file: the 14-byte header, then the
  // first bfSize - 14 bytes of the block.
  void WriteAndCheck(std::uint16_t bitCount, std::uint32_t imageSize, std::uint32_t offBits,
                     std::size_t spare = 0) {
    SCOPED_TRACE(testing::Message() << "bit count " << bitCount);
    const std::uint32_t fileSize = offBits + imageSize;
    const auto block = Block(fileSize - 14 + spare);
    ASSERT_EQ(WriteBmpFile("out.bmp", block, bitCount, imageSize), BmpWriteResult::kWritten);
    const auto file = ReadWholeFile(File("out.bmp"));
    ASSERT_EQ(file.size(), fileSize);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(cgvw::LoadLE32(&file[2]), fileSize);
    EXPECT_EQ(cgvw::LoadLE32(&file[6]), 0u);  // both reserved words
    EXPECT_EQ(cgvw::LoadLE32(&file[10]), offBits);
    EXPECT_TRUE(std::equal(file.begin() + 14, file.end(), block.begin()));
    EXPECT_EQ(BmpFileHeader.bfSize, fileSize);
    EXPECT_EQ(BmpFileHeader.bfOffBits, offBits);
  }

  testing_support::FaultScope faults_;
  testing_support::TempDir dir_;
  testing_support::CurrentDirScope cwd_{dir_.path()};
  app::TBmpFileHeader saved_ = BmpFileHeader;
};

TEST_F(BmpWriter, EachBitCountGetsItsOwnPixelOffset) {
  WriteAndCheck(8, 41472, 1078);  // a 288 x 144 background: 42550 bytes
  WriteAndCheck(24, 24, 54);      // 3 x 2, no colour table
  WriteAndCheck(4, 8, 118);       // 5 x 2, 16 colours
  WriteAndCheck(8, 8736, 1078);   // a portrait: 9814 bytes
  // Bytes of the block past the pixels are not written.
  WriteAndCheck(8, 85248, 1078, 100);
}

TEST_F(BmpWriter, AnExistingFileIsReplacedEvenByAShorterOne) {
  std::ofstream(File("out.bmp"), std::ios::binary) << std::string(5000, 'x');
  WriteAndCheck(24, 4, 54);
}

TEST_F(BmpWriter, CreateFailureLeavesNoFileAndTheHeaderAlone) {
  const auto before = BmpFileHeader;
  const auto block = Block(40 + 16);
  FailNth(Point::FileCreate, 1);
  EXPECT_EQ(WriteBmpFile("out.bmp", block, 24, 16), BmpWriteResult::kCreateFailed);
  EXPECT_FALSE(std::filesystem::exists(File("out.bmp")));
  EXPECT_TRUE(SameHeader(BmpFileHeader, before));

  // A directory of that name cannot be replaced by the file.
  std::filesystem::create_directory(File("dir.bmp"));
  EXPECT_EQ(WriteBmpFile("dir.bmp", block, 24, 16), BmpWriteResult::kCreateFailed);
  EXPECT_TRUE(std::filesystem::is_directory(File("dir.bmp")));
  EXPECT_TRUE(SameHeader(BmpFileHeader, before));
}

TEST_F(BmpWriter, AFailedWriteRemovesTheIncompleteFile) {
  const auto block = Block(40 + 1024 + 64);
  for (long nth : {1, 2}) {
    SCOPED_TRACE("failing write " + std::to_string(nth));
    std::ofstream(File("out.bmp"), std::ios::binary) << "older contents";
    FailNth(Point::FileWrite, nth);
    EXPECT_EQ(WriteBmpFile("out.bmp", block, 8, 64), BmpWriteResult::kWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(File("out.bmp")));
    EXPECT_TRUE(testing_support::NothingHeld()) << testing_support::DescribeHeld();
  }
}

TEST_F(BmpWriter, BlocksTheWriterCannotLayOutAreRefusedBeforeCreating) {
  const auto before = BmpFileHeader;
  const auto big = Block(2000);
  for (std::uint16_t bitCount : {0, 1, 2, 15, 16, 32}) {
    EXPECT_EQ(WriteBmpFile("out.bmp", big, bitCount, 16), BmpWriteResult::kCreateFailed)
        << bitCount;
  }
  // One byte short of header, colour table and pixels.
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(40 + 1024 + 63), 8, 64), BmpWriteResult::kCreateFailed);
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(40 + 64 + 7), 4, 8), BmpWriteResult::kCreateFailed);
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(40 + 23), 24, 24), BmpWriteResult::kCreateFailed);
  EXPECT_EQ(WriteBmpFile("out.bmp", big, 24, 0xFFFFFFF0u), BmpWriteResult::kCreateFailed);
  EXPECT_EQ(platform::faults::Calls(Point::FileCreate), 0);
  EXPECT_FALSE(std::filesystem::exists(File("out.bmp")));
  EXPECT_TRUE(SameHeader(BmpFileHeader, before));
}

}  // namespace
