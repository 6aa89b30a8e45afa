// The real program: started with a command line in an empty working
// directory, its standard output compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "expected_console.h"
#include "program_run.h"
#include "test_support.h"

namespace {

using testing_support::ListDirectory;
using testing_support::ProgramRun;
using testing_support::RunProgram;
using testing_support::StdoutTo;
using testing_support::TempDir;

using expected::kBanner;
using expected::kUsage;
const std::string kFirstRowFails = expected::Progress(0) + expected::kDecodeFailed;

class Cli : public testing::Test {
 protected:
  // Runs the program with the arguments (argv[0] first) in work_, with the
  // drive root set to an empty directory, and waits for it.
  ProgramRun Run(std::vector<std::string> args, StdoutTo where = StdoutTo::kFile) {
    return RunProgram(testing_support::TestedProgram(), std::move(args), work_.path(),
                      drives_.path(), where);
  }

  void TearDown() override {
    EXPECT_TRUE(ListDirectory(work_.path()).empty()) << "files were left in the work directory";
  }

  TempDir work_;    // the program's current directory
  TempDir drives_;  // TVRCGCV_DRIVE_ROOT, holding no drive
};

TEST_F(Cli, NoArgumentShowsBannerAndUsage) {
  const ProgramRun run = Run({"tvrcgcv"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kUsage);
  EXPECT_EQ(run.err, "");

  // The usage line names tvrcgcv.exe whatever the program was started as.
  const ProgramRun renamed = Run({"/some/where/converter"});
  EXPECT_EQ(renamed.exitStatus, 0);
  EXPECT_EQ(renamed.out, kBanner + kUsage);
}

TEST_F(Cli, AnEmptyArgumentIsNoArgument) {
  const ProgramRun run = Run({"tvrcgcv", ""});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kUsage);
}

// Without options any first character is the drive: a digit, and a dash
// (an argument like "-image" is an unknown option only beside options).
TEST_F(Cli, ADigitAsDriveFailsAtTheFirstPicture) {
  for (const auto& args : {std::vector<std::string>{"tvrcgcv", "5"},
                           {"tvrcgcv", "-image", "d.iso"},
                           {"tvrcgcv", "-x"}}) {
    SCOPED_TRACE(args[1]);
    const ProgramRun run = Run(args);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, kBanner + kFirstRowFails);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(Cli, AMissingDiscFailsAtTheFirstPicture) {
  const ProgramRun run = Run({"tvrcgcv", "q"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kFirstRowFails);

  std::filesystem::create_directory(drives_.path() / "q");  // an empty disc
  const ProgramRun empty = Run({"tvrcgcv", "Q:\\", "ignored"});
  EXPECT_EQ(empty.exitStatus, 0);
  EXPECT_EQ(empty.out, kBanner + kFirstRowFails);
}

TEST_F(Cli, AFullStandardOutputEndsTheRunWithAnError) {
  for (const auto& args : {std::vector<std::string>{"tvrcgcv"}, {"tvrcgcv", "q"}}) {
    const ProgramRun run = Run(args, StdoutTo::kDevFull);
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_EQ(run.signal, 0);
    EXPECT_NE(run.err, "");
  }
}

// A terminal is shown the texts in UTF-8 when its locale says UTF-8, also
// when that locale is not installed; otherwise it gets the Shift-JIS bytes.
TEST_F(Cli, ATerminalIsShownUtf8WhenItsLocaleNamesIt) {
  const std::string utf8Banner =
      "Tavorin CG\u30b3\u30f3\u30d0\u30fc\u30bf\u30fc ver 1.0\n"
      "programmed    : the tvrcgcv project\nlast modified : 1998/08/21\n";
  const std::string usage = "usage: tvrcgcv.exe [CD-ROM drive character]\n";
  const std::string utf8Failure =
      "creating 'tvrcg000.bmp'...\u30a8\u30e9\u30fc\u304c\u767a\u751f\u3057\u307e\u3057\u305f"
      "\u3002\u51e6\u7406\u4e2d\u65ad\u3057\u307e\u3059\u3002(^^;\n";
  struct Case {
    std::vector<std::string> set;
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{"LANG=xx_XX.UTF-8"}, {"tvrcgcv"}, utf8Banner + usage},
      {{"LANG=C", "LC_CTYPE=yy_YY.utf8"}, {"tvrcgcv"}, utf8Banner + usage},
      {{"LANG=xx_XX.UTF-8", "LC_ALL=C"}, {"tvrcgcv"}, kBanner + kUsage},
      {{"LANG=xx_XX.ISO-8859-1"}, {"tvrcgcv"}, kBanner + kUsage},
      {{"LANG=ja_JP.UTF-8"}, {"tvrcgcv", "q"}, utf8Banner + utf8Failure},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.set.back());
    testing_support::ChildSetup setup;
    setup.unsetEnvironment = {"LC_ALL", "LC_CTYPE", "LANG"};
    setup.setEnvironment = test.set;
    const ProgramRun run = RunProgram(testing_support::TestedProgram(), test.args, work_.path(),
                                      drives_.path(), StdoutTo::kTerminal, 60, setup);
    EXPECT_EQ(run.exitStatus, 0);
    // The terminal turns each line end into CR LF of its own; without the
    // CRs the lines are what the program wrote.
    std::string shown = run.out;
    std::erase(shown, '\r');
    std::string expected = test.expected;
    std::erase(expected, '\r');
    EXPECT_EQ(shown, expected);
  }
}

TEST_F(Cli, AClosedPipeIsAnErrorNotASignal) {
  const ProgramRun run = Run({"tvrcgcv", "q"}, StdoutTo::kBrokenPipe);
  EXPECT_EQ(run.signal, 0);
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.err, "");
}

}  // namespace
