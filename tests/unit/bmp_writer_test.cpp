// Picture files. Writing a DIB (a locked block's, or a picture's) as a BMP
// file through the BMP encoder: the file header in front of the block's
// bytes, in the current directory. And the PNG files
// of pictures of every depth, read back by an independent reader (stb_image)
// and compared with the BMP file of the same picture.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cgvw/bytes.h"
#include "cgvw/decode.h"
#include "dib_test_util.h"
#include "encoders.h"
#ifndef _WIN32
#include "failing_new.h"
#endif
#include "picture_reader.h"
#include "platform/faults.h"
#include "platform/output_files.h"
#include "png_writer.h"
#include "test_support.h"

namespace {

using testing_support::Rgb;

using app::WriteOutcome;
using platform::faults::FailNth;
using platform::faults::Point;
using testing_support::ReadWholeFile;

// A block of the given size whose bytes count up, so that any shift or
// truncation shows, with a header of the bit count and image size (the
// only fields the writer reads).
std::vector<std::uint8_t> Block(std::size_t bytes, std::uint16_t bitCount,
                                std::uint32_t imageSize) {
  std::vector<std::uint8_t> block(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    block[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  if (bytes >= 40) {
    cgvw::StoreLE16(&block[14], bitCount);
    cgvw::StoreLE32(&block[20], imageSize);
  }
  return block;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

bool SameHeader(const app::TBmpFileHeader& a, const app::TBmpFileHeader& b) {
  return a.bfType == b.bfType && a.bfSize == b.bfSize && a.bfReserved1 == b.bfReserved1 &&
         a.bfReserved2 == b.bfReserved2 && a.bfOffBits == b.bfOffBits;
}

class BmpWriter : public testing::Test {
 protected:
  // Writes the block as the run does: read as a picture (a block that is
  // none is refused before anything is created), then its file.
  WriteOutcome WriteBmpFile(const char* name, const std::vector<std::uint8_t>& block) {
    const auto picture = cgvw::PictureView::FromDib(block);
    std::string why;
    return picture ? app::WritePictureFile(name, *picture, encoder_, &why) : WriteOutcome::kRefused;
  }
  const app::TBmpFileHeader& BmpFileHeader() const { return encoder_.record(); }

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
    const auto block = Block(fileSize - 14 + spare, bitCount, imageSize);
    ASSERT_EQ(WriteBmpFile("out.bmp", block), WriteOutcome::kWritten);
    const auto file = ReadWholeFile(File("out.bmp"));
    ASSERT_EQ(file.size(), fileSize);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(cgvw::LoadLE32(&file[2]), fileSize);
    EXPECT_EQ(cgvw::LoadLE32(&file[6]), 0u);  // both reserved words
    EXPECT_EQ(cgvw::LoadLE32(&file[10]), offBits);
    EXPECT_TRUE(std::equal(file.begin() + 14, file.end(), block.begin()));
    EXPECT_EQ(BmpFileHeader().bfSize, fileSize);
    EXPECT_EQ(BmpFileHeader().bfOffBits, offBits);
  }

  testing_support::FaultScope faults_;
  testing_support::TempDir dir_;
  testing_support::CurrentDirScope cwd_{dir_.path()};
  app::BmpEncoder encoder_;
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
  const auto before = BmpFileHeader();
  const auto block = Block(40 + 16, 24, 16);
  FailNth(Point::FileCreate, 1);
  EXPECT_EQ(WriteBmpFile("out.bmp", block), WriteOutcome::kCreateFailed);
  EXPECT_FALSE(std::filesystem::exists(File("out.bmp")));
  EXPECT_TRUE(SameHeader(BmpFileHeader(), before));

  // A directory, a pipe or a read-only file of that name is not replaced
  // by the file: refused when it is created, or (where the rename looks at
  // a name that exists) when it is put in place. The header record is then
  // that of the picture, as after any failed write: the next file sets it
  // whole again.
  std::filesystem::create_directory(File("dir.bmp"));
  EXPECT_NE(WriteBmpFile("dir.bmp", block), WriteOutcome::kWritten);
  EXPECT_TRUE(std::filesystem::is_directory(File("dir.bmp")));
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(File("pipe.bmp").c_str(), 0600), 0);
  EXPECT_NE(WriteBmpFile("pipe.bmp", block), WriteOutcome::kWritten);
  EXPECT_TRUE(std::filesystem::is_fifo(File("pipe.bmp")));
#endif
  std::ofstream(File("read-only.bmp"), std::ios::binary) << "keep";
  std::filesystem::permissions(File("read-only.bmp"), std::filesystem::perms::owner_read);
  testing_support::AsUnprivilegedUser(dir_.path(), [&] {
    EXPECT_NE(WriteBmpFile("read-only.bmp", block), WriteOutcome::kWritten);
    EXPECT_EQ(ReadWholeFile(File("read-only.bmp")), Bytes("keep"));
  });
  std::filesystem::permissions(File("read-only.bmp"), std::filesystem::perms::owner_all);
  EXPECT_EQ(BmpFileHeader().bfType, before.bfType);
  EXPECT_FALSE(std::filesystem::exists(platform::TemporaryNameFor(File("dir.bmp").string())));
}

// A failure anywhere between creating the file and putting it in place (a
// full disk, a close that reports a lost write, a rename that fails) keeps
// the earlier file of that name as it was and leaves nothing else behind.
TEST_F(BmpWriter, AFailedRewriteKeepsTheEarlierFile) {
  const auto block = Block(40 + 1024 + 64, 8, 64);
  const std::pair<Point, long> failures[] = {
      {Point::FileWrite, 1}, {Point::FileWrite, 2}, {Point::FileClose, 1}, {Point::FileReplace, 1}};
  for (const auto& [point, nth] : failures) {
    SCOPED_TRACE(::testing::Message() << "failure " << static_cast<int>(point) << " #" << nth);
    platform::faults::Reset();
    std::ofstream(File("out.bmp"), std::ios::binary) << "older contents";
    FailNth(point, nth);
    EXPECT_EQ(WriteBmpFile("out.bmp", block), WriteOutcome::kWriteFailed);
    EXPECT_EQ(ReadWholeFile(File("out.bmp")), Bytes("older contents"));
    EXPECT_EQ(testing_support::ListDirectory(dir_.path()), std::vector<std::string>{"out.bmp"});
    EXPECT_TRUE(testing_support::NothingHeld()) << testing_support::DescribeHeld();
  }
}

#ifndef _WIN32
// Whatever the final name is a link to, the link is replaced by the file and
// its target is left alone: a file elsewhere, a name that does not exist
// yet, and a second name of the same file.
TEST_F(BmpWriter, ALinkAtTheNameIsReplacedNotWrittenThrough) {
  const testing_support::TempDir elsewhere;
  const auto target = elsewhere.path() / "target";
  const auto block = Block(40 + 24, 24, 24);
  std::ofstream(target, std::ios::binary) << "target";
  std::filesystem::create_symlink(target, File("link.bmp"));
  std::filesystem::create_symlink(elsewhere.path() / "absent", File("dangling.bmp"));
  std::ofstream(File("hard.bmp"), std::ios::binary) << "target";
  std::filesystem::create_hard_link(File("hard.bmp"), elsewhere.path() / "other-name");
  for (const char* name : {"link.bmp", "dangling.bmp", "hard.bmp"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(WriteBmpFile(name, block), WriteOutcome::kWritten);
    EXPECT_FALSE(std::filesystem::is_symlink(File(name)));
    EXPECT_EQ(ReadWholeFile(File(name)).size(), 14u + 40 + 24);
  }
  EXPECT_EQ(ReadWholeFile(target), Bytes("target"));
  EXPECT_EQ(ReadWholeFile(elsewhere.path() / "other-name"), Bytes("target"));
  EXPECT_FALSE(std::filesystem::exists(elsewhere.path() / "absent"));
}
#endif

TEST_F(BmpWriter, BlocksTheWriterCannotLayOutAreRefusedBeforeCreating) {
  const auto before = BmpFileHeader();
  for (std::uint16_t bitCount : {0, 1, 2, 15, 16, 32}) {
    EXPECT_EQ(WriteBmpFile("out.bmp", Block(2000, bitCount, 16)), WriteOutcome::kRefused)
        << bitCount;
  }
  // One byte short of header, colour table and pixels; shorter than a header.
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(40 + 1024 + 63, 8, 64)), WriteOutcome::kRefused);
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(40 + 64 + 7, 4, 8)), WriteOutcome::kRefused);
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(40 + 23, 24, 24)), WriteOutcome::kRefused);
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(2000, 24, 0xFFFFFFF0u)), WriteOutcome::kRefused);
  EXPECT_EQ(WriteBmpFile("out.bmp", Block(39, 24, 0)), WriteOutcome::kRefused);
  EXPECT_EQ(platform::faults::Calls(Point::FileCreate), 0);
  EXPECT_FALSE(std::filesystem::exists(File("out.bmp")));
  EXPECT_TRUE(SameHeader(BmpFileHeader(), before));
}

// ---------------------------------------------------------------------------
// PNG files

using Colour = std::array<std::uint8_t, 3>;  // red, green, blue

// Odd widths, so that 4-bit rows end in half a byte and 24-bit rows are
// padded in the BMP file.
TEST(PngFiles, EveryDepthShowsTheBmpFilesPixels) {
  std::string why;
  if (!app::PngAvailable(&why)) {
#if TVRCGCV_PNG_EXPECTED
    FAIL() << why;
#else
    GTEST_SKIP() << why;  // a cross build under an emulator without the target's libspng
#endif
  }
  // Palette word k: red k & 31, green k >> 5 & 31, blue 31 - (k & 31).
  testing_support::Bytes palette;
  for (unsigned k = 0; k < 256; ++k) {
    palette.BE16(static_cast<std::uint16_t>((k & 31) | (k >> 5 & 31) << 5 | (31 - (k & 31)) << 10));
  }
  const struct {
    const char* what;
    std::uint32_t flags;
    std::uint16_t width, height;
    std::vector<std::uint8_t> pixelFile;
    std::uint8_t bitDepth, colourType;  // of the IHDR chunk
    std::vector<int> indices;           // the pictures's pixels, rows from the top
    std::vector<Colour> colours;        // or their colours
  } kCases[] = {
      {"4-bit, 3 x 2", 0x00, 3, 2, {0x12, 0x34, 0x50}, 4, 3, {1, 2, 3, 4, 5, 0}, {}},
      {"8-bit, 128 colours, 5 x 2",
       0x20,
       5,
       2,
       {0, 1, 33, 64, 127, 100, 99, 2, 126, 65},
       8,
       3,
       {0, 1, 33, 64, 127, 100, 99, 2, 126, 65},
       {}},
      {"15-bit, 3 x 1",
       0x60,
       3,
       1,
       {0x00, 0x1F, 0x7C, 0x00, 0x03, 0xE0},
       8,
       2,
       {},
       {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    cgvw::MemorySource disc;
    ASSERT_EQ(disc.Add("pic.bpl", palette.get()), cgvw::Status::Ok);
    ASSERT_EQ(disc.Add("pic.btx", c.pixelFile), cgvw::Status::Ok);
    const TCGVwImage image{c.flags,
                           c.width,
                           c.height,
                           0,
                           0,
                           nullptr,
                           "pic.bpl",
                           0,
                           "pic.btx",
                           0,
                           static_cast<std::uint32_t>(c.pixelFile.size()),
                           nullptr};
    const cgvw::Result<cgvw::Picture> picture = cgvw::Decode(image, disc);
    ASSERT_TRUE(picture) << cgvw::StatusText(picture.status());
    std::vector<std::uint8_t> png;
#ifndef _WIN32
    // Memory that runs out anywhere on the way says so, and throws nothing.
    for (long n = 1; n <= 3; ++n) {
      testing_support::allocations::Count(n);
      const bool encoded = app::EncodePng(picture->view(), &png, &why);
      if (testing_support::allocations::Stop() >= n) {
        EXPECT_FALSE(encoded);
        EXPECT_EQ(why, "out of memory");
      }
    }
#endif
    ASSERT_TRUE(app::EncodePng(picture->view(), &png, &why)) << why;

    // IHDR, the first chunk: width, height, bit depth, colour type.
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(cgvw::LoadBE32(&png[16]), c.width);
    EXPECT_EQ(cgvw::LoadBE32(&png[20]), c.height);
    EXPECT_EQ(png[24], c.bitDepth);
    EXPECT_EQ(png[25], c.colourType);

    const auto header = picture->BmpFileHeader();
    std::vector<std::uint8_t> bmp(header.begin(), header.end());
    bmp.insert(bmp.end(), picture->dib().begin(), picture->dib().end());
    int bmpWidth = 0, bmpHeight = 0, pngWidth = 0, pngHeight = 0;
    const std::vector<std::uint8_t> fromBmp = Rgb(bmp, &bmpWidth, &bmpHeight);
    const std::vector<std::uint8_t> fromPng = Rgb(png, &pngWidth, &pngHeight);
    ASSERT_FALSE(fromPng.empty()) << stbi_failure_reason();
    ASSERT_FALSE(fromBmp.empty()) << stbi_failure_reason();
    EXPECT_EQ(pngWidth, c.width);
    EXPECT_EQ(pngHeight, c.height);
    EXPECT_TRUE(fromPng == fromBmp) << "the PNG file's pixels differ from the BMP file's";

    // Each pixel is the colour the picture gives it.
    const std::span<const std::uint8_t> table = picture->colourTable();
    for (std::size_t i = 0; i < fromPng.size() / 3; ++i) {
      Colour expected{};
      if (c.indices.empty()) {
        expected = c.colours.at(i);
      } else {
        const std::size_t entry = 4 * static_cast<std::size_t>(c.indices.at(i));
        expected = {table[entry + 2], table[entry + 1], table[entry]};
      }
      EXPECT_EQ((Colour{fromPng[3 * i], fromPng[3 * i + 1], fromPng[3 * i + 2]}), expected)
          << "pixel " << i % c.width << ", " << i / c.width;
    }
  }
}

// A picture whose header promises more rows than its pixels hold is
// refused before anything is encoded, and the output is left alone.
TEST(PngFiles, APictureWithoutAllItsRowsIsRefused) {
  std::string why;
  if (!app::PngAvailable(&why)) {
    GTEST_SKIP() << why;
  }
  std::vector<std::uint8_t> dib(40 + 16);
  cgvw::StoreLE32(&dib[0], 40);
  cgvw::StoreLE32(&dib[4], 4);   // width
  cgvw::StoreLE32(&dib[8], 4);   // height: 4 rows of 12 bytes
  cgvw::StoreLE16(&dib[12], 1);  // planes
  cgvw::StoreLE16(&dib[14], 24);
  cgvw::StoreLE32(&dib[20], 16);  // the pixels: 16 bytes only
  const auto picture = cgvw::PictureView::FromDib(dib);
  ASSERT_TRUE(picture);
  std::vector<std::uint8_t> png = {1, 2, 3};
  EXPECT_FALSE(app::EncodePng(*picture, &png, &why));
  EXPECT_EQ(why, "the picture's rows are not all there");
  EXPECT_EQ(png, (std::vector<std::uint8_t>{1, 2, 3}));
}

}  // namespace
