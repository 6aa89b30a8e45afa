// Regular files kept open for reading on Windows (read_only_file.h). Paths are UTF-8, handed to the
// wide-character functions.
#include <string>

#include "../common/backend.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "platform/wide_paths.h"
#include "win32_headers.h"

namespace platform::backend {
namespace {

// The full form of a path (drive and folders spelt out), which the files a
// cue sheet names are relative to; empty if the system cannot give it.
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
  return reinterpret_cast<NativeFile>(file);
}

}  // namespace platform::backend
