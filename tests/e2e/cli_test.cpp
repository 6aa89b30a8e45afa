// The real program: started with a command line in an empty working
// directory, its standard output compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::ListDirectory;
using testing_support::ReadWholeFile;
using testing_support::TempDir;

// The console texts as Shift-JIS bytes, CR LF at each line end.
const std::string kBanner =
    "Tavorin CG\x83\x52\x83\x93\x83\x6F\x81\x5B\x83\x5E\x81\x5B ver 1.0\r\n"
    "programmed    : the tvrcgcv project\r\n"
    "last modified : 1998/08/21\r\n";
const std::string kUsage = "usage: tvrcgcv.exe [CD-ROM drive character]\r\n";
const std::string kFirstRowFails =
    "creating 'tvrcg000.bmp'..."
    "\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"
    "\x8F\x88\x97\x9D\x92\x86\x92\x66\x82\xB5\x82\xDC\x82\xB7\x81\x42(^^;\r\n";

enum class Stdout { kFile, kDevFull, kBrokenPipe };

struct Outcome {
  int exitStatus = -1;  // -1 unless the program exited normally
  int signal = 0;
  std::string out;
  std::string err;
};

class Cli : public testing::Test {
 protected:
  // Runs the program with the arguments (argv[0] first) in work_, with the
  // drive root set to an empty directory, and waits for it.
  Outcome Run(std::vector<std::string> args, Stdout where = Stdout::kFile) {
    const std::string outPath = (captures_.path() / "stdout").string();
    const std::string errPath = (captures_.path() / "stderr").string();
    const std::string rootVariable = "TVRCGCV_DRIVE_ROOT=" + drives_.path().string();
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    char* envp[] = {const_cast<char*>(rootVariable.c_str()), nullptr};

    int pipeEnds[2] = {-1, -1};
    if (where == Stdout::kBrokenPipe) {
      EXPECT_EQ(::pipe(pipeEnds), 0);
      ::close(pipeEnds[0]);  // nobody will ever read
    }
    const pid_t child = ::fork();
    if (child == 0) {
      int out = -1;
      switch (where) {
        case Stdout::kFile:
          out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          break;
        case Stdout::kDevFull:
          out = ::open("/dev/full", O_WRONLY);
          break;
        case Stdout::kBrokenPipe:
          out = pipeEnds[1];
          break;
      }
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0 ||
          ::chdir(work_.path().c_str()) != 0) {
        ::_exit(126);
      }
      ::execve(TVRCGCV_BINARY, argv.data(), envp);
      ::_exit(127);
    }
    if (pipeEnds[1] >= 0) {
      ::close(pipeEnds[1]);
    }
    Outcome outcome;
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status)) {
      outcome.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      outcome.signal = WTERMSIG(status);
    }
    const auto out = ReadWholeFile(outPath);
    const auto err = ReadWholeFile(errPath);
    outcome.out.assign(out.begin(), out.end());
    outcome.err.assign(err.begin(), err.end());
    return outcome;
  }

  void TearDown() override {
    EXPECT_TRUE(ListDirectory(work_.path()).empty()) << "files were left in the work directory";
  }

  TempDir work_;      // the program's current directory
  TempDir drives_;    // TVRCGCV_DRIVE_ROOT, holding no drive
  TempDir captures_;  // standard output and error of the program
};

TEST_F(Cli, NoArgumentShowsBannerAndUsage) {
  const Outcome run = Run({"tvrcgcv"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kUsage);
  EXPECT_EQ(run.err, "");

  // The usage line names tvrcgcv.exe whatever the program was started as.
  const Outcome renamed = Run({"/some/where/converter"});
  EXPECT_EQ(renamed.exitStatus, 0);
  EXPECT_EQ(renamed.out, kBanner + kUsage);
}

TEST_F(Cli, AnEmptyArgumentIsNoArgument) {
  const Outcome run = Run({"tvrcgcv", ""});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kUsage);
}

TEST_F(Cli, ADigitAsDriveFailsAtTheFirstPicture) {
  const Outcome run = Run({"tvrcgcv", "5"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kFirstRowFails);
  EXPECT_EQ(run.err, "");
}

TEST_F(Cli, AMissingDiscFailsAtTheFirstPicture) {
  const Outcome run = Run({"tvrcgcv", "q"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kBanner + kFirstRowFails);

  std::filesystem::create_directory(drives_.path() / "q");  // an empty disc
  const Outcome empty = Run({"tvrcgcv", "Q:\\", "ignored"});
  EXPECT_EQ(empty.exitStatus, 0);
  EXPECT_EQ(empty.out, kBanner + kFirstRowFails);
}

TEST_F(Cli, AFullStandardOutputEndsTheRunWithAnError) {
  for (const auto& args : {std::vector<std::string>{"tvrcgcv"}, {"tvrcgcv", "q"}}) {
    const Outcome run = Run(args, Stdout::kDevFull);
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_EQ(run.signal, 0);
    EXPECT_NE(run.err, "");
  }
}

TEST_F(Cli, AClosedPipeIsAnErrorNotASignal) {
  const Outcome run = Run({"tvrcgcv", "q"}, Stdout::kBrokenPipe);
  EXPECT_EQ(run.signal, 0);
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.err, "");
}

}  // namespace
