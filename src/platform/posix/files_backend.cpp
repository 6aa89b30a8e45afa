// Files on POSIX below the shared handle bookkeeping: drive paths mapped to
// folders (or disc images, when a reader of them is installed), local paths
// opened as they stand, and only regular files ever read or written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "../common/backend.h"
#include "drive_path.h"
#include "platform/faults.h"
#include "platform/image_drives.h"
#include "platform/win_api.h"

namespace platform {
namespace {

// A file on a drive: in the drive's folder, or inside the disc image that
// the drive is. The folder is tried first, without asking what the drive
// is: that is one system call fewer for every read of a folder drive.
std::unique_ptr<FileObject> OpenOnDrive(const posix::DrivePath& path) {
  if (path.components.empty()) {
    return nullptr;
  }
  std::error_code ignored;
  if (const auto fd = backend::OpenFolderFile(path.drive, path.components, &ignored)) {
    return backend::MakeSystemFile(*fd);
  }
  struct stat info {};
  if (::stat(path.drive.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;  // no such drive, or a folder without the file
  }
  const ImageFileOpener opener = InstalledImageFileOpener();
  return opener != nullptr ? opener(path.drive, path.components) : nullptr;
}

// The file of a descriptor that open gave (or -1), if it is a regular file;
// any other descriptor is closed again.
std::unique_ptr<FileObject> RegularFileOf(int fd) {
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    return backend::MakeSystemFile(fd);
  }
  if (fd >= 0) {
    ::close(fd);
  }
  return nullptr;
}

// Opens a local file that must be regular for reading.
std::unique_ptr<FileObject> OpenLocalFile(const char* path) {
  return RegularFileOf(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

// Creates or truncates a file for reading and writing (CREATE_ALWAYS).
// Only a regular file is written: a pipe, socket or device of that name is
// refused, since writing into it could block the run or reach something
// else entirely.
std::unique_ptr<FileObject> CreateForWriting(const char* path) {
  return RegularFileOf(::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
}

}  // namespace

namespace backend {

std::unique_ptr<FileObject> OpenFile(const char* path, DWORD access, DWORD /*shareMode*/,
                                     DWORD creation, DWORD /*attributes*/, std::uintptr_t* key) {
  *key = 0;  // numbered by the shared table
  const auto drivePath = posix::ParseDrivePath(path);
  if (creation == CREATE_ALWAYS || creation == CREATE_NEW) {
    // Source drives are read-only. CREATE_NEW fails if the name exists,
    // even as a dangling link.
    return drivePath                ? nullptr
           : creation == CREATE_NEW ? CreateNewFile(path, key)
                                    : CreateForWriting(path);
  }
  if (creation != OPEN_EXISTING || access != GENERIC_READ) {
    return nullptr;
  }
  return drivePath ? OpenOnDrive(*drivePath) : OpenLocalFile(path);
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
