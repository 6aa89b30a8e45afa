// Runs the real program as a child process, the way a user starts it, and
// collects what it did.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Where the child's standard output goes.
enum class StdoutTo {
  kFile,        // a file, read back into ProgramRun::out
  kDevFull,     // /dev/full: every write fails with "no space"
  kBrokenPipe,  // a pipe whose reading end is closed
  kClosed,      // no standard output at all
  kTerminal,    // a pseudo-terminal, what it shows read back into ProgramRun::out
};

// What else the child is started with.
struct ChildSetup {
  std::vector<std::string> setEnvironment;    // "NAME=value", replacing NAME
  std::vector<std::string> unsetEnvironment;  // names
  long long fileSizeLimit = -1;               // bytes (RLIMIT_FSIZE); -1: unchanged
  long long openFilesLimit = -1;              // descriptors (RLIMIT_NOFILE); -1: unchanged
  long long dataLimit = -1;                   // bytes of heap and data (RLIMIT_DATA); -1: unchanged
};

struct ProgramRun {
  int exitStatus = -1;  // -1 unless the program exited by itself
  int signal = 0;       // the signal that ended it, if one did
  bool timedOut = false;
  std::string out;
  std::string err;
};

// The program that the end-to-end tests run: the one that
// TVRCGCV_TEST_PROGRAM names, where it is set (another build of tvrcgcv,
// such as the statically linked one), else `built`.
std::string ProgramUnderTest(const char* built);

// Whether TVRCGCV_TEST_EMULATOR runs the program under qemu-user: what a
// process sees of its child (system calls, address space) is then qemu's.
bool UnderEmulator();

#ifdef TVRCGCV_BINARY  // the build's own tvrcgcv, in the end-to-end tests
inline const std::string& TestedProgram() {
  static const std::string program = ProgramUnderTest(TVRCGCV_BINARY);
  return program;
}
#endif

// Runs `program` with `args` (argv[0] first) in `workDir`, with
// TVRCGCV_DRIVE_ROOT set to `driveRoot` and the rest of the environment
// passed on as `setup` says. A child still running after `timeoutSeconds` is
// killed and reported as timed out. Where TVRCGCV_TEST_EMULATOR names a
// qemu-user program (qemu-aarch64, say), the child runs `program` under it,
// with argv[0] passed on (qemu's -0).
ProgramRun RunProgram(const std::string& program, std::vector<std::string> args,
                      const std::filesystem::path& workDir, const std::filesystem::path& driveRoot,
                      StdoutTo where = StdoutTo::kFile, int timeoutSeconds = 300,
                      const ChildSetup& setup = {});

}  // namespace testing_support
