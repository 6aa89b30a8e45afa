// The system's files on Windows: handles read and written at an offset, and
// regular files opened below a folder by their UTF-8 names through the
// wide-character functions. Windows itself looks names up ignoring case.
#include <algorithm>

#include "../common/backend.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "platform/wide_paths.h"
#include "platform/windows_arguments.h"
#include "win32_headers.h"

// The wide counterpart of the arguments main receives, from msvcrt.dll.
extern "C" {
struct StartupInfo {
  int newMode;
};
int __wgetmainargs(int* count, wchar_t*** arguments, wchar_t*** environment, int expandWildcards,
                   StartupInfo* startup);
}

namespace platform {
namespace {

HANDLE HandleOf(backend::NativeFile file) {
  return reinterpret_cast<HANDLE>(file);
}

// Runs a read or write of at most 1 GiB at a time at offset + done until
// all is done; the transfer says how many bytes it moved, 0 at the end.
template <typename Transfer>
bool Loop(std::uint64_t offset, std::size_t size, std::size_t* done, Transfer transfer) {
  *done = 0;
  while (*done < size) {
    const std::uint64_t at = offset + *done;
    ::OVERLAPPED position{};
    position.Offset = static_cast<::DWORD>(at);
    position.OffsetHigh = static_cast<::DWORD>(at >> 32);
    const auto ask = static_cast<::DWORD>(std::min<std::size_t>(size - *done, 0x40000000u));
    ::DWORD moved = 0;
    if (!transfer(*done, ask, &moved, &position)) {
      return false;
    }
    if (moved == 0) {
      break;
    }
    *done += moved;
  }
  return true;
}

// Converts between UTF-8 and UTF-16 with one of the two system functions;
// empty when the text does not convert.
template <typename To, typename From, typename Convert>
To Converted(From text, Convert convert) {
  const int length = static_cast<int>(text.size());
  const int needed = text.empty() ? 0 : convert(text.data(), length, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  To converted(static_cast<std::size_t>(needed), typename To::value_type{});
  convert(text.data(), length, converted.data(), needed);
  return converted;
}

}  // namespace

namespace backend {

bool ReadAt(NativeFile file, std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
            std::error_code* error) noexcept {
  return Loop(offset, dest.size(), got,
              [&](std::size_t done, ::DWORD ask, ::DWORD* moved, ::OVERLAPPED* position) {
                if (::ReadFile(HandleOf(file), dest.data() + done, ask, moved, position) != 0) {
                  return true;
                }
                *moved = 0;
                if (::GetLastError() == ERROR_HANDLE_EOF) {
                  return true;  // the end of the file
                }
                *error = LastSystemError();
                return false;
              });
}

bool WriteAt(NativeFile file, std::uint64_t offset, std::span<const std::uint8_t> bytes,
             std::size_t* put) noexcept {
  return Loop(offset, bytes.size(), put,
              [&](std::size_t done, ::DWORD ask, ::DWORD* moved, ::OVERLAPPED* position) {
                return ::WriteFile(HandleOf(file), bytes.data() + done, ask, moved, position) !=
                           0 &&
                       *moved != 0;
              });
}

bool CloseFile(NativeFile file) noexcept {
  return ::CloseHandle(HandleOf(file)) != 0;
}

std::optional<NativeFile> OpenFolderFile(const std::string& folder,
                                         const std::vector<std::string>& parts,
                                         std::error_code* error) {
  std::string path = folder;
  for (const std::string& part : parts) {
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
      path += '\\';
    }
    path += part;
  }
  const std::wstring wide = WidePath(path);
  HANDLE file = wide.empty() ? INVALID_HANDLE_VALUE
                             : ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = wide.empty() ? std::make_error_code(std::errc::invalid_argument) : LastSystemError();
    return std::nullopt;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    *error = NotRegularFileError();
    return std::nullopt;
  }
  return reinterpret_cast<NativeFile>(file);
}

}  // namespace backend

PathKind KindOfPath(const std::string& path) noexcept {
  std::wstring wide;
  try {
    wide = WidePath(path);
  } catch (...) {
    return PathKind::kMissing;
  }
  const ::DWORD attributes =
      wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::kMissing;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kRegularFile;
}

std::string DriveFolder(char letter) {
  return {letter, ':', '\\'};
}

bool IsAbsolutePath(std::string_view path) noexcept {
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path.starts_with("\\\\") || path.starts_with("//");
}

std::vector<std::string> WindowsArguments() {
  // The C runtime splits the wide command line as it splits the narrow one
  // for main (and needs no shell32.dll for it).
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo startup{0};
  if (__wgetmainargs(&count, &wide, &environment, 0, &startup) < 0 || wide == nullptr) {
    return {};
  }
  std::vector<std::string> arguments;
  try {
    for (int i = 0; i < count; ++i) {
      arguments.push_back(Utf8Text(wide[i]));
    }
  } catch (...) {
    arguments.clear();
  }
  return arguments;
}

std::wstring WidePath(std::string_view utf8) {
  return Converted<std::wstring>(utf8, [](const char* in, int size, wchar_t* out, int room) {
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, size, out, room);
  });
}

std::string Utf8Text(std::wstring_view wide) {
  return Converted<std::string>(wide, [](const wchar_t* in, int size, char* out, int room) {
    return ::WideCharToMultiByte(CP_UTF8, 0, in, size, out, room, nullptr, nullptr);
  });
}

}  // namespace platform
