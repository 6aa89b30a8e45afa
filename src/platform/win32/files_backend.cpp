// Files on Windows below the shared handle bookkeeping: the system's
// CreateFileA family, drive paths being the system's own drive letters.
#include <algorithm>

#include "../common/backend.h"
#include "platform/faults.h"

namespace {
// The platform's values, taken before <windows.h> hides their names.
constexpr platform::DWORD kGenericRead = platform::GENERIC_READ;
constexpr platform::DWORD kGenericWrite = platform::GENERIC_WRITE;
constexpr platform::DWORD kCreateAlways = platform::CREATE_ALWAYS;
constexpr platform::DWORD kCreateNew = platform::CREATE_NEW;
constexpr platform::DWORD kOpenExisting = platform::OPEN_EXISTING;
constexpr platform::DWORD kShareDelete = platform::FILE_SHARE_DELETE;
constexpr platform::DWORD kAttributeNormal = platform::FILE_ATTRIBUTE_NORMAL;
constexpr platform::DWORD kFileBegin = platform::FILE_BEGIN;
constexpr platform::DWORD kInvalidSetFilePointer = platform::INVALID_SET_FILE_POINTER;
constexpr platform::DWORD kReplaceExisting = platform::MOVEFILE_REPLACE_EXISTING;
}  // namespace

#include "win32_headers.h"

static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kCreateAlways == CREATE_ALWAYS && kOpenExisting == OPEN_EXISTING);
static_assert(kCreateNew == CREATE_NEW && kShareDelete == FILE_SHARE_DELETE);
static_assert(kAttributeNormal == FILE_ATTRIBUTE_NORMAL && kFileBegin == FILE_BEGIN);
static_assert(kInvalidSetFilePointer == INVALID_SET_FILE_POINTER);
static_assert(kReplaceExisting == MOVEFILE_REPLACE_EXISTING);

namespace platform {
namespace {

// A file handle of the system's.
class NativeFile final : public FileObject {
 public:
  explicit NativeFile(HANDLE handle) : handle_(handle) {}
  ~NativeFile() override { Close(); }
  NativeFile(const NativeFile&) = delete;
  NativeFile& operator=(const NativeFile&) = delete;

  bool Seek(std::int64_t offset) override {
    ::LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    return offset >= 0 && ::SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN) != 0;
  }

  // Reads until the buffer is full or the file ends.
  bool Read(void* buffer, std::size_t size, std::size_t* done) override {
    auto* bytes = static_cast<char*>(buffer);
    *done = 0;
    while (*done < size) {
      ::DWORD got = 0;
      const auto ask = static_cast<::DWORD>(std::min<std::size_t>(size - *done, 0x40000000u));
      if (::ReadFile(handle_, bytes + *done, ask, &got, nullptr) == 0) {
        return false;
      }
      if (got == 0) {
        return true;  // end of file
      }
      *done += got;
    }
    return true;
  }

  bool Write(const void* buffer, std::size_t size, std::size_t* done) override {
    const auto* bytes = static_cast<const char*>(buffer);
    *done = 0;
    while (*done < size) {
      ::DWORD put = 0;
      const auto ask = static_cast<::DWORD>(std::min<std::size_t>(size - *done, 0x40000000u));
      if (::WriteFile(handle_, bytes + *done, ask, &put, nullptr) == 0 || put == 0) {
        return false;
      }
      *done += put;
    }
    return true;
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return true;
    }
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

}  // namespace

namespace backend {

std::unique_ptr<FileObject> OpenFile(const char* path, DWORD access, DWORD shareMode,
                                     DWORD creation, DWORD attributes, std::uintptr_t* key) {
  HANDLE handle =
      ::CreateFileA(path, static_cast<::DWORD>(access), static_cast<::DWORD>(shareMode), nullptr,
                    static_cast<::DWORD>(creation), static_cast<::DWORD>(attributes), nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  // Only files on a disk are read or written: a device or a pipe that
  // answers to the name could block the run.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::unique_ptr<FileObject> file;
  try {
    file = std::make_unique<NativeFile>(handle);
  } catch (...) {
    ::CloseHandle(handle);
    throw;
  }
  *key = reinterpret_cast<std::uintptr_t>(handle);
  return file;
}

}  // namespace backend

BOOL DeleteFileA(const char* path) {
  return path != nullptr && ::DeleteFileA(path) != 0 ? 1 : 0;
}

BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags) {
  if (faults::ShouldFail(faults::Point::FileReplace) || existing == nullptr || newName == nullptr) {
    return 0;
  }
  return ::MoveFileExA(existing, newName, static_cast<::DWORD>(flags)) != 0 ? 1 : 0;
}

}  // namespace platform
