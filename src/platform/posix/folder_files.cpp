// Reading ranges of files below a folder on POSIX: open (without blocking),
// fstat, pread, close.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>
#include <vector>

#include "drive_path.h"
#include "platform/faults.h"
#include "platform/folder_files.h"

namespace platform {
namespace {

std::error_code LastError() {
  return {errno, std::system_category()};
}

// The name's parts; empty if a part is empty, "." or "..".
std::vector<std::string> SplitName(std::string_view name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of("/\\", start);
    std::string part(name.substr(start, end == std::string_view::npos ? end : end - start));
    if (part.empty() || part == "." || part == "..") {
      return {};
    }
    parts.push_back(std::move(part));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

// Opens the regular file at `path` for reading; -1 with `error` set if not.
int OpenRegular(const std::string& path, std::error_code* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = LastError();
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = NotRegularFileError();
    ::close(fd);
    return -1;
  }
  return fd;
}

// Opens the file the parts name: the exact path first, else the path that
// the lookup ignoring case finds.
int OpenParts(const std::string& folder, const std::vector<std::string>& parts,
              std::error_code* error) {
  std::string exact = folder;
  for (const std::string& part : parts) {
    exact += '/';
    exact += part;
  }
  const int fd = OpenRegular(exact, error);
  if (fd >= 0 || *error == NotRegularFileError()) {
    return fd;
  }
  std::string current = folder;
  for (const std::string& part : parts) {
    const auto found = posix::FindInDirectory(current, part);
    if (!found) {
      return -1;  // the exact path's error says why
    }
    current = *found;
  }
  return current == exact ? -1 : OpenRegular(current, error);
}

}  // namespace

RangeRead ReadFolderFile(const std::string& folder, std::string_view name, std::uint64_t offset,
                         std::span<std::uint8_t> dest) noexcept {
  RangeRead result;
  if (faults::ShouldFail(faults::Point::FileOpen)) {
    result.outcome = RangeRead::Outcome::kCannotOpen;
    return result;
  }
  int fd = -1;
  try {
    const std::vector<std::string> parts = SplitName(name);
    if (parts.empty()) {
      result.outcome = RangeRead::Outcome::kCannotOpen;
      result.error = std::make_error_code(std::errc::no_such_file_or_directory);
      return result;
    }
    fd = OpenParts(folder, parts, &result.error);
  } catch (const std::bad_alloc&) {
    result.outcome = RangeRead::Outcome::kNoMemory;
    return result;
  }
  if (fd < 0) {
    result.outcome = RangeRead::Outcome::kCannotOpen;
    return result;
  }
  if (faults::ShouldFail(faults::Point::FileRead)) {
    result.outcome = RangeRead::Outcome::kReadFailed;
  }
  while (result.outcome == RangeRead::Outcome::kRead && result.got < dest.size()) {
    if (offset + result.got > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      break;  // beyond any file's end
    }
    const ssize_t got = ::pread(fd, dest.data() + result.got, dest.size() - result.got,
                                static_cast<off_t>(offset + result.got));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      result.outcome = RangeRead::Outcome::kReadFailed;
      result.error = LastError();
    }
    if (got <= 0) {
      break;
    }
    result.got += static_cast<std::size_t>(got);
  }
  ::close(fd);  // only read from: a close error cannot touch the bytes already read
  return result;
}

}  // namespace platform
