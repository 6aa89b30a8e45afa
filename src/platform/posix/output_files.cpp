// Output files on POSIX: rename(2) puts a file in place, and the signal
// handlers remove the file being written when the program is interrupted.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "../common/backend.h"
#include "../common/output_names.h"
#include "platform/faults.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"

namespace platform {

namespace output_names {

namespace {

// The process id, asked for once: getpid is a system call, and every
// output file's name holds the id. A forked child forgets its parent's.
std::atomic<pid_t> knownProcessId{0};

void ForgetProcessId() {
  knownProcessId.store(0, std::memory_order_relaxed);
}

}  // namespace

unsigned long CurrentProcessId() {
  pid_t id = knownProcessId.load(std::memory_order_relaxed);
  if (id == 0) {
    static const bool forgottenOnFork = ::pthread_atfork(nullptr, nullptr, ForgetProcessId) == 0;
    id = ::getpid();
    if (forgottenOnFork) {
      knownProcessId.store(id, std::memory_order_relaxed);
    }
  }
  return static_cast<unsigned long>(id);
}

bool ProcessRunning(unsigned long processId) {
  const auto pid = static_cast<pid_t>(processId);
  if (pid <= 0 || static_cast<unsigned long>(pid) != processId) {
    return false;
  }
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace output_names

namespace {

// Why the final name may not be replaced (empty if it may), and whether
// anything stands there.
std::error_code Refusal(const char* finalPath, bool* exists) {
  std::error_code refusal;
  struct stat info {};
  *exists = ::lstat(finalPath, &info) == 0;
  if (!*exists) {
    if (errno != ENOENT) {
      refusal = LastSystemError();
    }
  } else if (S_ISLNK(info.st_mode)) {
    // the link itself is replaced
  } else if (S_ISDIR(info.st_mode)) {
    refusal = std::make_error_code(std::errc::is_a_directory);
  } else if (!S_ISREG(info.st_mode)) {
    refusal = NotRegularFileError();
  } else if (::access(finalPath, W_OK) != 0) {
    refusal = LastSystemError();
  }
  return refusal;
}

}  // namespace

bool MayReplace(const char* finalPath, std::error_code* why) {
  bool exists = false;
  const std::error_code refusal = Refusal(finalPath, &exists);
  if (why != nullptr) {
    *why = refusal;
  }
  return !refusal;
}

void RemoveStaleTemporaries(const char* directory) {
  const int dirFd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    return;
  }
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return;
  }
  const unsigned long self = output_names::CurrentProcessId();
  while (const dirent* entry = ::readdir(dir)) {
    const auto owner = output_names::TemporaryOwner(entry->d_name);
    // One of our own number can only be left by an earlier process that had
    // it: this one has written nothing yet.
    if (!owner || (*owner != self && output_names::ProcessRunning(*owner))) {
      continue;
    }
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

std::error_code LastSystemError() noexcept {
  return {errno, std::system_category()};
}

std::error_code CreateFolders(std::string_view path) noexcept {
  try {
    const std::string folder(path);
    // The folders made here, removed again if the path cannot be made whole:
    // a failure leaves nothing behind. Room for each is kept beforehand.
    std::vector<std::string> made;
    made.reserve(static_cast<std::size_t>(std::count(folder.begin(), folder.end(), '/')) + 1);
    const auto undo = [&made](std::error_code error) {
      for (auto step = made.rbegin(); step != made.rend(); ++step) {
        ::rmdir(step->c_str());
      }
      return error;
    };
    // Each folder on the way, from the top: "a", "a/b", "a/b/c".
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
      std::string step = folder.substr(0, end);
      if (!step.empty() && ::mkdir(step.c_str(), 0777) == 0) {
        made.push_back(std::move(step));
      } else if (!step.empty() && errno != EEXIST) {
        return undo(LastSystemError());
      }
      if (end == std::string::npos) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) {
          return undo(LastSystemError());
        }
        return S_ISDIR(info.st_mode) ? std::error_code{}
                                     : undo(std::make_error_code(std::errc::not_a_directory));
      }
    }
  } catch (const std::bad_alloc&) {
    return std::make_error_code(std::errc::not_enough_memory);
  }
}

namespace backend {

std::unique_ptr<FileObject> CreateNewFile(const char* path, std::uintptr_t* key) {
  *key = 0;
  // What O_CREAT | O_EXCL opens it has just made: a regular file, never a
  // link's target.
  const int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd < 0 ? nullptr : MakeSystemFile(fd);
}

#if defined(__linux__) && defined(SYS_renameat2)
const bool kRenameChecksTheName = true;
#else
const bool kRenameChecksTheName = false;
#endif

bool RenameReplacing(const char* from, const char* to, std::error_code* why) noexcept {
#if defined(__linux__) && defined(SYS_renameat2)
  // Nearly always the name is new: a rename that refuses to replace
  // anything puts the file there without a look at the name first. Only a
  // name that exists is looked at, and then replaced if it may be. After
  // one that existed (a run again into the same folder) the next name is
  // looked at first, until one is new; a system or file system without
  // such a rename always looks.
  static std::atomic<bool> noReplaceUnsupported{false};
  static std::atomic<bool> lastNameExisted{false};
  if (!noReplaceUnsupported.load(std::memory_order_relaxed) &&
      !lastNameExisted.load(std::memory_order_relaxed)) {
    constexpr unsigned kRenameNoReplace = 1;  // RENAME_NOREPLACE
    if (faults::ShouldFail(faults::Point::RenameNoReplace)) {
      const int error = faults::FailureError(faults::Point::RenameNoReplace);
      errno = error != 0 ? error : ENOSYS;
    } else if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace) == 0) {
      return true;
    }
    if (errno == ENOSYS || errno == EINVAL) {
      noReplaceUnsupported.store(true, std::memory_order_relaxed);
    } else if (errno != EEXIST) {
      *why = LastSystemError();
      return false;
    }
  }
  bool exists = false;
  if (const std::error_code refusal = Refusal(to, &exists)) {
    *why = refusal;
    return false;
  }
  lastNameExisted.store(exists, std::memory_order_relaxed);
#endif
  // rename replaces the new name's directory entry in one step: whatever
  // stood there (a file, a link) is never written through.
  if (::rename(from, to) != 0) {
    *why = LastSystemError();
    return false;
  }
  return true;
}

bool RemoveFile(const char* path) noexcept {
  return ::unlink(path) == 0;
}

}  // namespace backend

namespace {

// Runs with the other interruptions blocked and this one's default action
// already back in place (SA_RESETHAND): removes the pending file, then
// raises the signal again so that the program ends as it would have.
void OnInterrupt(int signal) {
  const int savedErrno = errno;
  output_names::Pending& pending = output_names::PendingOutput();
  if (pending.set) {
    ::unlink(pending.path);
  }
  errno = savedErrno;
  ::raise(signal);
}

}  // namespace

void InstallInterruptHandlers() {
  static constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (const int signal : kInterruptions) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : kInterruptions) {
    struct sigaction previous {};
    // An interruption that the caller ignores (a program started with nohup,
    // say) stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(signal, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace platform
