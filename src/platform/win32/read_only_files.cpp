// Regular files kept open for reading, and temporary files, on Windows
// (read_only_file.h). Paths are UTF-8, handed to the wide-character
// functions.
#include <string>

#include "../common/backend.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "platform/wide_paths.h"
#include "win32_headers.h"

namespace platform::backend {
namespace {

// The full form of a path (drive and folders spelt out), for a library that
// is handed the name later on; empty if the system cannot give it.
std::wstring FullPath(const std::wstring& path) {
  const ::DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return {};
  }
  std::wstring full(needed, L'\0');
  const ::DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) {
    return {};
  }
  full.resize(length);
  return full;
}

}  // namespace

std::optional<NativeFile> OpenRegularFile(const std::string& path, RegularFileFacts* facts,
                                          std::error_code* error) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) {
    *error = std::make_error_code(std::errc::invalid_argument);
    return std::nullopt;
  }
  const ::DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = std::make_error_code(std::errc::is_a_directory);
    return std::nullopt;
  }
  // Sharing only reading: while the file is open nobody can write, rename
  // or delete it, so its full path names this very file until it closes.
  HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = LastSystemError();
    return std::nullopt;
  }
  ::BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileType(file) != FILE_TYPE_DISK ||
      ::GetFileInformationByHandle(file, &information) == 0 ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    ::CloseHandle(file);
    *error = NotRegularFileError();
    return std::nullopt;
  }
  facts->size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  facts->identity = {information.dwVolumeSerialNumber,
                     (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
  const std::wstring full = FullPath(wide);
  facts->resolvedPath = full.empty() ? path : Utf8Text(full);
  facts->libraryPath = full.empty() ? std::string() : facts->resolvedPath;
  return reinterpret_cast<NativeFile>(file);
}

bool CreateTemporaryFile(std::string_view suffix, std::string_view content, std::string* path,
                         std::error_code* error) {
  wchar_t folder[MAX_PATH + 1] = {};
  const ::DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    *error = LastSystemError();
    return false;
  }
  static long counter = 0;
  const std::wstring base = std::wstring(folder) + L"tvrcgcv-" +
                            std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(::GetTickCount64()) + L"-";
  const std::wstring ending = WidePath(suffix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = base + std::to_wstring(::InterlockedIncrement(&counter)) + ending;
    // CREATE_NEW: a name that stands already, a link included, is never
    // opened or written through.
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) {
        continue;
      }
      *error = LastSystemError();
      return false;
    }
    std::size_t put = 0;
    const bool written =
        WriteAt(reinterpret_cast<NativeFile>(file), 0,
                {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()}, &put);
    const bool closed = ::CloseHandle(file) != 0;
    std::string utf8;
    try {
      utf8 = written && closed ? Utf8Text(name) : std::string();
    } catch (...) {
      // no memory: removed below like a failed write
    }
    if (utf8.empty()) {
      *error =
          written && closed ? std::make_error_code(std::errc::invalid_argument) : LastSystemError();
      ::DeleteFileW(name.c_str());
      return false;
    }
    *path = std::move(utf8);
    return true;
  }
  *error = std::make_error_code(std::errc::file_exists);
  return false;
}

}  // namespace platform::backend
