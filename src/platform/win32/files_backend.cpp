// Files on Windows below the shared handle bookkeeping: the system's
// CreateFileA family, drive paths being the system's own drive letters.
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
  std::unique_ptr<FileObject> file = MakeSystemFile(reinterpret_cast<NativeFile>(handle));
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
