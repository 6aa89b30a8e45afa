// Regular files kept open for reading, and temporary files, on POSIX
// (read_only_file.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    return path;
  }
  std::string result = resolved;
  std::free(resolved);
  return result;
}

// A name that reaches the open file `fd` and nothing else: the descriptor's
// own link where the system has one (it cannot be made to name another
// file), else the resolved path, once it is seen to name this file. Empty if
// there is none.
std::string LibraryPathOf([[maybe_unused]] int fd, const struct stat& opened,
                          const std::string& resolved) {
#ifndef __EMSCRIPTEN__
  for (const char* folder : {"/proc/self/fd/", "/dev/fd/"}) {
    const std::string link = folder + std::to_string(fd);
    struct stat info {};
    if (::stat(link.c_str(), &info) == 0 && SameFile(info, opened)) {
      return link;
    }
  }
#endif
  struct stat info {};
  return ::stat(resolved.c_str(), &info) == 0 && SameFile(info, opened) ? resolved : "";
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
  facts->libraryPath = LibraryPathOf(fd, opened, facts->resolvedPath);
  return fd;
}

bool CreateTemporaryFile(std::string_view suffix, std::string_view content, std::string* path,
                         std::error_code* error) {
  const char* folder = std::getenv("TMPDIR");
  std::string name = folder != nullptr && folder[0] == '/' ? folder : "/tmp";
  if (name.back() != '/') {
    name += '/';
  }
  name += "tvrcgcv-XXXXXX";
  name += suffix;
  // mkstemps makes the name new with O_EXCL, mode 0600: nothing that stood
  // there before is opened or written through.
  const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    *error = LastSystemError();
    return false;
  }
  std::size_t put = 0;
  const bool written =
      WriteAt(fd, 0, {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()}, &put);
  if (!written) {
    *error = LastSystemError();
  }
  if (!CloseFile(fd) && written) {
    *error = LastSystemError();
    ::unlink(name.c_str());
    return false;
  }
  if (!written) {
    ::unlink(name.c_str());
    return false;
  }
  *path = std::move(name);
  return true;
}

}  // namespace platform::backend
