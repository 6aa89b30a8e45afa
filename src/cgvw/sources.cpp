// The sources of bytes that need no more than the platform layer: files in
// memory and files in a folder.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "cgvw/decode.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw {
namespace {

// Copies what the file holds of [offset, offset + dest.size()) into dest.
ReadResult CopyRange(std::span<const std::uint8_t> file, std::uint64_t offset,
                     std::span<std::uint8_t> dest) {
  ReadResult result;
  if (offset < file.size()) {
    result.got =
        static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), file.size() - offset));
    std::memcpy(dest.data(), file.data() + offset, result.got);
  }
  return result;
}

}  // namespace

struct MemorySource::Files {
  std::shared_mutex lock;
  std::vector<std::string> names;
  std::vector<std::span<const std::uint8_t>> contents;
  std::vector<std::vector<std::uint8_t>> copies;  // what contents[i] points into, if copied

  // Adds or replaces the file `name` (under the lock); throws bad_alloc.
  void Put(std::string_view name, std::span<const std::uint8_t> bytes,
           std::vector<std::uint8_t> copy) {
    const auto same = std::find(names.begin(), names.end(), name);
    if (same != names.end()) {
      const auto at = static_cast<std::size_t>(same - names.begin());
      contents[at] = bytes;
      copies[at] = std::move(copy);  // the earlier copy, if any, goes
      return;
    }
    names.reserve(names.size() + 1);
    contents.reserve(names.size() + 1);
    copies.reserve(names.size() + 1);
    names.emplace_back(name);  // the last that can throw
    contents.push_back(bytes);
    copies.push_back(std::move(copy));
  }
};

MemorySource::MemorySource() noexcept {
  try {
    files_ = std::make_unique<Files>();
  } catch (const std::bad_alloc&) {
    // Add reports it.
  }
}
MemorySource::~MemorySource() = default;

Status MemorySource::Add(std::string_view name, std::span<const std::uint8_t> bytes) noexcept {
  if (!files_) {
    return Status::NoMemory;
  }
  try {
    const std::unique_lock hold(files_->lock);
    files_->Put(name, bytes, {});
    return Status::Ok;
  } catch (const std::bad_alloc&) {
    return Status::NoMemory;
  }
}

Status MemorySource::Add(std::string_view name, std::span<const std::uint8_t> bytes,
                         CopyBytes) noexcept {
  if (!files_) {
    return Status::NoMemory;
  }
  try {
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    const std::span<const std::uint8_t> kept(copy);  // the buffer stays where it is when moved
    const std::unique_lock hold(files_->lock);
    files_->Put(name, kept, std::move(copy));
    return Status::Ok;
  } catch (const std::bad_alloc&) {
    return Status::NoMemory;
  }
}

ReadResult MemorySource::Read(std::string_view name, std::uint64_t offset,
                              std::span<std::uint8_t> dest) noexcept {
  if (!files_) {
    return {Status::CannotOpen, 0, std::make_error_code(std::errc::no_such_file_or_directory)};
  }
  const std::shared_lock hold(files_->lock);
  const auto found = platform::PickName(files_->names, name);
  if (!found) {
    return {Status::CannotOpen, 0, std::make_error_code(std::errc::no_such_file_or_directory)};
  }
  return CopyRange(files_->contents[*found], offset, dest);
}

ReadResult FolderSource::Read(std::string_view name, std::uint64_t offset,
                              std::span<std::uint8_t> dest) noexcept {
  const platform::RangeRead read = platform::ReadFolderFile(folder_, name, offset, dest);
  switch (read.outcome) {
    case platform::RangeRead::Outcome::kRead:
      return {Status::Ok, read.got, {}};
    case platform::RangeRead::Outcome::kCannotOpen:
      return {Status::CannotOpen, 0, read.error};
    case platform::RangeRead::Outcome::kReadFailed:
      return {Status::ReadFailed, read.got, read.error};
    case platform::RangeRead::Outcome::kNoMemory:
      break;
  }
  return {Status::NoMemory, 0, {}};
}

}  // namespace cgvw
