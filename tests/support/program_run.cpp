#include "program_run.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "test_support.h"

extern char** environ;

namespace testing_support {
namespace {

std::string ReadText(const std::filesystem::path& path) {
  const auto bytes = ReadWholeFile(path);
  return {bytes.begin(), bytes.end()};
}

// The parent's environment with TVRCGCV_DRIVE_ROOT and the setup's
// variables replaced, and the setup's removals removed.
std::vector<std::string> ChildEnvironment(const std::filesystem::path& driveRoot,
                                          const ChildSetup& setup) {
  std::vector<std::string> added = setup.setEnvironment;
  added.push_back("TVRCGCV_DRIVE_ROOT=" + driveRoot.string());
  std::vector<std::string> dropped = setup.unsetEnvironment;
  for (const std::string& entry : added) {
    dropped.push_back(entry.substr(0, entry.find('=')));
  }
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (std::find(dropped.begin(), dropped.end(), name) == dropped.end()) {
      entries.emplace_back(text);
    }
  }
  entries.insert(entries.end(), added.begin(), added.end());
  return entries;
}

// Everything a pseudo-terminal's master side gives until the child is gone.
std::string DrainTerminal(int master) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return text;  // EIO once the last slave side is closed
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

// The child's command line: the program's own, or the emulator's with the
// program and its arguments.
std::vector<std::string> CommandLine(const std::string& program, std::vector<std::string> args,
                                     std::string* file) {
  const char* emulator = std::getenv("TVRCGCV_TEST_EMULATOR");
  if (emulator == nullptr || emulator[0] == '\0') {
    *file = program;
    return args;
  }
  *file = emulator;
  std::vector<std::string> line = {emulator, "-0", args.empty() ? program : args[0], program};
  line.insert(line.end(), args.begin() + (args.empty() ? 0 : 1), args.end());
  return line;
}

}  // namespace

bool UnderEmulator() {
  const char* emulator = std::getenv("TVRCGCV_TEST_EMULATOR");
  return emulator != nullptr && emulator[0] != '\0';
}

std::string ProgramUnderTest(const char* built) {
  const char* named = std::getenv("TVRCGCV_TEST_PROGRAM");
  return named != nullptr && named[0] != '\0' ? named : built;
}

ProgramRun RunProgram(const std::string& program, std::vector<std::string> args,
                      const std::filesystem::path& workDir, const std::filesystem::path& driveRoot,
                      StdoutTo where, int timeoutSeconds, const ChildSetup& setup) {
  const TempDir captures;
  const std::string outPath = (captures.path() / "stdout").string();
  const std::string errPath = (captures.path() / "stderr").string();
  std::vector<std::string> environment = ChildEnvironment(driveRoot, setup);
  std::string file;
  args = CommandLine(program, std::move(args), &file);
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  int pipeEnds[2] = {-1, -1};
  if (where == StdoutTo::kBrokenPipe && ::pipe(pipeEnds) == 0) {
    ::close(pipeEnds[0]);  // nobody will ever read
  }
  int master = -1;
  int slave = -1;
  if (where == StdoutTo::kTerminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    int out = -1;
    switch (where) {
      case StdoutTo::kFile:
        out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        break;
      case StdoutTo::kDevFull:
        out = ::open("/dev/full", O_WRONLY);
        break;
      case StdoutTo::kBrokenPipe:
        out = pipeEnds[1];
        break;
      case StdoutTo::kTerminal:
        out = slave;
        ::close(master);
        break;
      case StdoutTo::kClosed:
        break;
    }
    if (setup.fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit),
                         static_cast<rlim_t>(setup.fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    for (const auto& [resource, value] : {std::pair{RLIMIT_NOFILE, setup.openFilesLimit},
                                          std::pair{RLIMIT_DATA, setup.dataLimit}}) {
      if (value >= 0) {
        const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
        ::setrlimit(resource, &limit);
      }
    }
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || ::dup2(err, STDERR_FILENO) < 0 || ::chdir(workDir.c_str()) != 0) {
      ::_exit(126);
    }
    if (where == StdoutTo::kClosed) {
      ::close(STDOUT_FILENO);
    } else if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) {
      ::_exit(126);
    }
    for (const int fd : {out, err}) {
      if (fd > STDERR_FILENO) {
        ::close(fd);
      }
    }
    ::execvpe(file.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (pipeEnds[1] >= 0) {
    ::close(pipeEnds[1]);
  }
  if (slave >= 0) {
    ::close(slave);
  }
  std::string shown;
  if (master >= 0) {
    shown = DrainTerminal(master);  // until the child has closed its side
    ::close(master);
  }

  ProgramRun run;
  if (child < 0) {
    return run;
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done < 0) {
      return run;
    }
    if (done == child) {
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      run.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    run.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status) && !run.timedOut) {
    run.signal = WTERMSIG(status);
  }
  run.out = where == StdoutTo::kTerminal ? shown : ReadText(outPath);
  run.err = ReadText(errPath);
  return run;
}

}  // namespace testing_support
