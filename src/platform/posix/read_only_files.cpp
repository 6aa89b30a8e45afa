// Regular files kept open for reading on POSIX (read_only_file.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "../common/backend.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"

namespace platform::backend {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The path with its links resolved, or the path itself if the system cannot
// say (it is only used to find the files a cue sheet names beside it).
std::string Resolved(const std::string& path) {
  // realpath's buffer is freed even when the copy runs out of memory.
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             std::free);
  if (resolved == nullptr) {
    return path;
  }
  return std::string(resolved.get());
}

}  // namespace

std::optional<NativeFile> OpenRegularFile(const std::string& path, RegularFileFacts* facts,
                                          std::error_code* error) {
  // Looked at first: what is not a regular file is never opened, so no
  // device sees an open and no pipe can hold the program up.
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    *error = LastSystemError();
    return std::nullopt;
  }
  if (!S_ISREG(named.st_mode)) {
    *error = S_ISDIR(named.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                    : NotRegularFileError();
    return std::nullopt;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = LastSystemError();
    return std::nullopt;
  }
  // The name may have been pointed elsewhere in between: only the file that
  // was looked at is kept.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || !SameFile(opened, named)) {
    *error = NotRegularFileError();
    ::close(fd);
    return std::nullopt;
  }
  facts->size = static_cast<std::uint64_t>(opened.st_size);
  facts->identity = {static_cast<std::uint64_t>(opened.st_dev),
                     static_cast<std::uint64_t>(opened.st_ino)};
  facts->resolvedPath = Resolved(path);
  return fd;
}

}  // namespace platform::backend
