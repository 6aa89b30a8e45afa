// Files on Windows: the real CreateFileA family. Drive paths are the
// system's own drive letters. The handles CreateFileA gave out and
// CloseHandle has not taken back are kept in a set, so that the live counts
// of the fault seam are exact and a handle this layer did not open (standard
// output, say) is refused instead of being read, written or closed.
#include <unordered_set>

#include "platform/faults.h"
#include "platform/win_api.h"

namespace {
// The platform's values, taken before <windows.h> hides their names.
constexpr platform::DWORD kGenericRead = platform::GENERIC_READ;
constexpr platform::DWORD kGenericWrite = platform::GENERIC_WRITE;
constexpr platform::DWORD kCreateAlways = platform::CREATE_ALWAYS;
constexpr platform::DWORD kCreateNew = platform::CREATE_NEW;
constexpr platform::DWORD kShareDelete = platform::FILE_SHARE_DELETE;
constexpr platform::DWORD kReplaceExisting = platform::MOVEFILE_REPLACE_EXISTING;
constexpr platform::DWORD kOpenExisting = platform::OPEN_EXISTING;
constexpr platform::DWORD kAttributeNormal = platform::FILE_ATTRIBUTE_NORMAL;
constexpr platform::DWORD kFileBegin = platform::FILE_BEGIN;
constexpr platform::DWORD kInvalidSetFilePointer = platform::INVALID_SET_FILE_POINTER;
platform::HANDLE const kInvalidHandle = platform::INVALID_HANDLE_VALUE;
}  // namespace

#include "win32_headers.h"

static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kCreateAlways == CREATE_ALWAYS && kOpenExisting == OPEN_EXISTING);
static_assert(kCreateNew == CREATE_NEW && kShareDelete == FILE_SHARE_DELETE);
static_assert(kReplaceExisting == MOVEFILE_REPLACE_EXISTING);
static_assert(kAttributeNormal == FILE_ATTRIBUTE_NORMAL && kFileBegin == FILE_BEGIN);
static_assert(kInvalidSetFilePointer == INVALID_SET_FILE_POINTER);

namespace platform {
namespace {

std::unordered_set<HANDLE>& OpenFiles() {
  static std::unordered_set<HANDLE> files;
  return files;
}

bool IsOpen(HANDLE handle) {
  return OpenFiles().contains(handle);
}

}  // namespace

HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void* security, DWORD creation,
                   DWORD attributes, HANDLE templateFile) {
  const bool create = creation == kCreateAlways || creation == kCreateNew;
  if (faults::ShouldFail(create ? faults::Point::FileCreate : faults::Point::FileOpen)) {
    return kInvalidHandle;
  }
  if (path == nullptr) {
    return kInvalidHandle;
  }
  HANDLE file =
      ::CreateFileA(path, static_cast<::DWORD>(access), static_cast<::DWORD>(shareMode),
                    static_cast<LPSECURITY_ATTRIBUTES>(security), static_cast<::DWORD>(creation),
                    static_cast<::DWORD>(attributes), templateFile);
  if (file == kInvalidHandle) {
    return kInvalidHandle;
  }
  // Only files on a disk are read or written: a device or a pipe that
  // answers to the name could block the run.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return kInvalidHandle;
  }
  OpenFiles().insert(file);
  faults::AdjustLive(&faults::Live::openFiles, +1);
  return file;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  if (!IsOpen(file)) {
    return kInvalidSetFilePointer;
  }
  ::LONG high = distanceHigh != nullptr ? static_cast<::LONG>(*distanceHigh) : 0;
  const ::DWORD low =
      ::SetFilePointer(file, static_cast<::LONG>(distance),
                       distanceHigh != nullptr ? &high : nullptr, static_cast<::DWORD>(method));
  if (distanceHigh != nullptr) {
    *distanceHigh = static_cast<LONG>(high);
  }
  return static_cast<DWORD>(low);
}

// Reads until the buffer is full or the file ends; false on an I/O error,
// `bytesRead` then counting the bytes read before it.
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              void* /*overlapped*/) {
  if (bytesRead != nullptr) {
    *bytesRead = 0;
  }
  if (!IsOpen(file) || faults::ShouldFail(faults::Point::FileRead)) {
    return 0;
  }
  auto* bytes = static_cast<char*>(buffer);
  DWORD done = 0;
  BOOL ok = 1;
  while (done < bytesToRead) {
    ::DWORD got = 0;
    if (::ReadFile(file, bytes + done, static_cast<::DWORD>(bytesToRead - done), &got, nullptr) ==
        0) {
      ok = 0;
      break;
    }
    if (got == 0) {
      break;  // end of file
    }
    done += static_cast<DWORD>(got);
  }
  if (bytesRead != nullptr) {
    *bytesRead = done;
  }
  return ok;
}

// Writes all bytes; false if that failed, `bytesWritten` saying how many made
// it.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* /*overlapped*/) {
  if (bytesWritten != nullptr) {
    *bytesWritten = 0;
  }
  if (!IsOpen(file) || faults::ShouldFail(faults::Point::FileWrite)) {
    return 0;
  }
  const auto* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  BOOL ok = 1;
  while (done < bytesToWrite) {
    ::DWORD put = 0;
    if (::WriteFile(file, bytes + done, static_cast<::DWORD>(bytesToWrite - done), &put, nullptr) ==
            0 ||
        put == 0) {
      ok = 0;
      break;
    }
    done += static_cast<DWORD>(put);
  }
  if (bytesWritten != nullptr) {
    *bytesWritten = done;
  }
  return ok;
}

BOOL CloseHandle(HANDLE file) {
  if (OpenFiles().erase(file) == 0) {
    return 0;
  }
  faults::AdjustLive(&faults::Live::openFiles, -1);
  const bool closed = ::CloseHandle(file) != 0;
  const bool injected = faults::ShouldFail(faults::Point::FileClose);
  return closed && !injected ? 1 : 0;
}

BOOL DeleteFileA(const char* path) {
  if (path == nullptr) {
    return 0;
  }
  return ::DeleteFileA(path) != 0 ? 1 : 0;
}

BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags) {
  if (faults::ShouldFail(faults::Point::FileReplace) || existing == nullptr || newName == nullptr) {
    return 0;
  }
  return ::MoveFileExA(existing, newName, static_cast<::DWORD>(flags)) != 0 ? 1 : 0;
}

}  // namespace platform
