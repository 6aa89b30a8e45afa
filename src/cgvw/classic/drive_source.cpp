// The classic drive: SourceRoot followed by the file name, read through the
// Windows file interface of the platform layer.
#include <limits>
#include <new>
#include <string>

#include "cgvw/cgvw.h"
#include "cgvw/decode.h"
#include "platform/handles.h"

namespace cgvw {

ReadResult DriveSource::Read(std::string_view name, std::uint64_t offset,
                             std::span<std::uint8_t> dest) noexcept {
  std::string path;
  try {
    path = SourceRoot;
    path += name;
  } catch (const std::bad_alloc&) {
    return {Status::NoMemory, 0, {}};
  }
  platform::File file(platform::CreateFileA(path.c_str(), platform::GENERIC_READ, 0, nullptr,
                                            platform::OPEN_EXISTING,
                                            platform::FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return {Status::CannotOpen, 0, {}};
  }
  // A range that starts or ends beyond what one Windows read can state
  // cannot be read as asked.
  constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();
  if (offset > kLargest || dest.size() > kLargest ||
      platform::SetFilePointer(file.get(), static_cast<platform::LONG>(offset), nullptr,
                               platform::FILE_BEGIN) == platform::INVALID_SET_FILE_POINTER) {
    return {Status::CannotOpen, 0, {}};
  }
  // A file that ends inside the range is no error: the bytes that exist
  // are copied and the rest of dest keeps what it held.
  platform::DWORD got = 0;
  if (!dest.empty() &&
      platform::ReadFile(file.get(), dest.data(), static_cast<platform::DWORD>(dest.size()), &got,
                         nullptr) == 0) {
    return {Status::ReadFailed, got, {}};
  }
  // Only read from: a close error cannot touch the bytes already read.
  file.Reset();
  return {Status::Ok, got, {}};
}

}  // namespace cgvw
