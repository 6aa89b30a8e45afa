// Files on POSIX behind Windows-style handles. A handle is a number naming an
// entry of the open-file table; numbers are never reused, so a closed or
// made-up handle is refused without being dereferenced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "drive_path.h"
#include "file_object.h"
#include "platform/faults.h"
#include "platform/win_api.h"
#include "source_drive.h"

namespace platform {
namespace {

struct FileTable {
  std::unordered_map<std::uintptr_t, std::unique_ptr<posix::FileObject>> files;
  std::uintptr_t next = 0x20000;
};

FileTable& Table() {
  static FileTable table;
  return table;
}

posix::FileObject* Find(HANDLE handle) {
  auto& files = Table().files;
  auto it = files.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == files.end() ? nullptr : it->second.get();
}

HANDLE Register(std::unique_ptr<posix::FileObject> file) {
  FileTable& table = Table();
  const std::uintptr_t id = table.next;
  table.next += 0x10;
  table.files.emplace(id, std::move(file));
  faults::AdjustLive(&faults::Live::openFiles, +1);
  return reinterpret_cast<HANDLE>(id);
}

// Opens an existing regular file for reading. Directories, devices and pipes
// are refused: opening without blocking means a pipe cannot hold the run up
// before it is seen to be one, and on a regular file the flag changes
// nothing, so it stays.
std::unique_ptr<posix::FileObject> OpenRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

std::unique_ptr<posix::FileObject> OpenExisting(const char* path) {
  if (const auto drivePath = posix::ParseDrivePath(path)) {
    return posix::OpenOnDrive(*drivePath);
  }
  return OpenRegularFile(path);
}

// Creates a file for reading and writing: a new one (CREATE_NEW: fails if
// the name exists, even as a dangling link) or one created or truncated
// (CREATE_ALWAYS). Only a regular file is written: a pipe, socket or device
// of that name is refused, since writing into it could block the run or
// reach something else entirely.
std::unique_ptr<posix::FileObject> CreateForWriting(const char* path, bool mustBeNew) {
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

namespace posix {

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

HANDLE CreateFileA(const char* path, DWORD access, DWORD /*shareMode*/, void* /*security*/,
                   DWORD creation, DWORD /*attributes*/, HANDLE /*templateFile*/) {
  const bool create = creation == CREATE_ALWAYS || creation == CREATE_NEW;
  if (faults::ShouldFail(create ? faults::Point::FileCreate : faults::Point::FileOpen)) {
    return INVALID_HANDLE_VALUE;
  }
  if (path == nullptr) {
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<posix::FileObject> file;
  if (create) {
    file = posix::ParseDrivePath(path) ? nullptr : CreateForWriting(path, creation == CREATE_NEW);
  } else if (creation == OPEN_EXISTING && access == GENERIC_READ) {
    file = OpenExisting(path);
  }
  return file ? Register(std::move(file)) : INVALID_HANDLE_VALUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
  posix::FileObject* file = Find(handle);
  if (file == nullptr || method != FILE_BEGIN) {
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t offset = distance;
  if (distanceHigh != nullptr) {
    offset =
        (static_cast<std::int64_t>(*distanceHigh) << 32) | static_cast<std::uint32_t>(distance);
  }
  if (!file->Seek(offset)) {
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) {
    *distanceHigh = static_cast<LONG>(offset >> 32);
  }
  return static_cast<DWORD>(offset);
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              void* /*overlapped*/) {
  if (bytesRead != nullptr) {
    *bytesRead = 0;
  }
  posix::FileObject* file = Find(handle);
  if (file == nullptr || faults::ShouldFail(faults::Point::FileRead)) {
    return 0;
  }
  std::size_t done = 0;
  const bool ok = file->Read(buffer, bytesToRead, &done);
  if (bytesRead != nullptr) {
    *bytesRead = static_cast<DWORD>(done);
  }
  return ok ? 1 : 0;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* /*overlapped*/) {
  if (bytesWritten != nullptr) {
    *bytesWritten = 0;
  }
  posix::FileObject* file = Find(handle);
  if (file == nullptr || faults::ShouldFail(faults::Point::FileWrite)) {
    return 0;
  }
  std::size_t done = 0;
  const bool ok = file->Write(buffer, bytesToWrite, &done);
  if (bytesWritten != nullptr) {
    *bytesWritten = static_cast<DWORD>(done);
  }
  return ok ? 1 : 0;
}

BOOL CloseHandle(HANDLE handle) {
  auto& files = Table().files;
  auto it = files.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == files.end()) {
    return 0;
  }
  const bool closed = it->second->Close();
  files.erase(it);
  faults::AdjustLive(&faults::Live::openFiles, -1);
  const bool injected = faults::ShouldFail(faults::Point::FileClose);
  return closed && !injected ? 1 : 0;
}

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
