// Reading ranges of files below a folder on Windows: CreateFileW, a read at
// the offset, CloseHandle. Windows itself looks names up ignoring case.
#include <algorithm>
#include <new>

#include "platform/faults.h"
#include "platform/folder_files.h"
#include "platform/wide_paths.h"
#include "win32_headers.h"

namespace platform {
namespace {

std::error_code LastError() {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

// The path of `name` below `folder` with '\' between the parts; empty if a
// part is empty, "." or "..".
std::string JoinName(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    path += '\\';
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of("/\\", start);
    const std::string_view part =
        name.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..") {
      return {};
    }
    path += part;
    if (end == std::string_view::npos) {
      return path;
    }
    path += '\\';
    start = end + 1;
  }
}

}  // namespace

RangeRead ReadFolderFile(const std::string& folder, std::string_view name, std::uint64_t offset,
                         std::span<std::uint8_t> dest) noexcept {
  RangeRead result;
  if (faults::ShouldFail(faults::Point::FileOpen)) {
    result.outcome = RangeRead::Outcome::kCannotOpen;
    return result;
  }
  std::wstring path;
  try {
    path = WidePath(JoinName(folder, name));
  } catch (const std::bad_alloc&) {
    result.outcome = RangeRead::Outcome::kNoMemory;
    return result;
  }
  if (path.empty()) {
    result.outcome = RangeRead::Outcome::kCannotOpen;
    result.error = std::make_error_code(std::errc::no_such_file_or_directory);
    return result;
  }
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.outcome = RangeRead::Outcome::kCannotOpen;
    result.error = LastError();
    return result;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    result.outcome = RangeRead::Outcome::kCannotOpen;
    result.error = NotRegularFileError();
    return result;
  }
  if (faults::ShouldFail(faults::Point::FileRead)) {
    result.outcome = RangeRead::Outcome::kReadFailed;
  }
  while (result.outcome == RangeRead::Outcome::kRead && result.got < dest.size()) {
    const std::uint64_t at = offset + result.got;
    ::OVERLAPPED position{};
    position.Offset = static_cast<::DWORD>(at);
    position.OffsetHigh = static_cast<::DWORD>(at >> 32);
    const auto ask =
        static_cast<::DWORD>(std::min<std::size_t>(dest.size() - result.got, 0x40000000u));
    ::DWORD got = 0;
    if (::ReadFile(file, dest.data() + result.got, ask, &got, &position) == 0) {
      if (::GetLastError() != ERROR_HANDLE_EOF) {
        result.outcome = RangeRead::Outcome::kReadFailed;
        result.error = LastError();
      }
      break;
    }
    if (got == 0) {
      break;  // the end of the file
    }
    result.got += got;
  }
  ::CloseHandle(file);  // only read from: a close error cannot touch the bytes already read
  return result;
}

std::wstring WidePath(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int length = static_cast<int>(utf8.size());
  const int wide =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (wide <= 0) {
    return {};
  }
  std::wstring converted(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, converted.data(), wide);
  return converted;
}

std::string Utf8Text(std::wstring_view wide) {
  if (wide.empty()) {
    return {};
  }
  const int length = static_cast<int>(wide.size());
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) {
    return {};
  }
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, converted.data(), bytes, nullptr, nullptr);
  return converted;
}

}  // namespace platform
