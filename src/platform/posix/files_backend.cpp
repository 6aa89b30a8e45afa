// Files on POSIX below the shared handle bookkeeping: drive paths mapped to
// folders (or disc images, when a reader of them is installed), local paths
// opened as they stand, and only regular files ever read or written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "../common/backend.h"
#include "drive_path.h"
#include "platform/faults.h"
#include "platform/image_drives.h"
#include "platform/win_api.h"

namespace platform {

namespace posix {

std::unique_ptr<FileObject> MakeDescriptorFile(int fd);

// Opens an existing regular file for reading; null (errno set) otherwise.
// Opening without blocking means that a pipe cannot hold the run up before
// it is seen to be one; on a regular file the flag changes nothing, so it
// stays.
std::unique_ptr<FileObject> OpenRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  return MakeDescriptorFile(fd);
}

std::unique_ptr<FileObject> OpenInDirectory(const std::string& directory,
                                            const std::vector<std::string>& components) {
  // Nearly always each component exists under the name asked for, and then
  // the lookup below ends at that very path: open it straight away. If that
  // fails, the lookup decides, and gives the same answer it always did.
  std::string exact = directory;
  for (const std::string& component : components) {
    exact += '/';
    exact += component;
  }
  if (auto file = OpenRegularFile(exact)) {
    return file;
  }
  std::string current = directory;
  for (const std::string& component : components) {
    const auto found = FindInDirectory(current, component);
    if (!found) {
      return nullptr;
    }
    current = *found;
  }
  return OpenRegularFile(current);
}

}  // namespace posix

namespace {

// A file on a drive: in the drive's folder, or inside the disc image that
// the drive is. The folder is tried first, without asking what the drive
// is: that is one system call fewer for every read of a folder drive.
std::unique_ptr<FileObject> OpenOnDrive(const posix::DrivePath& path) {
  if (path.components.empty()) {
    return nullptr;
  }
  if (auto file = posix::OpenInDirectory(path.drive, path.components)) {
    return file;
  }
  struct stat info {};
  if (::stat(path.drive.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;  // no such drive, or a folder without the file
  }
  const ImageFileOpener opener = InstalledImageFileOpener();
  return opener != nullptr ? opener(path.drive, path.components) : nullptr;
}

// Creates a file for reading and writing: a new one (CREATE_NEW: fails if
// the name exists, even as a dangling link) or one created or truncated
// (CREATE_ALWAYS). Only a regular file is written: a pipe, socket or device
// of that name is refused, since writing into it could block the run or
// reach something else entirely.
std::unique_ptr<FileObject> CreateForWriting(const char* path, bool mustBeNew) {
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | (mustBeNew ? O_EXCL : O_TRUNC);
  const int fd = ::open(path, flags, 0666);
  if (fd < 0) {
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return posix::MakeDescriptorFile(fd);
}

}  // namespace

namespace backend {

std::unique_ptr<FileObject> OpenFile(const char* path, DWORD access, DWORD /*shareMode*/,
                                     DWORD creation, DWORD /*attributes*/, std::uintptr_t* key) {
  *key = 0;  // numbered by the shared table
  const auto drivePath = posix::ParseDrivePath(path);
  if (creation == CREATE_ALWAYS || creation == CREATE_NEW) {
    return drivePath ? nullptr
                     : CreateForWriting(path, creation == CREATE_NEW);  // drives are read-only
  }
  if (creation != OPEN_EXISTING || access != GENERIC_READ) {
    return nullptr;
  }
  return drivePath ? OpenOnDrive(*drivePath) : posix::OpenRegularFile(path);
}

}  // namespace backend

BOOL DeleteFileA(const char* path) {
  if (path == nullptr || posix::ParseDrivePath(path)) {
    return 0;  // source drives are read-only
  }
  return ::unlink(path) == 0 ? 1 : 0;
}

BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags) {
  if (faults::ShouldFail(faults::Point::FileReplace) || existing == nullptr || newName == nullptr ||
      posix::ParseDrivePath(existing) || posix::ParseDrivePath(newName)) {
    return 0;
  }
  struct stat info {};
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 && ::lstat(newName, &info) == 0) {
    return 0;  // the new name exists and may not be replaced
  }
  // rename replaces the new name's directory entry in one step: whatever
  // stood there (a file, a link) is never written through.
  return ::rename(existing, newName) == 0 ? 1 : 0;
}

}  // namespace platform
