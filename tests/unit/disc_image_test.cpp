// Source drives that are disc images. The reader must answer exactly as on a
// directory drive holding the same files, find names the same way, and fail
// to open anything on a damaged image without harm.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cgvw/cgvw.h"
#include "cgvw/disc_image.h"
#if TVRCGCV_CHD
#include "containers.h"
#include "tracks.h"
#endif
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
using testing_support::WhyNoDiscImages;

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

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << "status " << outcome.status << ", result " << outcome.result << ", buffer";
  for (std::size_t i = 0; i < std::min<std::size_t>(outcome.buffer.size(), 24); ++i) {
    *out << ' ' << std::hex << int{outcome.buffer[i]} << std::dec;
  }
  *out << (outcome.buffer.size() > 24 ? " ..." : "") << " (" << outcome.buffer.size() << " bytes)";
}

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
    images_ = new std::map<std::pair<std::string, ImageKind>, fs::path>;
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
    delete images_;
    images_ = nullptr;
    delete work_;
    work_ = nullptr;
  }
  static fs::path Disc() { return work_->path() / "disc"; }
  static fs::path Names() { return work_->path() / "names"; }

  void SetUp() override {
    if (const std::string why = WhyNoDiscImages(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    if (const std::string why = testing_support::WhyNoImageOf(GetParam()); !why.empty()) {
      GTEST_SKIP() << why;
    }
    if (const std::string why = testing_support::WhyNoChd();
        testing_support::IsChdKind(GetParam()) && !why.empty()) {
      GTEST_SKIP() << why;
    }
  }

  // Links the image drive to the image of `tree` (made once per suite) and
  // the directory drive to the tree itself.
  void UseImageOf(const fs::path& tree) {
    const auto key = std::pair{tree.string(), GetParam()};
    fs::path& image = (*images_)[key];
    if (image.empty()) {
      const fs::path directory =
          work_->path() / "images" / (tree.filename().string() + KindName(GetParam()));
      fs::create_directories(directory);
      image = MakeImage(tree, directory, GetParam());
    }
    ASSERT_FALSE(image.empty()) << "could not make the " << KindName(GetParam()) << " image";
    linked_ = image;
    LinkDrive(drive_, kDirectoryDrive, tree);
    LinkDrive(drive_, kImageDrive, image);
  }

  FaultScope faults_;
  TestDrive drive_{kDirectoryDrive};
  fs::path linked_;  // the image UseImageOf linked

 private:
  static TempDir* work_;
  static std::map<std::pair<std::string, ImageKind>, fs::path>* images_;
};
TempDir* ImageDriveTest::work_ = nullptr;
std::map<std::pair<std::string, ImageKind>, fs::path>* ImageDriveTest::images_ = nullptr;

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

// Among the files an image is made of (a descriptor or sheet with the
// files it names), the disc is the one file that names the others.
TEST_P(ImageDriveTest, TheDiscIsFoundAmongItsOwnFiles) {
  UseImageOf(Disc());
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(linked_.parent_path())) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(cgvw::FindDiscImages(files), std::vector<std::string>{linked_.string()})
      << ::testing::PrintToString(files);
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

// Damaged images. Every request gives -2 with nothing written, or status 0
// with the file's true bytes; nothing crashes, hangs or writes past the
// caller's buffer.
class DamagedImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = WhyNoDiscImages(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    unsigned seed = 100;
    for (const DiscFile& file : kDiscFiles) {
      contents_.push_back(Pattern(file.size, seed++));
      WriteBytes(work_.path() / "disc" / file.name, contents_.back());
    }
    const fs::path iso = MakeImage(work_.path() / "disc", work_.path(), ImageKind::RockRidge);
    ASSERT_FALSE(iso.empty());
    image_ = testing_support::ReadWholeFile(iso);
  }

  // Links the image drive to a new file holding `bytes`.
  void UseImage(const std::vector<std::uint8_t>& bytes, const std::string& extension = ".iso") {
    const fs::path path = work_.path() / ("damaged" + std::to_string(counter_++) + extension);
    WriteBytes(path, bytes);
    LinkDrive(drive_, kImageDrive, path);
  }

  // Reads every file whole; each read either fails cleanly or is right.
  // Returns how many failed.
  int ReadEveryFile() {
    int failed = 0;
    for (std::size_t i = 0; i < std::size(kDiscFiles); ++i) {
      const auto size = static_cast<std::int32_t>(kDiscFiles[i].size);
      const Outcome outcome = Read(kImageDrive, kDiscFiles[i].name, 0, size);
      std::vector<std::uint8_t> expected = contents_[i];
      expected.resize(expected.size() + 16, kUntouched);
      if (outcome.status == kCGVwCannotOpen) {
        ++failed;
        EXPECT_EQ(outcome.result, 77);
        EXPECT_EQ(outcome.buffer, std::vector<std::uint8_t>(expected.size(), kUntouched))
            << kDiscFiles[i].name;
      } else {
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.buffer, expected) << kDiscFiles[i].name;
      }
    }
    return failed;
  }

  FaultScope faults_;
  TestDrive drive_{kDirectoryDrive};
  TempDir work_;
  std::vector<std::vector<std::uint8_t>> contents_;
  std::vector<std::uint8_t> image_;
  int counter_ = 0;
};

constexpr std::size_t kSector = 2048;
constexpr std::size_t kVolumeDescriptor = 16 * kSector;

TEST_F(DamagedImageTest, ImagesWithoutAFileSystemOpenNothing) {
  const int all = static_cast<int>(std::size(kDiscFiles));
  // Cut before, inside and right after the primary volume descriptor.
  for (const std::size_t cut : {std::size_t{0}, std::size_t{1000}, kVolumeDescriptor,
                                kVolumeDescriptor + 100, kVolumeDescriptor + kSector}) {
    SCOPED_TRACE(::testing::Message() << "cut at " << cut);
    UseImage({image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(cut)});
    EXPECT_EQ(ReadEveryFile(), all);
  }
  UseImage(Pattern(1 << 20, 7));
  EXPECT_EQ(ReadEveryFile(), all);
  UseImage(Pattern(4000, 8), ".cue");
  EXPECT_EQ(ReadEveryFile(), all);
  UseImage(std::vector<std::uint8_t>(image_.size(), 0));
  EXPECT_EQ(ReadEveryFile(), all);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST_F(DamagedImageTest, RootDirectoryOutsideTheImageOpensNothing) {
  // The root directory record of the primary volume descriptor: extent and
  // size, each stored little- and then big-endian.
  constexpr std::size_t kRootRecord = kVolumeDescriptor + 156;
  const auto put = [](std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
      bytes[at + 7 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  };
  for (const auto& [field, value] :
       {std::pair{2, 0x00FFFFF0u}, {2, 0xFFFFFFF0u}, {10, 0xFFFFF800u}, {10, 0x7FFFF800u}}) {
    SCOPED_TRACE(::testing::Message() << "field " << field << " = " << value);
    std::vector<std::uint8_t> bytes = image_;
    put(bytes, kRootRecord + field, value);
    UseImage(bytes);
    ReadEveryFile();
  }
}

TEST_F(DamagedImageTest, TruncatedFileDataFailsAsAReadError) {
  // Cut the image 1000 bytes into the big file's second sector: its first
  // sector is still there, the rest is not.
  const std::vector<std::uint8_t>& big = contents_[2];
  const auto start = std::search(image_.begin(), image_.end(), big.begin(), big.begin() + 64);
  ASSERT_NE(start, image_.end());
  UseImage({image_.begin(), start + kSector + 1000});
  EXPECT_EQ(Read(kImageDrive, "BIG.DAT", 0, 300000).status, kCGVwCannotOpen);
  const Outcome head = Read(kImageDrive, "BIG.DAT", 0, 1000);
  EXPECT_EQ(head.status, 0);
  EXPECT_TRUE(std::equal(big.begin(), big.begin() + 1000, head.buffer.begin()));
  EXPECT_EQ(Read(kImageDrive, "BIG.DAT", 400000, 10).status, 0);  // past its end: nothing to read
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST_F(DamagedImageTest, BareRawDumpsReadAndSheetsWithoutTheirFilesDoNot) {
  const fs::path bin = work_.path() / "bare.bin";
  ASSERT_TRUE(testing_support::WriteRawBinCue(work_.path() / "RockRidge.iso", bin));
  fs::remove(work_.path() / "bare.cue");
  LinkDrive(drive_, kImageDrive, bin);
  EXPECT_EQ(ReadEveryFile(), 0);  // told from its sync pattern, no sheet needed
  // A sheet whose BIN file is missing.
  fs::remove(bin);
  WriteText(work_.path() / "bare.cue", "FILE \"bare.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n");
  LinkDrive(drive_, kImageDrive, work_.path() / "bare.cue");
  EXPECT_EQ(ReadEveryFile(), static_cast<int>(std::size(kDiscFiles)));
}

// A pipe, device or folder that a sheet names as a FILE is never opened,
// so nothing waits: the sheet opens nothing, at once. A CD-TEXT file is
// never opened at all, whatever it is.
TEST_F(DamagedImageTest, SheetsNamingPipesNeverWait) {
  const fs::path bin = work_.path() / "good.bin";
  ASSERT_TRUE(testing_support::WriteRawBinCue(work_.path() / "RockRidge.iso", bin));
  ASSERT_EQ(::mkfifo((work_.path() / "pipe.bin").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((work_.path() / "text.cdt").c_str(), 0600), 0);
  const std::string track = "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  const std::pair<std::string, int> sheets[] = {
      {"FILE \"pipe.bin\" BINARY\n" + track, std::size(kDiscFiles)},
      {"FILE \"" + (work_.path() / "pipe.bin").string() + "\" BINARY\n" + track,
       std::size(kDiscFiles)},
      {"FILE /dev/zero BINARY\n" + track, std::size(kDiscFiles)},
      {"CDTEXTFILE \"text.cdt\"\nFILE \"good.bin\" BINARY\n" + track, 0},
  };
  ::alarm(60);  // a sheet that blocks ends the test program instead of hanging it
  for (const auto& [text, failures] : sheets) {
    SCOPED_TRACE(text);
    WriteText(work_.path() / "sheet.cue", text);
    LinkDrive(drive_, kImageDrive, work_.path() / "sheet.cue");
    EXPECT_EQ(ReadEveryFile(), failures);
  }
  ::alarm(0);
}

TEST_F(DamagedImageTest, RandomDamageToDescriptorsAndDirectories) {
  // Everything before the first file's data: volume descriptors, path
  // tables, directories and their Rock Ridge entries.
  const auto firstData =
      std::search(image_.begin(), image_.end(), contents_[0].begin(), contents_[0].end()) -
      image_.begin();
  ASSERT_GT(firstData, static_cast<std::ptrdiff_t>(kVolumeDescriptor));
  std::minstd_rand random(2024);
  std::uniform_int_distribution<std::ptrdiff_t> where(kVolumeDescriptor, firstData - 1);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(::testing::Message() << "round " << round);
    std::vector<std::uint8_t> bytes = image_;
    const int changes = 1 + round % 12;
    for (int i = 0; i < changes; ++i) {
      bytes[static_cast<std::size_t>(where(random))] = static_cast<std::uint8_t>(random());
    }
    UseImage(bytes);
    // A damaged extent may point at other bytes of the image: only the
    // status and the buffer's bounds are certain.
    for (const DiscFile& file : kDiscFiles) {
      const auto size = static_cast<std::int32_t>(file.size);
      const Outcome outcome = Read(kImageDrive, file.name, 0, size);
      ASSERT_TRUE(outcome.status == 0 || outcome.status == kCGVwCannotOpen);
      ASSERT_TRUE(std::all_of(outcome.buffer.begin() + size, outcome.buffer.end(),
                              [](std::uint8_t b) { return b == kUntouched; }));
    }
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

#if TVRCGCV_CHD
// A CHD damaged anywhere (its map's header and bits, its metadata, its
// hunks, its end cut off) gives each file's true bytes or a clean failure,
// never other bytes: the map and every hunk carry a CRC.
TEST_F(DamagedImageTest, DamagedChdGivesTrueBytesOrFails) {
  if (const std::string why = testing_support::WhyNoChd(); !why.empty()) {
    GTEST_SKIP() << why;
  }
  fs::create_directory(work_.path() / "chd");
  const fs::path chd = MakeImage(work_.path() / "disc", work_.path() / "chd", ImageKind::ChdLzma);
  ASSERT_FALSE(chd.empty());
  const std::vector<std::uint8_t> whole = testing_support::ReadWholeFile(chd);
  UseImage(whole, ".chd");
  EXPECT_EQ(ReadEveryFile(), 0);
  std::uint64_t mapAt = 0;
  for (int i = 40; i < 48; ++i) {
    mapAt = mapAt << 8 | whole[static_cast<std::size_t>(i)];
  }
  ASSERT_LT(mapAt, whole.size());
  std::vector<std::size_t> places;
  for (std::size_t at = mapAt; at < whole.size(); ++at) {
    places.push_back(at);  // every byte of the map
  }
  for (std::size_t at = 124; at < mapAt; at += (mapAt - 124) / 40) {
    places.push_back(at);  // metadata and hunks
  }
  // A read that fails may have placed the bytes before the damage: only a
  // read that succeeds is certain to hold the file's bytes.
  const auto trueOrFailed = [&] {
    int failed = 0;
    for (std::size_t i = 0; i < std::size(kDiscFiles); ++i) {
      const auto size = static_cast<std::int32_t>(kDiscFiles[i].size);
      const Outcome outcome = Read(kImageDrive, kDiscFiles[i].name, 0, size);
      if (outcome.status == 0) {
        EXPECT_TRUE(std::equal(contents_[i].begin(), contents_[i].end(), outcome.buffer.begin()))
            << kDiscFiles[i].name;
      } else {
        EXPECT_EQ(outcome.status, kCGVwCannotOpen);
        ++failed;
      }
    }
    return failed;
  };
  int failed = 0;
  for (const std::size_t at : places) {
    SCOPED_TRACE(::testing::Message() << "byte " << at);
    std::vector<std::uint8_t> bytes = whole;
    bytes[at] ^= 0x21;
    UseImage(bytes, ".chd");
    failed += trueOrFailed();
  }
  EXPECT_GT(failed, 0);
  for (const std::size_t cut :
       {whole.size() - 1, static_cast<std::size_t>(mapAt), whole.size() / 2, std::size_t{200}}) {
    UseImage({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)}, ".chd");
    EXPECT_EQ(trueOrFailed(), static_cast<int>(std::size(kDiscFiles))) << "cut at " << cut;
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// Read from start to end, a CHD's track decompresses each of its hunks
// once.
TEST_F(DamagedImageTest, ChdHunksAreDecompressedOnce) {
  if (const std::string why = testing_support::WhyNoChd(); !why.empty()) {
    GTEST_SKIP() << why;
  }
  fs::create_directory(work_.path() / "chd");
  const fs::path chd = MakeImage(work_.path() / "disc", work_.path() / "chd", ImageKind::Chd);
  ASSERT_FALSE(chd.empty());
  std::error_code error;
  auto file = cgvw::disc::FileBytes::Open(chd.string(), "disc.chd", &error);
  ASSERT_TRUE(file) << error.message();
  auto neighbours = cgvw::disc::LocalNeighbours(file->file());
  cgvw::disc::OpenedTrack opened;
  cgvw::disc::OpenFailure failure;
  ASSERT_TRUE(cgvw::disc::kChd.open(std::move(file), *neighbours, &opened, &failure))
      << failure.text;
  cgvw::disc::TrackReader reader(std::move(opened.track));
  const cgvw::disc::SectorTrack& track = reader.track();
  std::vector<std::uint8_t> out(cgvw::disc::TrackReader::kCachedSectors * 2048);
  for (std::uint64_t sector = track.first(); sector < track.first() + track.count();) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(
        cgvw::disc::TrackReader::kCachedSectors, track.first() + track.count() - sector));
    cgvw::disc::ReadFault fault;
    ASSERT_TRUE(reader.ReadSectors(sector, count, out.data(), &fault)) << fault.why;
    sector += count;
  }
  EXPECT_EQ(cgvw::disc::ChdHunksDecompressed(track), (track.count() + 7) / 8);  // 8 frames a hunk

  // The first hunk with the bit of its first frame's sync and ECC cleared
  // (the first byte of a CD codec's hunk): the frame keeps the zeros left
  // in their place, which only the hunk's CRC tells.
  std::vector<std::uint8_t> bytes = testing_support::ReadWholeFile(chd);
  std::uint64_t mapAt = 0;
  std::uint64_t firstHunk = 0;
  for (int i = 0; i < 8; ++i) {
    mapAt = mapAt << 8 | bytes[static_cast<std::size_t>(40 + i)];
  }
  for (int i = 0; i < 6; ++i) {
    firstHunk = firstHunk << 8 | bytes[static_cast<std::size_t>(mapAt + 4 + i)];
  }
  ASSERT_EQ(bytes[firstHunk] & 1, 1);
  bytes[firstHunk] &= 0xFE;
  auto damaged = std::make_unique<cgvw::disc::MemoryBytes>(bytes, "damaged.chd");
  ASSERT_TRUE(cgvw::disc::kChd.open(std::move(damaged), *neighbours, &opened, &failure))
      << failure.text;
  cgvw::disc::TrackReader damagedReader(std::move(opened.track));
  cgvw::disc::ReadFault fault;
  EXPECT_TRUE(damagedReader.ReadSectors(8, 1, out.data(), &fault)) << fault.why;
  EXPECT_FALSE(damagedReader.ReadSectors(7, 1, out.data(), &fault));
  EXPECT_EQ(fault.why, "\"damaged.chd\": hunk 0 (sectors 0 to 7) fails its CRC check");
}
#endif

// The open image is kept between requests; a changed image file must be
// read anew.
TEST_F(DamagedImageTest, ChangedImageIsReadAnew) {
  const fs::path other = work_.path() / "other";
  WriteBytes(other / "Tesuna.bpl", Pattern(13, 555));
  const fs::path second = MakeImage(other, work_.path(), ImageKind::Joliet);
  ASSERT_FALSE(second.empty());
  // Timestamps can be as coarse as a clock tick, so the rewrite in place
  // below is told apart by its size.
  ASSERT_NE(fs::file_size(second), image_.size());
  const fs::path current = work_.path() / "current.iso";
  WriteBytes(current, image_);
  LinkDrive(drive_, kImageDrive, current);
  EXPECT_EQ(ReadAll(kImageDrive, "Tesuna.bpl", 13), contents_[0]);
  // Replaced by another file, then rewritten in place.
  fs::copy_file(second, work_.path() / "next.iso");
  fs::rename(work_.path() / "next.iso", current);
  EXPECT_EQ(ReadAll(kImageDrive, "Tesuna.bpl", 13), Pattern(13, 555));
  fs::copy_file(work_.path() / "RockRidge.iso", current, fs::copy_options::overwrite_existing);
  EXPECT_EQ(ReadAll(kImageDrive, "Tesuna.bpl", 13), contents_[0]);
  // The drive linked to another image.
  LinkDrive(drive_, kImageDrive, second);
  EXPECT_EQ(ReadAll(kImageDrive, "Tesuna.bpl", 13), Pattern(13, 555));
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ImageDriveTest,
                         ::testing::ValuesIn(testing_support::kAllImageKinds),
                         [](const auto& info) { return KindName(info.param); });

}  // namespace
