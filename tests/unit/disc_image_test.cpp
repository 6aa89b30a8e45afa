// Source drives that are disc images. The reader must answer exactly as on a
// directory drive holding the same files, find names the same way, and fail
// to open anything on a damaged image without harm.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cgvw/cgvw.h"
#include "disc_images.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FaultScope;
using testing_support::HaveXorriso;
using testing_support::ImageKind;
using testing_support::KindName;
using testing_support::MakeImage;
using testing_support::NothingHeld;
using testing_support::TempDir;
using testing_support::TestDrive;

constexpr char kDirectoryDrive = 'q';
constexpr char kImageDrive = 'r';
constexpr std::uint8_t kUntouched = 0xA5;

std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  std::minstd_rand random(seed);
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
  WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

struct Outcome {
  std::int32_t status;
  std::int32_t result;
  std::vector<std::uint8_t> buffer;  // Size bytes and 16 more, all kUntouched before
  bool operator==(const Outcome&) const = default;
};

// One request through the reader, as a decoder makes it.
Outcome Read(char drive, const std::string& name, std::int32_t offset, std::int32_t size) {
  SourceRoot[0] = drive;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max(size, 0)) + 16, kUntouched);
  TArgs_CGVwReadFile00 args;
  args.Buffer = buffer.data();
  args.FileName = name;
  args.Offset = offset;
  args.Size = size;
  std::int32_t result = 77;
  const std::int32_t status = CGVwReadFile(&args, nullptr, &result);
  return {status, result, std::move(buffer)};
}

std::vector<std::uint8_t> ReadAll(char drive, const std::string& name, std::size_t size) {
  Outcome outcome = Read(drive, name, 0, static_cast<std::int32_t>(size));
  if (outcome.status != 0) {
    return {};
  }
  outcome.buffer.resize(size);
  return outcome.buffer;
}

// Points a drive letter of the test's drive root at a directory or an image.
void LinkDrive(const TestDrive& drive, char letter, const fs::path& target) {
  const fs::path link = drive.root() / std::string(1, letter);
  std::error_code ignored;
  fs::remove_all(link, ignored);
  fs::create_symlink(target, link);
}

// The files of the test disc. Sizes put ends inside and at the edge of a
// sector, and one file spans many multi-sector reads.
struct DiscFile {
  const char* name;
  std::size_t size;
};
constexpr DiscFile kDiscFiles[] = {
    {"Tesuna.bpl", 13}, {"bg000_0.bg", 5000}, {"BIG.DAT", 300000},
    {"EMPTY.DAT", 0},   {"SECTOR.DAT", 4096}, {"README", 700},
};

// Names that only Joliet and Rock Ridge keep: long, mixed case, several
// that differ only in case, and a file in a directory.
constexpr char kLongName[] = "A Very Long Mixed-Case Name.data";

class ImageDriveTest : public ::testing::TestWithParam<ImageKind> {
 protected:
  static void SetUpTestSuite() {
    if (!HaveXorriso()) {
      return;
    }
    work_ = new TempDir;
    unsigned seed = 1;
    for (const DiscFile& file : kDiscFiles) {
      WriteBytes(Disc() / file.name, Pattern(file.size, seed++));
    }
    WriteText(Names() / kLongName, "long");
    WriteText(Names() / "case.bin", "lower");
    WriteText(Names() / "CASE.bin", "upper");
    WriteText(Names() / "Case.bin", "title");
    WriteText(Names() / "sub" / "Inner.txt", "inner");
  }
  static void TearDownTestSuite() {
    delete work_;
    work_ = nullptr;
  }
  static fs::path Disc() { return work_->path() / "disc"; }
  static fs::path Names() { return work_->path() / "names"; }

  void SetUp() override {
    if (!HaveXorriso()) {
      GTEST_SKIP() << "xorriso is not installed";
    }
#if !TVRCGCV_DISC_IMAGES
    GTEST_SKIP() << "built without disc image support";
#endif
  }

  // Makes an image of `tree` in a directory of its own and links the image
  // drive to it; the directory drive links to the tree itself.
  void UseImageOf(const fs::path& tree) {
    const fs::path directory = images_.path() / std::to_string(counter_++);
    fs::create_directory(directory);
    const fs::path image = MakeImage(tree, directory, GetParam());
    ASSERT_FALSE(image.empty()) << "could not make the " << KindName(GetParam()) << " image";
    LinkDrive(drive_, kDirectoryDrive, tree);
    LinkDrive(drive_, kImageDrive, image);
  }

  FaultScope faults_;
  TestDrive drive_{kDirectoryDrive};
  TempDir images_;
  int counter_ = 0;

 private:
  static TempDir* work_;
};
TempDir* ImageDriveTest::work_ = nullptr;

TEST_P(ImageDriveTest, EveryRangeReadsAsFromTheDirectory) {
  UseImageOf(Disc());
  unsigned seed = 1;
  for (const DiscFile& file : kDiscFiles) {
    SCOPED_TRACE(file.name);
    const auto size = static_cast<std::int32_t>(file.size);
    EXPECT_EQ(ReadAll(kImageDrive, file.name, file.size), Pattern(file.size, seed++));
    // Whole, empty, across and at sector edges, ending past the end,
    // starting at and past the end, and the ranges the reader refuses.
    const std::pair<std::int32_t, std::int32_t> ranges[] = {
        {0, size},       {0, 0},           {1, 10},       {2047, 2}, {2048, 2048},
        {2040, 5000},    {size / 2, size}, {size - 1, 1}, {size, 4}, {size + 5000, 4},
        {0, size + 100}, {70000, 140000},  {-1, 4},       {0, -1},
    };
    for (const auto& [offset, length] : ranges) {
      SCOPED_TRACE(::testing::Message() << "offset " << offset << ", size " << length);
      EXPECT_EQ(Read(kImageDrive, file.name, offset, length),
                Read(kDirectoryDrive, file.name, offset, length));
    }
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST_P(ImageDriveTest, NamesAreFoundAsOnTheDirectory) {
  UseImageOf(Disc());
  // Other cases of existing names are found; the ISO 9660 version and the
  // '.' of a name without extension are no part of a name.
  for (const char* name : {"tesuna.bpl", "TESUNA.BPL", "Bg000_0.Bg", "big.dat", "readme"}) {
    SCOPED_TRACE(name);
    const Outcome outcome = Read(kImageDrive, name, 0, 16);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome, Read(kDirectoryDrive, name, 0, 16));
  }
  for (const char* name : {"missing.bpl", "TESUNA.BPL;1", "README.", "Tesuna", "bg000_0.bg.",
                           "EMPTY.DAT\\x", "\\BIG.DAT"}) {
    SCOPED_TRACE(name);
    const Outcome outcome = Read(kImageDrive, name, 0, 16);
    EXPECT_EQ(outcome.status, kCGVwCannotOpen);
    EXPECT_EQ(outcome.result, 77);
    EXPECT_EQ(outcome.buffer, std::vector<std::uint8_t>(32, kUntouched));
  }
}

TEST_P(ImageDriveTest, LongAndCaseVariantNamesOfTheExtensions) {
  if (GetParam() == ImageKind::Iso9660) {
    GTEST_SKIP() << "plain ISO 9660 keeps only 8.3 upper-case names";
  }
  UseImageOf(Names());
  const std::pair<const char*, const char*> lookups[] = {
      {kLongName, "long"},         {"a very long mixed-case name.DATA", "long"},
      {"case.bin", "lower"},  // exact names win
      {"CASE.bin", "upper"},       {"Case.bin", "title"},
      {"cASE.BIN", "upper"},  // else the first in byte order
      {"SUB\\inner.TXT", "inner"},
  };
  for (const auto& [name, text] : lookups) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> expected(text, text + std::string(text).size());
    EXPECT_EQ(ReadAll(kImageDrive, name, expected.size()), expected);
    EXPECT_EQ(ReadAll(kDirectoryDrive, name, expected.size()), expected);
  }
  EXPECT_EQ(Read(kImageDrive, "sub", 0, 4).status, kCGVwCannotOpen);  // a directory
}

TEST_P(ImageDriveTest, HandlesReadOnFromWhereTheyStopped) {
  UseImageOf(Disc());
  const std::vector<std::uint8_t> expected = Pattern(5000, 2);
  platform::HANDLE file =
      platform::CreateFileA("r:\\bg000_0.bg", platform::GENERIC_READ, 0, nullptr,
                            platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, platform::INVALID_HANDLE_VALUE);
  std::vector<std::uint8_t> buffer(6000);
  platform::DWORD got = 0;
  EXPECT_EQ(platform::SetFilePointer(file, 100, nullptr, platform::FILE_BEGIN), 100u);
  EXPECT_NE(platform::ReadFile(file, buffer.data(), 3000, &got, nullptr), 0);
  EXPECT_EQ(got, 3000u);
  EXPECT_NE(platform::ReadFile(file, buffer.data() + 3000, 3000, &got, nullptr), 0);
  EXPECT_EQ(got, 1900u);  // the rest of the file
  EXPECT_TRUE(std::equal(expected.begin() + 100, expected.end(), buffer.begin()));
  EXPECT_NE(platform::ReadFile(file, buffer.data(), 10, &got, nullptr), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(platform::WriteFile(file, buffer.data(), 1, nullptr, nullptr), 0);  // read-only
  EXPECT_NE(platform::CloseHandle(file), 0);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ImageDriveTest,
                         ::testing::ValuesIn(testing_support::kAllImageKinds),
                         [](const auto& info) { return KindName(info.param); });

}  // namespace
