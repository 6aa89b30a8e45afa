// The real program on damaged discs and on outputs that cannot take what it
// writes. Whatever the disc holds, a run finishes or stops with one of its
// messages: it never crashes or hangs, and every file it leaves behind is a
// complete BMP file of the size its header states.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "demo_disc/demo_disc.h"
#include "expected_console.h"
#include "program_run.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ListDirectory;
using testing_support::ProgramRun;
using testing_support::ReadWholeFile;
using testing_support::RunProgram;
using testing_support::StdoutTo;
using testing_support::TempDir;
using testing_support::TestDrive;

using expected::kCreateFailed;
using expected::kDecodeFailed;
using expected::kRows;
using expected::OutputName;
using expected::Transcript;

const TCGVwImage& Row(int row) {
  return Catalogue[static_cast<std::size_t>(row)].Image;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// An 8-bit output file: its colour indices by position from the top left.
struct IndexedBmp {
  std::vector<std::uint8_t> bytes;
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  explicit IndexedBmp(const fs::path& path) : bytes(ReadWholeFile(path)) {
    if (bytes.size() >= 54) {
      width = Le32(bytes, 18);
      height = Le32(bytes, 22);
    }
  }
  std::uint8_t Index(std::uint32_t x, std::uint32_t y) const {
    const std::uint32_t stride = (width + 3) & ~3u;
    return bytes[1078 + (height - 1 - y) * stride + x];
  }
};

// Every file in `dir` is an output name of the run, and a complete BMP file:
// as long as its header says, with the header and pixel offset of its depth.
::testing::AssertionResult AllCompleteBmpFiles(const fs::path& dir) {
  for (const std::string& name : ListDirectory(dir)) {
    const auto bytes = ReadWholeFile(dir / name);
    if (name.size() != 12 || !name.starts_with("tvrcg") || !name.ends_with(".bmp")) {
      return ::testing::AssertionFailure() << "unexpected file " << name;
    }
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || Le32(bytes, 2) != bytes.size() ||
        Le32(bytes, 14) != 40) {
      return ::testing::AssertionFailure() << name << " is not a complete BMP file";
    }
    const std::uint32_t offBits = Le32(bytes, 10);
    const std::uint32_t sizeImage = Le32(bytes, 34);
    if (offBits + sizeImage != bytes.size()) {
      return ::testing::AssertionFailure() << name << ": pixel offset and image size disagree";
    }
  }
  return ::testing::AssertionSuccess();
}

class HostileDisc : public ::testing::Test {
 protected:
  void SetUp() override { demo::WriteDisc(drive_.drive(), false); }

  fs::path SourceFile(const char* name) const { return drive_.drive() / name; }

  void Truncate(const char* name, std::uintmax_t size) const {
    fs::resize_file(SourceFile(name), size);
  }

  ProgramRun Run(StdoutTo where = StdoutTo::kFile) {
    const ProgramRun run = RunProgram(testing_support::TestedProgram(), {"tvrcgcv", "q"},
                                      work_.path(), drive_.root(), where);
    EXPECT_FALSE(run.timedOut) << "the program hung";
    EXPECT_EQ(run.signal, 0) << "the program was killed by a signal";
    return run;
  }

  TestDrive drive_{'q'};
  TempDir work_;
};

TEST_F(HostileDisc, ZeroLengthFilesGiveBlackPicturesOfFullSize) {
  for (const auto& entry : fs::directory_iterator(drive_.drive())) {
    fs::resize_file(entry.path(), 0);
  }
  const ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(kRows));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ListDirectory(work_.path()).size(), static_cast<std::size_t>(kRows));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));
  for (const int row : {0, 20, 160}) {
    SCOPED_TRACE(OutputName(row));
    const auto bytes = ReadWholeFile(work_.path() / OutputName(row));
    ASSERT_GT(bytes.size(), 1078u);
    for (std::size_t entry = 0; entry < 256; ++entry) {
      ASSERT_EQ(Le32(bytes, 54 + 4 * entry), 0x02000000u) << "colour " << entry;
    }
    for (std::size_t at = 1078; at < bytes.size(); ++at) {
      ASSERT_EQ(bytes[at], 0) << "byte " << at;
    }
  }
}

// Files that end inside or before the ranges read from them, and a map that
// addresses tiles beyond the tile data: the bytes that are missing read as
// 0 and the cells without a tile stay at index 0; every other pixel is as
// the disc holds it.
TEST_F(HostileDisc, ShortFilesAndStrayMapEntriesLeaveOnlyTheirPartBlank) {
  // Row 0: the file ends halfway through the map, so the lower half of the
  // map reads as entries 0 and shows tile 0.
  const auto& map0 = *static_cast<const TCGVwChunk*>(Row(0).Extra);
  const auto file0 = ReadWholeFile(SourceFile(Row(0).PixFile));
  Truncate(Row(0).PixFile, map0.Offset + map0.Size / 2);
  // Row 1: the file ends before the palette.
  Truncate(Row(1).PixFile, Row(1).PalOffset - 1);
  // Row 2: the first map row addresses tiles far beyond the tile data.
  const auto& map2 = *static_cast<const TCGVwChunk*>(Row(2).Extra);
  {
    std::fstream file(SourceFile(Row(2).PixFile), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(map2.Offset);
    for (int j = 0; j < 36; ++j) {
      file.put(static_cast<char>(0xFF)).put(static_cast<char>(j % 2 == 0 ? 0xFE : 0x01));
    }
  }
  const auto reference2 = ReadWholeFile(SourceFile(Row(2).PixFile));
  // Row 152: the portrait's pixels end after 10 rows; row 153: its palette
  // file is empty.
  Truncate(Row(152).PixFile, Row(152).PixOffset + 104 * 10);
  Truncate(Row(153).PalFile, 0);

  const ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(kRows));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));

  // Row 0: the upper nine map rows as on the disc, the lower nine tile 0.
  const IndexedBmp bg0(work_.path() / OutputName(0));
  ASSERT_EQ(bg0.height, 144u);
  const std::uint8_t* tiles0 = file0.data() + Row(0).PixOffset;
  for (std::uint32_t y = 0; y < 144; ++y) {
    for (std::uint32_t x = 0; x < 288; ++x) {
      const std::size_t entry = map0.Offset + ((y / 8) * 36 + x / 8) * 2;
      const unsigned tile = y < 72 ? ((file0[entry] << 8) | file0[entry + 1]) >> 1 : 0;
      ASSERT_EQ(bg0.Index(x, y), tiles0[tile * 64 + (y % 8) * 8 + x % 8]) << x << ", " << y;
    }
  }
  // Row 1: nothing but zeros after the file header.
  const auto bg1 = ReadWholeFile(work_.path() / OutputName(1));
  for (std::size_t at = 54; at < bg1.size(); ++at) {
    ASSERT_EQ(bg1[at], at % 4 == 1 && at < 1078 ? 2 : 0) << "byte " << at;
  }
  // Row 2: the top eight rows are index 0; the rest is drawn.
  const IndexedBmp bg2(work_.path() / OutputName(2));
  bool drawn = false;
  for (std::uint32_t y = 0; y < 144; ++y) {
    for (std::uint32_t x = 0; x < 288; ++x) {
      if (y < 8) {
        ASSERT_EQ(bg2.Index(x, y), 0) << x << ", " << y;
      } else {
        const std::size_t entry = map2.Offset + ((y / 8) * 36 + x / 8) * 2;
        const unsigned tile = ((reference2[entry] << 8) | reference2[entry + 1]) >> 1;
        ASSERT_EQ(bg2.Index(x, y), reference2[Row(2).PixOffset + tile * 64 + (y % 8) * 8 + x % 8]);
        drawn = drawn || bg2.Index(x, y) != 0;
      }
    }
  }
  EXPECT_TRUE(drawn);
  // Row 152: ten rows of the portrait, then index 0.
  const IndexedBmp portrait(work_.path() / OutputName(152));
  const auto pixels152 = ReadWholeFile(SourceFile(Row(152).PixFile));
  for (std::uint32_t y = 0; y < 84; ++y) {
    for (std::uint32_t x = 0; x < 104; ++x) {
      ASSERT_EQ(portrait.Index(x, y), y < 10 ? pixels152[4 + y * 104 + x] : 0) << x << ", " << y;
    }
  }
  // Row 153: every colour black, with the reserved byte 2.
  const auto bytes153 = ReadWholeFile(work_.path() / OutputName(153));
  for (std::size_t entry = 0; entry < 256; ++entry) {
    ASSERT_EQ(Le32(bytes153, 54 + 4 * entry), 0x02000000u) << "colour " << entry;
  }
}

// A directory or a named pipe where a source file should be cannot be read:
// the run stops at that row, without waiting for a writer that never comes.
TEST_F(HostileDisc, ADirectoryOrAPipeInPlaceOfASourceFileStopsTheRun) {
  fs::remove(SourceFile(Row(155).PalFile));
  ASSERT_EQ(::mkfifo(SourceFile(Row(155).PalFile).c_str(), 0600), 0);
  ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(155));
  EXPECT_EQ(ListDirectory(work_.path()).size(), 155u);

  fs::remove(SourceFile(Row(5).PixFile));
  fs::create_directory(SourceFile(Row(5).PixFile));
  run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(5));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));
}

// A pipe or a device among the disc's names is never opened, as a drive or
// as a folder given with --image: the name is looked at first (strace
// lists every open of the run).
TEST_F(HostileDisc, APipeOrADeviceAmongTheNamesIsNeverOpened) {
  const std::string strace = "/usr/bin/strace";
  if (!fs::exists(strace)) {
    GTEST_SKIP() << "strace is not installed";
  }
  if (TVRCGCV_SANITIZED) {
    GTEST_SKIP() << "LeakSanitizer cannot run under strace (the unsanitized build runs this)";
  }
  if (testing_support::UnderEmulator()) {
    GTEST_SKIP()
        << "the opens of an emulated program are the emulator's (the native build runs this)";
  }
  fs::remove(SourceFile(Row(0).PixFile));
  ASSERT_EQ(::mkfifo(SourceFile(Row(0).PixFile).c_str(), 0600), 0);
  fs::remove(SourceFile(Row(152).PalFile));
  fs::create_symlink("/dev/zero", SourceFile(Row(152).PalFile));
  const fs::path trace = work_.path() / "trace";
  const std::vector<std::vector<std::string>> runs = {
      {"q"}, {"--image", drive_.drive().string(), "--check", "--quiet"}};
  for (const std::vector<std::string>& arguments : runs) {
    SCOPED_TRACE(arguments.front());
    std::vector<std::string> args = {
        "strace", "-f",           "-qq",         "-e", "trace=open,openat,openat2",
        "-o",     trace.string(), TVRCGCV_BINARY};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const ProgramRun run =
        RunProgram(strace, args, work_.path(), drive_.root(), StdoutTo::kFile, 60);
    EXPECT_FALSE(run.timedOut);
    const std::vector<std::uint8_t> bytes = ReadWholeFile(trace);
    const std::string opens(bytes.begin(), bytes.end());
    EXPECT_NE(opens.find("open"), std::string::npos) << "the trace holds no opens";
    for (const char* name : {Row(0).PixFile, Row(152).PalFile}) {
      EXPECT_EQ(opens.find(std::string("/") + name + "\""), std::string::npos)
          << name << " was opened";
    }
  }
}

// Every file of the disc replaced by random bytes of a random length: the
// ranges are read as they are, so every row converts to some picture.
TEST_F(HostileDisc, ADiscOfRandomBytesConvertsWithoutHarm) {
  std::mt19937 random(20240601);
  for (const auto& entry : fs::directory_iterator(drive_.drive())) {
    const auto size = static_cast<std::size_t>(fs::file_size(entry.path()));
    std::vector<char> bytes(std::uniform_int_distribution<std::size_t>(0, 2 * size)(random));
    for (char& byte : bytes) {
      byte = static_cast<char>(random());
    }
    std::ofstream(entry.path(), std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(kRows));
  EXPECT_EQ(ListDirectory(work_.path()).size(), static_cast<std::size_t>(kRows));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));
}

// Outputs that cannot take the run's bytes.
TEST_F(HostileDisc, AnOutputNameThatIsADirectoryStopsTheRunAtThatRow) {
  fs::create_directory(work_.path() / OutputName(2));
  const ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(2, kCreateFailed));
  EXPECT_TRUE(fs::is_directory(work_.path() / OutputName(2)));
  EXPECT_TRUE(fs::is_empty(work_.path() / OutputName(2)));
  fs::remove(work_.path() / OutputName(2));
  EXPECT_EQ(ListDirectory(work_.path()), (std::vector<std::string>{OutputName(0), OutputName(1)}));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));
}

// Links where output files go: each link is replaced by the picture and
// what it points at is left alone, outside the folder or not.
TEST_F(HostileDisc, LinksAtOutputNamesAreReplacedNotWrittenThrough) {
  const TempDir elsewhere;
  const std::string kept = "not a picture";
  std::ofstream(elsewhere.path() / "target", std::ios::binary) << kept;
  std::ofstream(elsewhere.path() / "hard", std::ios::binary) << kept;
  fs::create_symlink(elsewhere.path() / "target", work_.path() / OutputName(0));
  fs::create_symlink(elsewhere.path() / "absent", work_.path() / OutputName(1));
  fs::create_hard_link(elsewhere.path() / "hard", work_.path() / OutputName(2));
  fs::create_symlink("/dev/full", work_.path() / OutputName(3));
  const ProgramRun run = Run();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(kRows));
  EXPECT_EQ(ListDirectory(work_.path()).size(), static_cast<std::size_t>(kRows));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));
  for (const char* name : {"target", "hard"}) {
    const auto bytes = ReadWholeFile(elsewhere.path() / name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kept) << name;
  }
  EXPECT_EQ(ListDirectory(elsewhere.path()), (std::vector<std::string>{"hard", "target"}));
}

// A write that the file size limit refuses (EFBIG; the signal that would
// come with it is ignored) fails that picture's file: the run stops there,
// the earlier file of that name survives and nothing else is left.
TEST_F(HostileDisc, AFileSizeLimitStopsTheRunAndKeepsTheEarlierFile) {
  ASSERT_EQ(Run().out, Transcript(kRows));
  const auto earlier = ReadWholeFile(work_.path() / OutputName(20));
  ASSERT_EQ(earlier.size(), 86326u);  // the first picture larger than the limit below
  testing_support::ChildSetup setup;
  setup.fileSizeLimit = 50000;
  const ProgramRun run = RunProgram(testing_support::TestedProgram(), {"tvrcgcv", "q"},
                                    work_.path(), drive_.root(), StdoutTo::kFile, 300, setup);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, Transcript(20, kCreateFailed));
  EXPECT_EQ(ReadWholeFile(work_.path() / OutputName(20)), earlier);
  EXPECT_EQ(ListDirectory(work_.path()).size(), static_cast<std::size_t>(kRows));
  EXPECT_TRUE(AllCompleteBmpFiles(work_.path()));
}

// Standard output that cannot be written: the run ends at its first console
// write, before any file is made, with a message on standard error.
TEST_F(HostileDisc, StandardOutputThatCannotBeWrittenEndsTheRunAtOnce) {
  for (const StdoutTo where : {StdoutTo::kDevFull, StdoutTo::kClosed, StdoutTo::kBrokenPipe}) {
    SCOPED_TRACE(static_cast<int>(where));
    const ProgramRun run = Run(where);
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_EQ(run.err, "tvrcgcv: cannot write to standard output; stopping\n");
    EXPECT_TRUE(ListDirectory(work_.path()).empty());
  }
}

}  // namespace
