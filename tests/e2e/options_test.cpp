// The real program with options, on the demo disc (a folder, its ISO and
// BIN/CUE images, and damaged copies): where the pictures go and in which
// format, checking and listing the disc, picking pictures, going on after a
// failure, quiet runs, bad command lines, and the exit status and standard
// error line of every outcome. PNG files are read with an independent
// reader and compared pixel for pixel with the BMP files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "demo_disc/demo_disc.h"
#include "disc_images.h"
#include "expected_console.h"
#include "picture_reader.h"
#include "program_run.h"
#include "test_support.h"

namespace {

using testing_support::Rgb;

namespace fs = std::filesystem;
using testing_support::ProgramRun;
using testing_support::ReadWholeFile;
using testing_support::TempDir;

// The exit statuses of a run with options.
constexpr int kDone = 0;
constexpr int kUsage = 2;
constexpr int kPicturesFailed = 3;
constexpr int kDiscUnreadable = 4;
constexpr int kOutputFailed = 5;

std::map<std::string, std::vector<std::uint8_t>> FilesIn(const fs::path& dir) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  if (fs::is_directory(dir)) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      files[entry.path().filename().string()] = ReadWholeFile(entry.path());
    }
  }
  return files;
}

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    demo::WriteDisc(Disc(), false);
    // The classic run's files, the reference of every BMP written here.
    fs::create_directories(work_.path() / "classic");
    fs::create_directories(work_.path() / "drives");
    fs::create_symlink(Disc(), work_.path() / "drives" / "q");
    ASSERT_EQ(Run({"q"}, "classic").out, expected::Transcript(expected::kRows));
    classic_ = FilesIn(work_.path() / "classic");
    ASSERT_EQ(classic_.size(), 161u);
  }

  fs::path Disc() const { return work_.path() / "disc"; }

  // Runs the program in `dir` (below the work folder) with the arguments.
  ProgramRun Run(std::vector<std::string> args, const std::string& dir = ".",
                 testing_support::StdoutTo where = testing_support::StdoutTo::kFile) {
    args.insert(args.begin(), testing_support::TestedProgram());
    fs::create_directories(work_.path() / dir);
    const ProgramRun run = testing_support::RunProgram(
        testing_support::TestedProgram(), args, work_.path() / dir, work_.path() / "drives", where);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    return run;
  }

  // Every file of `dir` is the classic run's file of that name.
  ::testing::AssertionResult SameAsClassic(const fs::path& dir, std::size_t count) {
    const auto files = FilesIn(dir);
    if (files.size() != count) {
      return ::testing::AssertionFailure() << files.size() << " files, expected " << count;
    }
    for (const auto& [name, bytes] : files) {
      if (!classic_.contains(name) || classic_.at(name) != bytes) {
        return ::testing::AssertionFailure() << name << " differs from the classic run's";
      }
    }
    return ::testing::AssertionSuccess();
  }

  TempDir work_;
  std::map<std::string, std::vector<std::uint8_t>> classic_;
};

TEST_F(Options, HelpVersionAndBadCommandLines) {
  for (const char* help : {"--help", "-h", "/?"}) {
    const ProgramRun run = Run({"q", help});
    EXPECT_EQ(run.exitStatus, kDone) << help;
    EXPECT_TRUE(run.out.starts_with("usage: tvrcgcv [options] [drive letter]\r\n")) << help;
    EXPECT_NE(run.out.find("--keep-going"), std::string::npos);
  }
  const ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.exitStatus, kDone);
  EXPECT_TRUE(version.out.starts_with("tvrcgcv 1.0.0, disc images: ")) << version.out;

  const struct {
    std::vector<std::string> args;
    std::string complaint;
  } kBad[] = {
      {{"q", "--bogus"}, "unknown option --bogus"},
      {{"q", "--out"}, "--out needs a value"},
      {{"q", "--out="}, "--out needs a non-empty value"},
      {{"q", "--format", "gif"}, "--format takes bmp or png"},
      {{"q", "--only", ""}, "--only: \"\" is no picture number"},
      {{"q", "--only", "5-2"}, "--only: \"5-2\""},
      {{"q", "--only", "0-161"}, "--only: \"0-161\""},
      {{"q", "--only", "1,,2"}, "--only: \"\""},
      {{"q", "--only=x"}, "--only: \"x\""},
      {{"q", "--quiet=yes"}, "--quiet takes no value"},
      {{"--check", "--list"}, "--check and --list cannot go together"},
      {{"q", "--image", "disc"},
       "the disc is given twice: the drive letter \"q\" and --image disc"},
      {{"--image", "x.iso", "x.iso"}, "the disc is given twice: \"x.iso\" and --image x.iso"},
      {{"--out", "a", "--out", "b", "q"}, "--out is given twice"},
      {{"--quiet"}, "no disc: give a drive letter or --image"},
      {{"--out", "--quiet", "q"}, "--out needs a value (\"--quiet\" is an option"},
      {{"q", "--format", "png", "--format=bmp"}, "--format is given twice"},
      {{"disc.iso", "--out", "x"}, "\"disc.iso\" is no drive letter; give a disc image"},
      {{"--out", "x", "./disc"}, "\"./disc\" is no drive letter"},
      {{"q:", "--quiet", "r:\\"}, "the drive is given twice: \"q:\" and \"r:\\\""},
      // A lone argument that begins with a dash is meant as an option.
      {{"--check", "-image", "d.iso"}, "unknown option -image"},
      {{"--check", "-x", "--image", "d.iso"}, "unknown option -x"},
      {{"-x", "--image", "d.iso"}, "unknown option -x"},
      {{"-image=d.iso", "--check"}, "unknown option -image ("},
      {{"q", "--check", "-", "-y"}, "unknown option -y"},
      {{"--check", "-"}, "\"-\" is no drive letter"},
      {{"q:\\x", "--check"}, "\"q:\\x\" is no drive letter"},
      {{"--check", "q-"}, "\"q-\" is no drive letter"},
      {{"--check", "[:"}, "\"[:\" is no drive letter"},
      {{"1", "--check"}, "\"1\" is no drive letter"},
      {{"q", "--only", "1x"}, "--only: \"1x\" is no picture number"},
      {{"q", "--only", "-1"}, "--only: \"-1\" is no picture number"},
      // Long names are cut in the middle.
      {{"q", "--" + std::string(100000, 'a')}, "unknown option --aaa"},
      {{"q", "--only", "1," + std::string(100000, '9')}, "--only: \"999"},
      {{std::string(100000, 'd'), "--check"},
       "d\xE2\x80\xA6"
       "d"},
      {{"q", "--image", std::string(100000, 'i')}, "--image iii"},
      {{"q", "--out", "--" + std::string(100000, 'o')}, "(\"--ooo"},
  };
  for (const auto& bad : kBad) {
    SCOPED_TRACE(bad.args.back().substr(0, 40));
    const ProgramRun run = Run(bad.args);
    EXPECT_EQ(run.exitStatus, kUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("tvrcgcv: ")) << run.err;
    EXPECT_NE(run.err.find(bad.complaint), std::string::npos) << run.err;
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_LT(run.err.size(), 400u);
  }
  EXPECT_EQ(FilesIn(work_.path() / "a").size(), 0u);
}

// Standard output that cannot be written ends every kind of run with status
// 1 and says so on standard error.
TEST_F(Options, StandardOutputThatCannotBeWrittenIsReported) {
  const std::vector<std::string> kRuns[] = {{"--list"},
                                            {"--help"},
                                            {"--version"},
                                            {"q", "--check"},
                                            {"q", "--out", "x", "--only", "3"},
                                            {"q", "--out", "x", "--quiet"}};
  for (const auto& args : kRuns) {
    for (const auto where :
         {testing_support::StdoutTo::kDevFull, testing_support::StdoutTo::kBrokenPipe}) {
      SCOPED_TRACE(testing::PrintToString(args) + (where == testing_support::StdoutTo::kDevFull
                                                       ? " >/dev/full"
                                                       : " | (closed pipe)"));
      const ProgramRun run = Run(args, ".", where);
      EXPECT_EQ(run.exitStatus, 1);
      EXPECT_EQ(run.err, "tvrcgcv: cannot write to standard output; stopping\n");
    }
  }
}

// The folder, its images and the drive letter all give the classic run's
// files, into an output folder made with its parents, whichever side of the
// disc the options stand.
TEST_F(Options, EveryKindOfDiscGivesTheClassicFiles) {
  struct Case {
    std::string what;
    std::vector<std::string> args;
    std::string out;
  };
  std::vector<Case> runs = {
      {"folder", {"--image", Disc().string(), "--out", "out/folder/deep"}, "out/folder/deep"},
      {"drive, options after", {"q", "--out", "out/drive"}, "out/drive"},
      {"drive, options before", {"--out=out/before", "Q:\\"}, "out/before"},
  };
  if (testing_support::WhyNoDiscImages().empty()) {
    for (const auto kind :
         {testing_support::ImageKind::Joliet, testing_support::ImageKind::CueSheet,
          testing_support::ImageKind::BinFile}) {
      const fs::path image = testing_support::MakeImage(Disc(), work_.path(), kind);
      ASSERT_FALSE(image.empty());
      const std::string out = "out/" + testing_support::KindName(kind);
      runs.push_back(
          {testing_support::KindName(kind), {"--image", image.string(), "--out", out}, out});
      if (kind == testing_support::ImageKind::Joliet) {
        // A drive letter that stands for a disc image is read as the image.
        fs::create_symlink(image, work_.path() / "drives" / "r");
        runs.push_back({"drive that is a disc image", {"R:", "--out", "out/r"}, "out/r"});
      }
    }
  }
  for (const Case& test : runs) {
    SCOPED_TRACE(test.what);
    const ProgramRun run = Run(test.args);
    EXPECT_EQ(run.exitStatus, kDone) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(SameAsClassic(work_.path() / test.out, 161));
  }
  // The progress lines name the files, as the classic run's do.
  const ProgramRun drive = Run({"q", "--out", "sub", "--only", "7"});
  EXPECT_EQ(drive.out,
            expected::kBanner + expected::Progress(7) + expected::kDone + expected::kFinished);
}

TEST_F(Options, PngFilesShowTheBmpFilesPixelsAndKeepThePalette) {
  const ProgramRun run = Run({"q", "--format", "png", "--out", "png", "--quiet"});
  ASSERT_EQ(run.exitStatus, kDone) << run.err;
  EXPECT_EQ(run.out, "161 of 161 pictures written.\r\n");
  const auto files = FilesIn(work_.path() / "png");
  ASSERT_EQ(files.size(), 161u);
  for (int row = 0; row < expected::kRows; ++row) {
    SCOPED_TRACE(row);
    std::string name = expected::OutputName(row);
    const std::vector<std::uint8_t>& bmp = classic_.at(name);
    name.replace(name.size() - 3, 3, "png");
    ASSERT_TRUE(files.contains(name));
    const std::vector<std::uint8_t>& png = files.at(name);
    // IHDR: an indexed picture of 8 bits per pixel, like the BMP file.
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png[24], 8);  // bit depth
    EXPECT_EQ(png[25], 3);  // colour type: indexed
    int bmpWidth = 0, bmpHeight = 0, pngWidth = 0, pngHeight = 0;
    const std::vector<std::uint8_t> fromBmp = Rgb(bmp, &bmpWidth, &bmpHeight);
    const std::vector<std::uint8_t> fromPng = Rgb(png, &pngWidth, &pngHeight);
    ASSERT_FALSE(fromPng.empty()) << stbi_failure_reason();
    EXPECT_EQ(pngWidth, bmpWidth);
    EXPECT_EQ(pngHeight, bmpHeight);
    EXPECT_TRUE(fromPng == fromBmp) << name << ": the pixels differ from the BMP file's";
  }
}

// Where libspng cannot be loaded (a file of its name that is no library,
// found first), or lacks a function, PNG files are refused before anything
// is made, with the reason; BMP files are written as ever, and --version
// says so.
TEST_F(Options, PngFilesWithoutLibspngAreRefusedBeforeAnythingIsMade) {
  if (testing_support::UnderEmulator()) {
    GTEST_SKIP() << "the emulator's loader has a library path of its own";
  }
  fs::create_directories(work_.path() / "nolib");
  std::ofstream(work_.path() / "nolib" / "libspng.so.0") << "no library";
  const struct {
    fs::path folder;
    std::string reason;
  } kLibraries[] = {
      {work_.path() / "nolib", "PNG files need libspng (libspng0), which cannot be loaded: "},
      {TVRCGCV_PARTIAL_SPNG_DIR, "libspng.so.0 has no spng_ctx_free"},
  };
  for (const auto& [folder, reason] : kLibraries) {
    SCOPED_TRACE(reason);
    testing_support::ChildSetup setup;
    setup.setEnvironment = {"LD_LIBRARY_PATH=" + folder.string()};
    const auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), testing_support::TestedProgram());
      return testing_support::RunProgram(testing_support::TestedProgram(), args, work_.path(),
                                         work_.path() / "drives", testing_support::StdoutTo::kFile,
                                         300, setup);
    };
    const ProgramRun version = run({"--version"});
    EXPECT_EQ(version.exitStatus, kDone);
    if (version.out.find(", PNG: yes") != std::string::npos) {
      GTEST_SKIP() << "this program has libspng linked in";
    }
    EXPECT_NE(version.out.find(", PNG: no"), std::string::npos) << version.out;
    const ProgramRun png = run({"q", "--format", "png", "--out", "png"});
    EXPECT_EQ(png.exitStatus, kOutputFailed);
    EXPECT_EQ(png.out, "");
    EXPECT_TRUE(png.err.starts_with("tvrcgcv: " + reason)) << png.err;
    EXPECT_NE(png.err.find("libspng.so.0"), std::string::npos) << png.err;
    EXPECT_EQ(CountLines(png.err), 1);
    EXPECT_FALSE(fs::exists(work_.path() / "png"));
    const ProgramRun bmp = run({"q", "--out", "bmp", "--only", "160", "--quiet"});
    EXPECT_EQ(bmp.exitStatus, kDone) << bmp.err;
    EXPECT_TRUE(SameAsClassic(work_.path() / "bmp", 1));
    fs::remove_all(work_.path() / "bmp");
  }
}

TEST_F(Options, OnlyListAndCheck) {
  const ProgramRun only = Run({"q", "--only", "0-2,155", "--out", "only"});
  EXPECT_EQ(only.exitStatus, kDone);
  EXPECT_TRUE(SameAsClassic(work_.path() / "only", 4));
  EXPECT_TRUE(fs::exists(work_.path() / "only" / "tvrcg155.bmp"));

  const ProgramRun list = Run({"--list"});
  EXPECT_EQ(list.exitStatus, kDone);
  EXPECT_EQ(CountLines(list.out), 161);
  EXPECT_TRUE(
      list.out.starts_with("  0  tvrcg000.bmp  288x144  tiled, 256 colours  bg000_0.bg: "
                           "palette 24+512, map 42088+1296, tiles 544+41536\r\n"))
      << list.out.substr(0, 200);
  const ProgramRun portrait = Run({"--list", "--only", "160", "--format", "png"});
  EXPECT_EQ(portrait.out,
            "160  tvrcg160.png  104x84  plain, 256 colours  Sofu.bpl: palette 4+512  "
            "Sofu.btx: pixels 4+8736\r\n");

  const ProgramRun check = Run({"--image", Disc().string(), "--check"});
  EXPECT_EQ(check.exitStatus, kDone);
  EXPECT_EQ(CountLines(check.out), 171);
  EXPECT_NE(check.out.find("ok          " + (Disc() / "bg000_0.bg").string() + "  3 ranges\r\n"),
            std::string::npos);
  EXPECT_NE(check.out.find("ok          " + (Disc() / "Sofu.btx").string() + "  1 range\r\n"),
            std::string::npos);
  EXPECT_TRUE(check.out.ends_with("The disc is complete: 170 files, 6601360 bytes read.\r\n"))
      << check.out.substr(check.out.size() - 100);
  EXPECT_EQ(check.err, "");
  // Nothing written beside the disc, the drives, and the folders of the runs above.
  EXPECT_EQ(testing_support::ListDirectory(work_.path()),
            (std::vector<std::string>{"classic", "disc", "drives", "only"}));
}

// A copy of the disc with a file missing and one cut short.
TEST_F(Options, ADamagedDiscIsReportedAndSkippedWhenAskedTo) {
  fs::remove(Disc() / "bg005_0.bg");
  fs::resize_file(Disc() / "Mirabo.btx", 3000);
  const std::string missing = (Disc() / "bg005_0.bg").string();

  const ProgramRun check = Run({"--image", Disc().string(), "--check", "--quiet"});
  EXPECT_EQ(check.exitStatus, kDiscUnreadable);
  EXPECT_EQ(check.out,
            "The disc is incomplete: 2 of 170 files are missing, short or unreadable.\r\n");
  EXPECT_EQ(check.err, "tvrcgcv: " + missing +
                           ": missing: No such file or directory\n"
                           "tvrcgcv: " +
                           (Disc() / "Mirabo.btx").string() +
                           ": short: its ranges reach byte 8740, the file ends at byte 3000\n");

  // Without --keep-going the run stops at the missing file.
  const ProgramRun stop = Run({"--image", Disc().string(), "--out", "stop"});
  EXPECT_EQ(stop.exitStatus, kPicturesFailed);
  EXPECT_EQ(stop.out, expected::Transcript(5));
  EXPECT_EQ(stop.err, "tvrcgcv: tvrcg005.bmp: " + missing + ": No such file or directory\n");
  EXPECT_EQ(FilesIn(work_.path() / "stop").size(), 5u);
  // Its summary counts the pictures asked for, and those never tried.
  const struct {
    std::vector<std::string> options;
    std::string summary;
  } kStops[] = {
      {{"--quiet"}, "5 of 161 pictures written; stopped at tvrcg005.bmp (155 not tried).\r\n"},
      {{"--quiet", "--only", "3-7"},
       "2 of 5 pictures written; stopped at tvrcg005.bmp (2 not tried).\r\n"},
      {{"--quiet", "--only", "4,5"}, "1 of 2 pictures written; stopped at tvrcg005.bmp.\r\n"},
  };
  for (const auto& [options, summary] : kStops) {
    std::vector<std::string> args = {"--image", Disc().string(), "--out", "quiet-stop"};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramRun quiet = Run(args);
    EXPECT_EQ(quiet.exitStatus, kPicturesFailed);
    EXPECT_EQ(quiet.out, summary);
    EXPECT_EQ(quiet.err, stop.err);
  }

  // With it, every other picture is written; the short one is incomplete
  // (its missing pixels would be black): it fails too, saying where its
  // file ends, and is not written.
  const ProgramRun going =
      Run({"--image", Disc().string(), "--out", "going", "--keep-going", "--quiet"});
  EXPECT_EQ(going.exitStatus, kPicturesFailed);
  EXPECT_EQ(going.out, "159 of 161 pictures written; failed: tvrcg005.bmp, tvrcg153.bmp.\r\n");
  EXPECT_EQ(going.err,
            stop.err + "tvrcgcv: tvrcg153.bmp: incomplete: " + (Disc() / "Mirabo.btx").string() +
                ": short: its ranges reach byte 8740, the file ends at byte 3000\n");
  EXPECT_EQ(FilesIn(work_.path() / "going").size(), 159u);
  EXPECT_FALSE(FilesIn(work_.path() / "going").contains("tvrcg153.bmp"));

  // On the console a failed picture of a run that goes on is "failed", the
  // missing file's and the incomplete one's alike, and the run finishes;
  // a run that stops at the incomplete one ends with the classic error.
  std::string transcript = expected::kBanner;
  for (int row = 0; row < expected::kRows; ++row) {
    transcript +=
        expected::Progress(row) + (row == 5 || row == 153 ? expected::kFailed : expected::kDone);
  }
  const ProgramRun shown = Run({"--image", Disc().string(), "--out", "shown", "--keep-going"});
  EXPECT_EQ(shown.exitStatus, kPicturesFailed);
  EXPECT_EQ(shown.out, transcript + expected::kFinished + going.out);
  EXPECT_EQ(shown.err, going.err);
  const ProgramRun incomplete = Run({"--image", Disc().string(), "--out", "shown", "--only=153"});
  EXPECT_EQ(incomplete.exitStatus, kPicturesFailed);
  EXPECT_EQ(incomplete.out, expected::kBanner + expected::Progress(153) + expected::kDecodeFailed);
  EXPECT_EQ(incomplete.err, going.err.substr(stop.err.size()));
}

TEST_F(Options, AnOutputThatCannotBeWrittenHasItsOwnStatus) {
  std::ofstream(work_.path() / "a-file") << "not a folder";
  const ProgramRun notFolder = Run({"q", "--out", "a-file/pictures"});
  EXPECT_EQ(notFolder.exitStatus, kOutputFailed);
  EXPECT_EQ(notFolder.err, "tvrcgcv: a-file/pictures: Not a directory\n");

  fs::create_directories(work_.path() / "blocked" / "tvrcg002.bmp");
  const ProgramRun blocked = Run({"q", "--out", "blocked", "--keep-going", "--quiet"});
  EXPECT_EQ(blocked.exitStatus, kOutputFailed);
  EXPECT_EQ(blocked.out, "160 of 161 pictures written; failed: tvrcg002.bmp.\r\n");
  EXPECT_EQ(blocked.err, "tvrcgcv: blocked/tvrcg002.bmp: Is a directory\n");

  // A folder that cannot be made whole (a path too long for the system)
  // leaves none of the folders made on the way.
  std::string deep = "made";
  while (deep.size() < 5000) {
    deep += "/" + std::string(100, 'd');
  }
  const ProgramRun tooLong = Run({"q", "--out", deep});
  EXPECT_EQ(tooLong.exitStatus, kOutputFailed);
  EXPECT_TRUE(tooLong.err.ends_with(": File name too long\n")) << tooLong.err;
  EXPECT_TRUE(tooLong.err.starts_with("tvrcgcv: made/ddd")) << tooLong.err;
  EXPECT_LT(tooLong.err.size(), 300u) << "the path is cut";
  EXPECT_NE(tooLong.err.find("\xE2\x80\xA6"), std::string::npos);
  EXPECT_FALSE(fs::exists(work_.path() / "made"));

  const ProgramRun noDrive = Run({"r", "--out", "x"});
  EXPECT_EQ(noDrive.exitStatus, kDiscUnreadable);
  EXPECT_TRUE(noDrive.err.starts_with("tvrcgcv: drive r: ")) << noDrive.err;
  const ProgramRun noImage = Run({"--image", "nowhere.iso"});
  EXPECT_EQ(noImage.exitStatus, kDiscUnreadable);
  EXPECT_EQ(noImage.err, "tvrcgcv: nowhere.iso: No such file or directory\n");
  const ProgramRun longImage = Run({"--image", deep + ".iso"});
  EXPECT_EQ(longImage.exitStatus, kDiscUnreadable);
  EXPECT_TRUE(longImage.err.ends_with("ddd.iso: File name too long\n")) << longImage.err;
  EXPECT_LT(longImage.err.size(), 300u) << "the path is cut";
}

}  // namespace
