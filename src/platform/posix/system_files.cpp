// The system's files on POSIX: descriptors, read and written at an offset
// (pread, pwrite), and regular files opened below a folder without blocking.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "../common/backend.h"
#include "drive_path.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"

namespace platform::backend {
namespace {

// Opens the regular file at `path` for reading; -1 with `error` set if not.
// The path is looked at first, so that a pipe, a device or a folder is
// never opened at all. That look is the one system call besides the open,
// the read and the close: a name pointed elsewhere in between is opened
// without blocking (O_NONBLOCK) and never as a terminal (O_NOCTTY), and a
// pipe put there then fails its positioned read, as no regular file does.
int OpenRegular(const std::string& path, std::error_code* error) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    *error = LastSystemError();
    return -1;
  }
  if (!S_ISREG(named.st_mode)) {
    *error = NotRegularFileError();
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = LastSystemError();
  }
  return fd;
}

}  // namespace

bool ReadAt(NativeFile file, std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
            std::error_code* error) noexcept {
  *got = 0;
  while (*got < dest.size()) {
    if (offset + *got > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      return true;  // beyond the end of any file
    }
    const ssize_t read = ::pread(static_cast<int>(file), dest.data() + *got, dest.size() - *got,
                                 static_cast<off_t>(offset + *got));
    if (read < 0 && errno == EINTR) {
      continue;
    }
    if (read < 0) {
      *error = LastSystemError();
      return false;
    }
    if (read == 0) {
      return true;  // the end of the file
    }
    *got += static_cast<std::size_t>(read);
  }
  return true;
}

bool WriteAt(NativeFile file, std::uint64_t offset, std::span<const std::uint8_t> bytes,
             std::size_t* put) noexcept {
  *put = 0;
  while (*put < bytes.size()) {
    const ssize_t written = ::pwrite(static_cast<int>(file), bytes.data() + *put,
                                     bytes.size() - *put, static_cast<off_t>(offset + *put));
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;  // a full disk, a file size limit, an I/O error
    }
    *put += static_cast<std::size_t>(written);
  }
  return true;
}

bool CloseFile(NativeFile file) noexcept {
  // Linux releases the descriptor even when close fails (EINTR included),
  // so it is never closed twice; the failure itself is reported, since a
  // file system may only now say that written bytes did not make it.
  return ::close(static_cast<int>(file)) == 0;
}

std::optional<NativeFile> OpenFolderFile(const std::string& folder,
                                         const std::vector<std::string>& parts,
                                         std::error_code* error) {
  // Nearly always each part exists under the name asked for, and then the
  // lookup below ends at that very path: open it straight away. If that
  // fails, the lookup decides, and gives the same answer it always did.
  std::string exact = folder;
  for (const std::string& part : parts) {
    exact += '/';
    exact += part;
  }
  int fd = OpenRegular(exact, error);
  if (fd < 0 && *error != NotRegularFileError()) {
    std::string current = folder;
    for (const std::string& part : parts) {
      const auto found = posix::FindInDirectory(current, part);
      if (!found) {
        return std::nullopt;  // the exact path's error says why
      }
      current = *found;
    }
    fd = current == exact ? -1 : OpenRegular(current, error);
  }
  return fd < 0 ? std::nullopt : std::optional<NativeFile>(fd);
}

}  // namespace platform::backend

namespace platform {

PathKind KindOfPath(const std::string& path) noexcept {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return PathKind::kMissing;
  }
  return S_ISREG(info.st_mode)   ? PathKind::kRegularFile
         : S_ISDIR(info.st_mode) ? PathKind::kFolder
                                 : PathKind::kOther;
}

bool IsAbsolutePath(std::string_view path) noexcept {
  return !path.empty() && path.front() == '/';
}

}  // namespace platform
