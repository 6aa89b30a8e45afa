// End to end from disc images: the real program converts the demo disc from
// an image of every kind exactly as from the directory it was made of, and
// stops at the first picture on an image that holds no file system. With
// --image, a cue sheet it cannot read is one line naming the sheet's line,
// at once, whatever the sheet names; a damaged image is reported down to
// the track file and sector.

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cgvw/disc_image.h"
#include "demo_disc/demo_disc.h"
#include "disc_images.h"
#include "expected_console.h"
#include "program_run.h"
#include "test_support.h"

namespace {

// A run that must never wait for a pipe ends within this; the coverage
// build's program (-O0, every branch counted) takes a few times longer.
#ifdef TVRCGCV_COVERAGE
constexpr double kPromptSeconds = 5.0;
#else
constexpr double kPromptSeconds = 1.0;
#endif

namespace fs = std::filesystem;
using testing_support::HaveXorriso;
using testing_support::ImageKind;
using testing_support::KindName;
using testing_support::ReadWholeFile;
using testing_support::TempDir;
using testing_support::WhyNoDiscImages;

// What the program under test reads, from its --version line: the stages
// that test another build's program (statically linked, or for another
// processor, without CHD files and archives) run these tests against it.
const std::string& ProgramVersion() {
  static const std::string version = [] {
    const TempDir dir;
    return testing_support::RunProgram(testing_support::TestedProgram(), {"tvrcgcv", "--version"},
                                       dir.path(), dir.path())
        .out;
  }();
  return version;
}
bool ProgramReadsChd() {
  return ProgramVersion().find("CHD: yes") != std::string::npos;
}
bool ProgramReadsArchives() {
  return ProgramVersion().find("zip/7z: yes") != std::string::npos;
}
// Why the program under test cannot read images of `kind`; "" if it can.
std::string WhyProgramCannotRead(ImageKind kind) {
  if (testing_support::IsChdKind(kind) && !ProgramReadsChd()) {
    return "the program under test reads no CHD files";
  }
  if (testing_support::IsArchiveKind(kind) && !ProgramReadsArchives()) {
    return "the program under test reads no zip or 7z archives";
  }
  return "";
}

struct Conversion {
  int exitStatus = -1;
  std::string out;
  std::map<std::string, std::vector<std::uint8_t>> files;  // what it left in its directory
};

// Runs the converter for drive q in a fresh directory, drive q being
// `driveRoot`/q, and collects its output and files.
Conversion Convert(const fs::path& driveRoot, const fs::path& workDir) {
  fs::create_directories(workDir);
  const testing_support::ProgramRun program =
      testing_support::RunProgram(testing_support::TestedProgram(),
                                  {testing_support::TestedProgram(), "q"}, workDir, driveRoot);
  Conversion run;
  run.exitStatus = program.exitStatus;
  run.out = program.out;
  for (const auto& entry : fs::directory_iterator(workDir)) {
    run.files[entry.path().filename().string()] = ReadWholeFile(entry.path());
  }
  return run;
}

std::string ReadText(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  return {bytes.begin(), bytes.end()};
}

// The text (ASCII) as UTF-16, little-endian, behind its byte order mark.
std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (const char c : text) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class ImageRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = WhyNoDiscImages(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    demo::WriteDisc(work_.path() / "disc", false);
    fs::create_directory(Drives());
  }

  fs::path Drives() const { return work_.path() / "drives"; }

  // Converts with drive q linked to `target`.
  Conversion ConvertFrom(const fs::path& target) {
    fs::remove(Drives() / "q");
    fs::create_symlink(target, Drives() / "q");
    return Convert(Drives(), work_.path() / ("out" + std::to_string(runs_++)));
  }

  TempDir work_;
  int runs_ = 0;
};

class DiscImageConversion : public ImageRuns, public ::testing::WithParamInterface<ImageKind> {};

TEST_P(DiscImageConversion, ConvertsAsFromTheDirectory) {
  if (const std::string why = testing_support::WhyNoImageOf(GetParam()); !why.empty()) {
    GTEST_SKIP() << why;
  }
  if (const std::string why = testing_support::WhyNoChd();
      testing_support::IsChdKind(GetParam()) && !why.empty()) {
    GTEST_SKIP() << why;
  }
  if (const std::string why = WhyProgramCannotRead(GetParam()); !why.empty()) {
    GTEST_SKIP() << why;
  }
  const Conversion fromDirectory = ConvertFrom(work_.path() / "disc");
  ASSERT_EQ(fromDirectory.files.size(), 161u);  // the reference is a complete run

  fs::create_directory(work_.path() / "image");
  const fs::path image = MakeImage(work_.path() / "disc", work_.path() / "image", GetParam());
  ASSERT_FALSE(image.empty());
  const Conversion fromImage = ConvertFrom(image);

  EXPECT_EQ(fromImage.exitStatus, 0);
  EXPECT_EQ(fromImage.out, fromDirectory.out);
  ASSERT_EQ(fromImage.files.size(), fromDirectory.files.size());
  for (const auto& [name, bytes] : fromDirectory.files) {
    const auto found = fromImage.files.find(name);
    ASSERT_NE(found, fromImage.files.end()) << name;
    EXPECT_TRUE(found->second == bytes) << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DiscImageConversion,
                         ::testing::ValuesIn(testing_support::kAllImageKinds),
                         [](const auto& info) { return KindName(info.param); });

// An image without a readable file system is a disc whose files cannot be
// opened: the run stops at the first picture, as on an empty drive.
using DamagedDiscImage = ImageRuns;

TEST_F(DamagedDiscImage, StopsAtTheFirstPicture) {
  fs::create_directory(work_.path() / "empty");
  const Conversion fromEmpty = ConvertFrom(work_.path() / "empty");
  ASSERT_TRUE(EndsWith(fromEmpty.out, expected::Progress(0) + expected::kDecodeFailed))
      << "an empty drive stops at row 0";

  const fs::path iso = MakeImage(work_.path() / "disc", work_.path(), ImageKind::RockRidge);
  ASSERT_FALSE(iso.empty());
  const std::vector<std::uint8_t> whole = ReadWholeFile(iso);
  std::vector<std::uint8_t> random(1 << 20);
  std::uint32_t state = 12345;
  for (auto& byte : random) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  const std::vector<std::vector<std::uint8_t>> damaged = {
      {whole.begin(), whole.begin() + 20 * 2048},  // truncated in its directories
      {whole.begin(), whole.begin() + 16 * 2048},  // truncated before its descriptors
      random,
  };
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE("damaged image " + std::to_string(i));
    const fs::path path = work_.path() / ("damaged" + std::to_string(i) + ".iso");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged[i].data()),
               static_cast<std::streamsize>(damaged[i].size()));
    const Conversion run = ConvertFrom(path);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, fromEmpty.out);
    EXPECT_TRUE(run.files.empty());
  }
}

// Runs `tvrcgcv --image <image> <args>` in the work folder.
class SheetRuns : public ImageRuns {
 protected:
  void SetUp() override {
    ImageRuns::SetUp();
    if (IsSkipped()) {
      return;
    }
    sheet_ = MakeImage(work_.path() / "disc", work_.path(), ImageKind::Preservation);
    ASSERT_FALSE(sheet_.empty());
  }

  testing_support::ProgramRun RunImage(const fs::path& image, std::vector<std::string> args,
                                       double* seconds = nullptr) {
    args.insert(args.begin(), {testing_support::TestedProgram(), "--image", image.string()});
    const auto start = std::chrono::steady_clock::now();
    const testing_support::ProgramRun run =
        testing_support::RunProgram(testing_support::TestedProgram(), args, work_.path(), Drives(),
                                    testing_support::StdoutTo::kFile, 20);
    if (seconds != nullptr) {
      *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    EXPECT_FALSE(run.timedOut);
    return run;
  }

  fs::path DataTrack() const { return work_.path() / "Test Disc (Japan) (Track 1).bin"; }

  fs::path sheet_;
};

constexpr int kDiscUnreadable = 4;

// Sheets that cannot be read: each is one line on standard error naming the
// sheet's line and what is wrong, and the run ends at once with status 4,
// never waiting for a pipe or opening a device.
TEST_F(SheetRuns, SheetsThatCannotBeReadNameTheirLine) {
  ASSERT_EQ(::mkfifo((work_.path() / "pipe.bin").c_str(), 0600), 0);
  fs::create_directory(work_.path() / "folder.bin");
  const std::string data = "FILE \"" + DataTrack().filename().string() + "\" BINARY\n";
  const std::string track = "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  const struct {
    const char* what;
    std::string sheet;
    std::string complaint;  // after "<sheet>"
  } kSheets[] = {
      {"unknown keyword", data + track + "FOO bar\n", ":4: unknown keyword \"FOO\""},
      {"missing file", "REM\nFILE \"gone.bin\" BINARY\n" + track,
       ":3: the data track's file \"gone.bin\" is missing"},
      {"track before FILE", "TRACK 01 MODE1/2352\n", ":1: TRACK before any FILE"},
      {"index beyond the file", data + "  TRACK 01 MODE1/2352\n    INDEX 01 70:00:00\n",
       ":3: INDEX 1 lies beyond the end of"},
      {"folder", "FILE folder.bin BINARY\n" + track, ":1: \"folder.bin\": Is a directory"},
      {"pipe", "FILE pipe.bin BINARY\n" + track, ":1: \"pipe.bin\": not a regular file"},
      {"device", "FILE /dev/null BINARY\n" + track, ":1: \"/dev/null\": not a regular file"},
      {"itself", "FILE sheet.cue BINARY\n" + track, ":1: \"sheet.cue\" is the sheet itself"},
      {"no INDEX 01", data + "  TRACK 01 MODE1/2352\n", ": TRACK 1 (line 2) has no INDEX 01"},
      {"audio only", data + "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", ": no data track"},
      {"wrong mode", data + "  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n",
       ":2: \"" + DataTrack().filename().string() +
           "\" holds no ISO 9660 file system in MODE2/2352"},
      {"empty track", data + track + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
       ":2: TRACK 1 (line 2) holds no sectors: TRACK 2 (line 4) begins where it does"},
      {"a long name", "FILE \"" + std::string(200000, 'x') + "\" BINARY\n" + track,
       ":1: \"" + std::string(80, 'x') + "\u2026" + std::string(80, 'x') + "\": "},
      {"UTF-16", Utf16(data + track), ": the sheet is UTF-16 text"},
      {"CR line ends", "FILE d.bin BINARY\r  TRACK 01 MODE1/2352\r    INDEX 01 00:00:00\r",
       ": the sheet's lines end in CR alone"},
  };
  const fs::path sheet = work_.path() / "sheet.cue";
  for (const auto& test : kSheets) {
    SCOPED_TRACE(test.what);
    std::ofstream(sheet, std::ios::binary | std::ios::trunc) << test.sheet;
    double seconds = 0;
    const testing_support::ProgramRun run = RunImage(sheet, {"--check"}, &seconds);
    EXPECT_EQ(run.exitStatus, kDiscUnreadable);
    EXPECT_LT(seconds, kPromptSeconds);
    EXPECT_TRUE(run.err.starts_with("tvrcgcv: " + sheet.string() + test.complaint)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_LT(run.err.size(), 400u);
  }
}

// A CHD header of `version` (124 bytes and a few more), its parent's SHA-1
// all `parent` bytes, its units of `unitBytes` bytes.
std::string ChdHeader(std::uint8_t version, std::uint8_t parent, std::uint32_t unitBytes = 2448) {
  std::string bytes(140, '\0');
  bytes.replace(0, 8, "MComprHD");
  bytes[11] = 124;
  bytes[15] = static_cast<char>(version);
  bytes.replace(16, 4, "cdlz");
  bytes[47] = 124;   // the map's offset
  bytes[58] = 0x4C;  // hunks of 19,584 bytes
  bytes[59] = static_cast<char>(0x80);
  for (int i = 0; i < 4; ++i) {
    bytes[60 + i] = static_cast<char>(unitBytes >> (24 - 8 * i));
  }
  std::fill(bytes.begin() + 104, bytes.begin() + 124, static_cast<char>(parent));
  return bytes;
}

// What a CHD that cannot be read is told by: its fault, or in a build
// without CHD files that it is one.
std::string ChdComplaint(const std::string& fault) {
  return ProgramReadsChd() ? fault : ": a CHD (MAME's compressed hunks of data)";
}

// Descriptors of whole-disc dumps that cannot be read: one line naming the
// descriptor (and a CloneCD text's line) and what is wrong, status 4. So
// are images of kinds not read yet.
TEST_F(SheetRuns, DumpDescriptorsThatCannotBeReadSayWhy) {
  const std::string track1 =
      "[Entry 0]\nSession=1\nPoint=0x01\nControl=0x04\nPMin=0\nPSec=2\nPFrame=0\nPLBA=0\n";
  const std::string leadOut =
      "[Entry 1]\nSession=1\nPoint=0xa2\nControl=0x04\nPMin=0\nPSec=4\nPFrame=0\nPLBA=150\n";
  const std::string head = "[CloneCD]\nVersion=3\n[Disc]\nSessions=1\n";
  const std::string ccd = head + "TocEntries=2\n" + track1 + leadOut + "[TRACK 1]\nMODE=1\n";
  std::string mds(88, '\0');
  mds.replace(0, 18, std::string("MEDIA DESCRIPTOR\x02\x00", 18));
  const std::string nrg = std::string("XXXX\0\0\0\0NER5", 12) + std::string(8, '\0');
  const struct {
    const char* what;
    const char* name;
    std::string bytes;
    std::string complaint;  // after the descriptor's path
  } kDumps[] = {
      {"unknown key", "a.ccd", ccd + "Foo=1\n", ":24: unknown key \"Foo\" in [track]"},
      {"no image", "b.ccd", ccd, ": \"b.img\": No such file or directory"},
      {"no lead-out", "c.ccd", head + "TocEntries=1\n" + track1 + "[TRACK 1]\nMODE=1\n",
       ":6: the data track 1 begins at sector 0, and nothing says where it ends"},
      {"version 2", "d.mds", mds, ": a descriptor of version 2.0: version 1 is read"},
      {"unknown chunk", "e.nrg", nrg, ": unknown chunk \"XXXX\" at byte 0"},
      // Descriptors are read whole, and so never beyond 4 MiB.
      {"descriptor too large", "h.ccd", "[CloneCD]\n" + std::string((4 << 20) + 1, ' '),
       ": larger than 4 MiB, too large for a descriptor"},
      {"Nero chunks too large", "h.nrg",
       std::string((4 << 20) + 1, '\0') + std::string("NER5\0\0\0\0\0\0\0\0", 12),
       ": its chunks take 4194317 bytes, more than 4 MiB"},
      // CHD files whose header cannot be read, or that need another file
      // (a build without CHD files names them as such).
      {"CHD cut", "f.chd", std::string("MComprHD\0\0\0\x7c\0\0\0\x05", 16),
       ProgramReadsChd() ? ": its header is cut short or of the wrong length"
                         : ": a CHD (MAME's compressed hunks of data), which this build "
                           "does not read: chdman extractcd"},
      {"CHD version 4", "f4.chd", ChdHeader(4, 0), ChdComplaint(": its version is 4")},
      {"CHD of a parent", "f5.chd", ChdHeader(5, 0xAB),
       ChdComplaint(": it holds only what differs from its parent CHD (SHA-1 abab")},
      {"CHD of a disk", "f6.chd", ChdHeader(5, 0, 512),
       ChdComplaint(": its units are of 512 bytes, not the 2448 of a CD's frames")},
      // A build without libarchive names an archive and says to unpack it.
      {"zip", "g.zip", std::string("PK\x03\x04\x14\0\0\0", 8),
       ProgramReadsArchives()
           ? ": the archive cannot be read"
           : ": a zip archive, which this build does not read: unpack the disc image it holds"},
  };
  for (const auto& test : kDumps) {
    SCOPED_TRACE(test.what);
    const fs::path path = work_.path() / test.name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << test.bytes;
    const testing_support::ProgramRun run = RunImage(path, {"--check"});
    EXPECT_EQ(run.exitStatus, kDiscUnreadable);
    EXPECT_TRUE(run.err.starts_with("tvrcgcv: " + path.string() + test.complaint)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

// Lines that made an earlier reader wait for a pipe forever: a CD-TEXT file
// is never opened, however the line is spelt or wherever it stands.
TEST_F(SheetRuns, CdTextFilesAreNeverOpened) {
  for (const char* pipe : {" ", "f", "x.cdt"}) {
    ASSERT_EQ(::mkfifo((work_.path() / pipe).c_str(), 0600), 0);
  }
  const std::string sheet = ReadText(sheet_);
  const std::string remarks(256 * 1024 / 16, ' ');
  std::string longRemarks;
  for (int i = 0; i < 16 * 1024; ++i) {
    longRemarks += "REM padding....\r\n";
  }
  const std::string recipes[] = {
      "CDTEXTFILE  \"x.cdt\"\r\n" + sheet,
      longRemarks + "CDTEXTFILE \"f\"\r\n" + sheet,
      "REM " + std::string(4087, 'x') + "\r\nCDTEXTFILE \" \"\r\n" + sheet,
  };
  for (const std::string& recipe : recipes) {
    SCOPED_TRACE(recipe.substr(0, 60));
    std::ofstream(work_.path() / "recipe.cue", std::ios::binary | std::ios::trunc) << recipe;
    double seconds = 0;
    const testing_support::ProgramRun run =
        RunImage(work_.path() / "recipe.cue", {"--check", "--quiet"}, &seconds);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_LT(seconds, kPromptSeconds);
    EXPECT_EQ(run.out, "The disc is complete: 170 files, 6601360 bytes read.\r\n");
  }
}

// A path is judged by what it points to: links without an extension to a
// sheet and to a bare dump read as the files they point to.
TEST_F(SheetRuns, LinksAreJudgedByWhatTheyPointTo) {
  fs::create_symlink(sheet_, work_.path() / "sheet-link");
  fs::create_symlink(DataTrack(), work_.path() / "bin-link");
  for (const char* link : {"sheet-link", "bin-link"}) {
    SCOPED_TRACE(link);
    const testing_support::ProgramRun run = RunImage(work_.path() / link, {"--check", "--quiet"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
  }
}

// --check on a damaged data track names the track file and the sector.
TEST_F(SheetRuns, CheckNamesTheTrackFileAndSector) {
  // The sector where a file's data begins in the raw data track.
  std::vector<std::uint8_t> raw = ReadWholeFile(DataTrack());
  const auto sectorOf = [&](const char* file) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(work_.path() / "disc" / file);
    std::size_t sector = 0;
    while ((sector + 1) * 2352 <= raw.size() &&
           !std::equal(bytes.begin(), bytes.begin() + 64, raw.begin() + sector * 2352 + 16)) {
      ++sector;
    }
    return sector;
  };
  const std::size_t damaged = sectorOf("bg000_0.bg");
  const std::size_t flipped = sectorOf("bg001_0.bg") + 1;
  const std::size_t cut = sectorOf("Sofu.bpl");
  ASSERT_LT(damaged, flipped);
  ASSERT_LT(flipped, cut);
  ASSERT_LT(cut * 2352, raw.size());
  raw[damaged * 2352 + 5] = 0;      // in its sync pattern
  raw[flipped * 2352 + 1000] ^= 1;  // one bit of its data: only the EDC tells
  raw.resize(cut * 2352 + 1000);
  std::ofstream(DataTrack(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  const std::string name = "\"" + DataTrack().filename().string() + "\"";
  const std::string lines[] = {
      "/bg000_0.bg: unreadable: " + name + ": sector " + std::to_string(damaged) +
          " has no sync pattern (the file's data is in sectors " + std::to_string(damaged),
      "/bg001_0.bg: unreadable: " + name + ": sector " + std::to_string(flipped) +
          " fails its EDC check",
      "/Sofu.bpl: unreadable: " + name + " ends before sector " + std::to_string(cut)};
  const testing_support::ProgramRun check = RunImage(sheet_, {"--check", "--quiet"});
  EXPECT_EQ(check.exitStatus, kDiscUnreadable);
  for (const std::string& line : lines) {
    EXPECT_NE(check.err.find(line), std::string::npos) << line << "\n" << check.err;
  }
  // A run with options fails those pictures, and says why in the same words.
  const testing_support::ProgramRun run =
      RunImage(sheet_, {"--out", (work_.path() / "out").string(), "--keep-going", "--quiet"});
  EXPECT_NE(run.exitStatus, 0);
  const std::string failure = "tvrcg001.bmp: " + sheet_.string() + "/bg001_0.bg: " + name +
                              ": sector " + std::to_string(flipped) + " fails its EDC check";
  EXPECT_NE(run.err.find(failure), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(work_.path() / "out" / "tvrcg001.bmp"));
}

// A damaged CHD: a changed byte in a hunk is named with the hunk and its
// sectors by --check, and fails the pictures there; a file cut short is
// one line saying so. Never a picture from damaged bytes.
TEST_F(SheetRuns, DamagedChdNamesTheHunk) {
  if (const std::string why = testing_support::WhyNoChd(); !why.empty()) {
    GTEST_SKIP() << why;
  }
  if (const std::string why = WhyProgramCannotRead(ImageKind::ChdLzma); !why.empty()) {
    GTEST_SKIP() << why;
  }
  const fs::path chd = MakeImage(work_.path() / "disc", work_.path(), ImageKind::ChdLzma);
  ASSERT_FALSE(chd.empty());
  const std::vector<std::uint8_t> whole = ReadWholeFile(chd);
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> said;  // in the messages of --check
  } kDamage[] = {
      {"flipped", whole, {"damaged.chd\": hunk ", " (sectors ", " to "}},
      {"cut",
       {whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)},
       {"damaged.chd: its map lies at byte ", "the file is cut short"}},
  };
  for (auto test : kDamage) {
    SCOPED_TRACE(test.what);
    if (std::string(test.what) == "flipped") {
      test.bytes[test.bytes.size() / 3] ^= 0x10;  // among the hunks; the map is at the end
    }
    const fs::path path = work_.path() / "damaged.chd";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(test.bytes.data()),
               static_cast<std::streamsize>(test.bytes.size()));
    const testing_support::ProgramRun check = RunImage(path, {"--check", "--quiet"});
    EXPECT_EQ(check.exitStatus, kDiscUnreadable);
    for (const std::string& said : test.said) {
      EXPECT_NE(check.err.find(said), std::string::npos) << said << "\n" << check.err;
    }
    const testing_support::ProgramRun run =
        RunImage(path, {"--out", (work_.path() / test.what).string(), "--keep-going", "--quiet"});
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_FALSE(run.err.empty());
  }
}

// A zip of the set cut short: --check names the member and the sector
// where its data stops, and a conversion with options fails the pictures
// beyond it.
TEST_F(SheetRuns, CheckNamesTheArchiveMemberCutShort) {
  if (const std::string why = testing_support::WhyNoImageOf(ImageKind::ZipSheet); !why.empty()) {
    GTEST_SKIP() << why;
  }
  if (const std::string why = WhyProgramCannotRead(ImageKind::ZipSheet); !why.empty()) {
    GTEST_SKIP() << why;
  }
  const std::string track = DataTrack().filename().string();
  ASSERT_TRUE(testing_support::RunQuietly(
      {"zip", "-q", "set.zip", sheet_.filename().string(), track}, work_.path()));
  const std::vector<std::uint8_t> zip = ReadWholeFile(work_.path() / "set.zip");
  const testing_support::ProgramRun whole =
      RunImage(work_.path() / "set.zip", {"--check", "--quiet"});
  EXPECT_EQ(whole.exitStatus, 0) << whole.err;
  EXPECT_EQ(whole.out, "The disc is complete: 170 files, 6601360 bytes read.\r\n");
  std::ofstream(work_.path() / "cut.zip", std::ios::binary)
      .write(reinterpret_cast<const char*>(zip.data()),
             static_cast<std::streamsize>(zip.size() / 2));
  const testing_support::ProgramRun check =
      RunImage(work_.path() / "cut.zip", {"--check", "--quiet"});
  EXPECT_EQ(check.exitStatus, kDiscUnreadable);
  EXPECT_NE(check.err.find(": unreadable: \"" + track + "\": sector "), std::string::npos)
      << check.err;
  EXPECT_NE(check.err.find(": the archive member is cut short"), std::string::npos) << check.err;
  const testing_support::ProgramRun run =
      RunImage(work_.path() / "cut.zip",
               {"--out", (work_.path() / "out").string(), "--keep-going", "--quiet"});
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.err.find("the archive member is cut short"), std::string::npos) << run.err;
}

// A sheet that names many files: each is looked at when it is needed and
// closed again, so a sheet of 300 FILE lines opens with 64 descriptors.
TEST_F(SheetRuns, ManyFilesAreOpenedOneAtATime) {
  std::string sheet = "FILE \"" + DataTrack().filename().string() +
                      "\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  for (int file = 0; file < 300; ++file) {
    const std::string name = "audio" + std::to_string(file) + ".bin";
    std::ofstream(work_.path() / name, std::ios::binary) << std::string(2352, '\0');
    if (file % 100 == 0) {
      sheet += "  TRACK " + std::to_string(file / 100 + 2) + " AUDIO\n";
    }
    sheet += "FILE " + name + " BINARY\n    INDEX " + std::to_string(file % 100) + " 00:00:00\n";
  }
  std::ofstream(work_.path() / "many.cue", std::ios::binary) << sheet;
  testing_support::ChildSetup setup;
  setup.openFilesLimit = 64;
  const testing_support::ProgramRun run = testing_support::RunProgram(
      testing_support::TestedProgram(),
      {testing_support::TestedProgram(), "--image", (work_.path() / "many.cue").string(), "--check",
       "--quiet"},
      work_.path(), Drives(), testing_support::StdoutTo::kFile, 20, setup);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "The disc is complete: 170 files, 6601360 bytes read.\r\n");
}

// Nothing is ever written to the folder for temporary files, and a folder
// that cannot be written changes nothing.
TEST_F(SheetRuns, NothingGoesToTheFolderForTemporaryFiles) {
  const fs::path temporary = work_.path() / "tmp";
  fs::create_directory(temporary);
  for (const std::string& folder : {temporary.string(), (work_.path() / "none").string()}) {
    SCOPED_TRACE(folder);
    testing_support::ChildSetup setup;
    setup.setEnvironment = {"TMPDIR=" + folder};
    for (const fs::path& image : {sheet_, DataTrack()}) {
      const testing_support::ProgramRun run = testing_support::RunProgram(
          testing_support::TestedProgram(),
          {testing_support::TestedProgram(), "--image", image.string(), "--check", "--quiet"},
          work_.path(), Drives(), testing_support::StdoutTo::kFile, 20, setup);
      EXPECT_EQ(run.exitStatus, 0) << run.err;
    }
  }
  EXPECT_TRUE(fs::is_empty(temporary));
}

// A damaged directory is refused at once, in 16 MiB of memory, with the same
// words from every layout: a root directory that claims 4 GiB (more than a
// directory of a CD can be) and a record whose length does not fit.
TEST_F(ImageRuns, DamagedDirectoriesGiveOneMessageFromEveryLayout) {
  const fs::path iso = MakeImage(work_.path() / "disc", work_.path(), ImageKind::RockRidge);
  ASSERT_FALSE(iso.empty());
  const std::vector<std::uint8_t> whole = ReadWholeFile(iso);
  constexpr std::size_t kRoot = 16 * 2048 + 156;  // the root's record in the primary descriptor
  const std::size_t rootSector = whole[kRoot + 2] | (whole[kRoot + 3] << 8);
  const auto put32 = [](std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      bytes[at + i] = bytes[at + 7 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  };
  std::vector<std::uint8_t> huge = whole;
  put32(huge, kRoot + 10, 0xFFFFF800u);
  std::vector<std::uint8_t> broken = whole;
  const std::size_t third = rootSector * 2048 + whole[rootSector * 2048] +
                            whole[rootSector * 2048 + whole[rootSector * 2048]];
  broken[third] = 20;  // shorter than any record
  const std::pair<const char*, std::vector<std::uint8_t>*> damages[] = {{"4 GiB", &huge},
                                                                        {"record", &broken}};
  for (const auto& [what, bytes] : damages) {
    SCOPED_TRACE(what);
    const fs::path folder = work_.path() / what;
    fs::create_directory(folder);
    std::ofstream(folder / "disc.iso", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes->data()),
               static_cast<std::streamsize>(bytes->size()));
    ASSERT_TRUE(testing_support::WriteRawBinCue(folder / "disc.iso", folder / "cue.bin"));
    ASSERT_TRUE(testing_support::WriteRawTrack(folder / "disc.iso", folder / "bare.bin", 1));
    std::set<std::string> complaints;
    testing_support::ChildSetup setup;
    // Heap and data: 16 MiB. Not under an emulator, whose own mappings need
    // more than the program's.
    setup.dataLimit = TVRCGCV_SANITIZED || testing_support::UnderEmulator() ? -1 : 16 << 20;
    for (const char* image : {"disc.iso", "bare.bin", "cue.cue"}) {
      const auto start = std::chrono::steady_clock::now();
      const testing_support::ProgramRun run = testing_support::RunProgram(
          testing_support::TestedProgram(),
          {testing_support::TestedProgram(), "--image", (folder / image).string(), "--check"},
          work_.path(), Drives(), testing_support::StdoutTo::kFile, 20, setup);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_EQ(run.exitStatus, 4) << image;
      EXPECT_LT(seconds, kPromptSeconds) << image;
      const std::string prefix = "tvrcgcv: " + (folder / image).string() + ": ";
      EXPECT_TRUE(run.err.starts_with(prefix)) << run.err;
      complaints.insert(run.err.substr(std::min(prefix.size(), run.err.size())));
    }
    EXPECT_EQ(complaints.size(), 1u) << *complaints.begin() << *complaints.rbegin();
    EXPECT_NE(complaints.begin()->find("no readable ISO 9660 file system"), std::string::npos)
        << *complaints.begin();
  }
}

}  // namespace
