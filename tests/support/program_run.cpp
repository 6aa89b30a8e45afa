#include "program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "test_support.h"

extern char** environ;

namespace testing_support {
namespace {

std::string ReadText(const std::filesystem::path& path) {
  const auto bytes = ReadWholeFile(path);
  return {bytes.begin(), bytes.end()};
}

// The parent's environment with TVRCGCV_DRIVE_ROOT replaced.
std::vector<std::string> ChildEnvironment(const std::filesystem::path& driveRoot) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TVRCGCV_DRIVE_ROOT=", 19) != 0) {
      entries.emplace_back(*entry);
    }
  }
  entries.push_back("TVRCGCV_DRIVE_ROOT=" + driveRoot.string());
  return entries;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, std::vector<std::string> args,
                      const std::filesystem::path& workDir, const std::filesystem::path& driveRoot,
                      StdoutTo where, int timeoutSeconds) {
  const TempDir captures;
  const std::string outPath = (captures.path() / "stdout").string();
  const std::string errPath = (captures.path() / "stderr").string();
  std::vector<std::string> environment = ChildEnvironment(driveRoot);
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
      case StdoutTo::kClosed:
        break;
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
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (pipeEnds[1] >= 0) {
    ::close(pipeEnds[1]);
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
  run.out = ReadText(outPath);
  run.err = ReadText(errPath);
  return run;
}

}  // namespace testing_support
