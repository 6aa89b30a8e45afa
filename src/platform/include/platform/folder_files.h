// Reading ranges of regular files below a folder, by names that may go
// through subfolders ('/' or '\' between the parts). Each part is looked up
// as Windows does: the exact name first, else the first in byte order of
// those that differ from it only in the case of ASCII letters. A name part
// that is empty, "." or ".." names nothing. Only regular files are read,
// and no open waits (a pipe is refused, not opened for reading). Paths are
// UTF-8. One read is one open, one range read and one close; the fault
// seam's FileOpen and FileRead points apply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

struct RangeRead {
  enum class Outcome { kRead, kCannotOpen, kReadFailed, kNoMemory };
  Outcome outcome = Outcome::kRead;
  std::size_t got = 0;    // bytes read into the start of the destination
  std::error_code error;  // the system's reason when it failed
};

RangeRead ReadFolderFile(const std::string& folder, std::string_view name, std::uint64_t offset,
                         std::span<std::uint8_t> dest) noexcept;

// What a path (UTF-8, links followed) names.
enum class PathKind { kMissing, kRegularFile, kFolder, kOther };
PathKind KindOfPath(const std::string& path) noexcept;
// Where the classic drive of a letter is: on POSIX the folder (or disc
// image) $TVRCGCV_DRIVE_ROOT/x, on Windows the root "x:\".
std::string DriveFolder(char letter);

// True for a path that does not depend on the current folder.
bool IsAbsolutePath(std::string_view path) noexcept;

// The reason given for a name that is there but is no regular file.
std::error_code NotRegularFileError() noexcept;
// The reason given for a file that holds no readable ISO 9660 file system.
std::error_code NoFileSystemError() noexcept;

}  // namespace platform
