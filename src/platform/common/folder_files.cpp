// Reading ranges of files below a folder (folder_files.h): one open, one
// read at the offset, one close.
#include <new>
#include <vector>

#include "backend.h"
#include "platform/faults.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace platform {

RangeRead ReadFolderFile(const std::string& folder, std::string_view name, std::uint64_t offset,
                         std::span<std::uint8_t> dest) noexcept {
  RangeRead result;
  result.outcome = RangeRead::Outcome::kCannotOpen;
  if (faults::ShouldFail(faults::Point::FileOpen)) {
    return result;
  }
  std::optional<backend::NativeFile> file;
  try {
    const std::vector<std::string> parts = SplitName(name);
    if (parts.empty()) {
      result.error = std::make_error_code(std::errc::no_such_file_or_directory);
      return result;
    }
    file = backend::OpenFolderFile(folder, parts, &result.error);
  } catch (const std::bad_alloc&) {
    result.outcome = RangeRead::Outcome::kNoMemory;
    return result;
  }
  if (!file) {
    return result;
  }
  result.outcome = RangeRead::Outcome::kRead;
  if (faults::ShouldFail(faults::Point::FileRead) ||
      !backend::ReadAt(*file, offset, dest, &result.got, &result.error)) {
    result.outcome = RangeRead::Outcome::kReadFailed;
  }
  // Only read from: a close error cannot touch the bytes already read.
  backend::CloseFile(*file);
  return result;
}

}  // namespace platform
