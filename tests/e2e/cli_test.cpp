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
    return RunProgram(TVRCGCV_BINARY, std::move(args), work_.path(), drives_.path(), where);
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

TEST_F(Cli, ADigitAsDriveFailsAtTheFirstPicture) {
  const ProgramRun run = Run({"tvrcgcv", "5"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kFirstRowFails);
  EXPECT_EQ(run.err, "");
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

TEST_F(Cli, AClosedPipeIsAnErrorNotASignal) {
  const ProgramRun run = Run({"tvrcgcv", "q"}, StdoutTo::kBrokenPipe);
  EXPECT_EQ(run.signal, 0);
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.err, "");
}

}  // namespace
