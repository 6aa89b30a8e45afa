// Files that stay open for reading at offsets, each opened once by its path:
// the files of a disc image. Opening never waits and opens nothing but a
// regular file. On POSIX the path is looked at first, so that a pipe, a
// device or a folder is never opened at all; a regular file is then opened
// (O_NONBLOCK, O_NOCTTY) and checked again through its descriptor, which
// must be the file that was looked at. On Windows the file is opened
// sharing only reading, so nothing can write, rename or delete it while it
// is open, and a handle that is no disk file is closed again. Paths are
// UTF-8 (wide-character functions on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>

namespace platform {

// What tells one file from another: device and file number on POSIX, volume
// serial number and file index on Windows.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

class ReadOnlyFile {
 public:
  ReadOnlyFile() noexcept = default;
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile();

  // Opens the regular file at `path`; an empty file, with `error` saying
  // why (NotRegularFileError() for a folder, pipe or device), if it cannot.
  // The fault seam's FileOpen point applies.
  static ReadOnlyFile Open(const std::string& path, std::error_code* error) noexcept;

  explicit operator bool() const { return open_; }
  std::uint64_t size() const { return size_; }  // when it was opened
  FileIdentity identity() const { return identity_; }
  // The path the file was opened by, with links resolved where the system
  // says (the folder a cue sheet's names are relative to).
  const std::string& resolvedPath() const { return resolvedPath_; }

  // Reads at `offset` until `dest` is full or the file ends; false with the
  // system's reason on an I/O error, `got` counting what came before it.
  // May be called from several threads at once. The FileRead point applies.
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
              std::error_code* error) const noexcept;

 private:
  void Close() noexcept;

  bool open_ = false;
  std::intptr_t native_ = 0;
  std::uint64_t size_ = 0;
  FileIdentity identity_;
  std::string resolvedPath_;
};

}  // namespace platform
