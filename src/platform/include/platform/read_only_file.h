// Files that stay open for reading at offsets, each opened once by its path:
// the files of a disc image. Opening never waits and opens nothing but a
// regular file. On POSIX the path is looked at first, so that a pipe, a
// device or a folder is never opened at all; a regular file is then opened
// (O_NONBLOCK, O_NOCTTY) and checked again through its descriptor, which
// must be the file that was looked at. On Windows the file is opened
// sharing only reading, so nothing can write, rename or delete it while it
// is open, and a handle that is no disk file is closed again. Paths are
// UTF-8 (wide-character functions on Windows).
//
// A library that opens files only by name can be given libraryPath(): a
// name that reaches this very file and nothing else. On Linux that is the
// descriptor's own link, /proc/self/fd/N; on Windows the file's full path,
// which cannot change while the file is held open; where neither applies,
// the path that was opened, once it has been seen to name this file.
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
  const std::string& libraryPath() const { return libraryPath_; }

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
  std::string libraryPath_;
};

// A small file of the program's own in the system's folder for temporary
// files (TMPDIR or /tmp; on Windows GetTempPath), made new with exactly
// `content` and a name ending in `suffix`, and removed when the object ends.
// For a library that takes its input only as a named file.
class TemporaryFile {
 public:
  TemporaryFile() noexcept = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  // False, with the reason, if the file could not be made and written in
  // full (nothing is left behind then).
  bool Create(std::string_view suffix, std::string_view content, std::error_code* error) noexcept;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace platform
