#include "drive_letter_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <fstream>
#include <vector>

// Windows itself maps a letter with DefineDosDeviceA. Wine accepts that call
// but does not look at such mappings when it opens files: its drive letters
// are links in the prefix's dosdevices directory, kept by its mount manager,
// which takes requests through a control code of Wine's own. Both ways are
// tried, and the mapping is checked through the letter before it is used.

namespace testing_support {
namespace {

// Wine's mount manager interface (Wine 7 and later): define or query the
// Unix directory behind a drive letter.
constexpr DWORD kWineDefineUnixDrive =
    CTL_CODE(static_cast<DWORD>('m'), 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD kWineQueryUnixDrive =
    CTL_CODE(static_cast<DWORD>('m'), 33, METHOD_BUFFERED, FILE_READ_ACCESS);

struct WineUnixDrive {
  ULONG size;
  ULONG type;  // DRIVE_FIXED and so on; DRIVE_NO_ROOT_DIR removes the letter
  ULONG fsType;
  DWORD serial;
  ULONGLONG unixDevice;
  WCHAR letter;  // lower case
  USHORT mountPointOffset;
  USHORT deviceOffset;
  USHORT labelOffset;
};

using UnixFileNameFn = char*(CDECL*)(const WCHAR*);

UnixFileNameFn WineUnixFileName() {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<UnixFileNameFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
}

HANDLE OpenWineMountManager() {
  return ::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Defines the letter as `type` on the Unix directory (and device) given;
// DRIVE_NO_ROOT_DIR with no directory removes it.
bool DefineWineDrive(char letter, ULONG type, const std::string& mountPoint,
                     const std::string& device) {
  HANDLE manager = OpenWineMountManager();
  if (manager == INVALID_HANDLE_VALUE) {
    return false;
  }
  std::vector<char> request(sizeof(WineUnixDrive));
  auto append = [&request](const std::string& text) -> USHORT {
    if (text.empty()) {
      return 0;
    }
    const auto at = static_cast<USHORT>(request.size());
    request.insert(request.end(), text.begin(), text.end());
    request.push_back('\0');
    return at;
  };
  const USHORT mountPointAt = append(mountPoint);
  const USHORT deviceAt = append(device);
  WineUnixDrive header{};
  header.size = static_cast<ULONG>(request.size());
  header.type = type;
  header.letter = static_cast<WCHAR>(letter - 'A' + 'a');
  header.mountPointOffset = mountPointAt;
  header.deviceOffset = deviceAt;
  std::memcpy(request.data(), &header, sizeof header);
  DWORD returned = 0;
  const BOOL ok =
      ::DeviceIoControl(manager, kWineDefineUnixDrive, request.data(),
                        static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
  ::CloseHandle(manager);
  return ok != 0;
}

}  // namespace

DriveLetterMapping::DriveLetterMapping(char letter, const std::filesystem::path& directory)
    : letter_(letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter),
      directory_(directory) {
  if (letter_ < 'A' || letter_ > 'Z') {
    error_ = "not a drive letter";
    return;
  }
  if (MapWithDosDevice()) {
    how_ = How::kDosDevice;
  } else if (MapWithWineMountManager()) {
    how_ = How::kWineMountManager;
  } else if (error_.empty()) {
    error_ = "neither DefineDosDevice nor Wine's mount manager mapped the letter";
  }
}

DriveLetterMapping::~DriveLetterMapping() {
  const std::string device = std::string(1, letter_) + ":";
  switch (how_) {
    case How::kNone:
      break;
    case How::kDosDevice:
      ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                         std::filesystem::path(device).c_str(), directory_.c_str());
      break;
    case How::kWineMountManager:
      if (hadWineDrive_) {
        DefineWineDrive(letter_, oldType_, oldMountPoint_, oldDevice_);
      } else {
        DefineWineDrive(letter_, DRIVE_NO_ROOT_DIR, "", "");
      }
      break;
  }
}

bool DriveLetterMapping::MapWithDosDevice() {
  const std::filesystem::path device = std::string(1, letter_) + ":";
  if (::DefineDosDeviceW(0, device.c_str(), directory_.c_str()) == 0) {
    return false;
  }
  if (LetterShowsDirectory()) {
    return true;
  }
  ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device.c_str(),
                     directory_.c_str());
  return false;
}

bool DriveLetterMapping::MapWithWineMountManager() {
  const UnixFileNameFn unixFileName = WineUnixFileName();
  if (unixFileName == nullptr) {
    return false;  // not Wine
  }
  char* unixPath = unixFileName(directory_.c_str());
  if (unixPath == nullptr) {
    error_ = "Wine has no Unix name for " + directory_.string();
    return false;
  }
  const std::string target = unixPath;
  ::HeapFree(::GetProcessHeap(), 0, unixPath);

  // Remember what the letter named, to give it back afterwards.
  HANDLE manager = OpenWineMountManager();
  if (manager == INVALID_HANDLE_VALUE) {
    error_ = "Wine's mount manager cannot be opened";
    return false;
  }
  alignas(WineUnixDrive) char answer[4096] = {};
  WineUnixDrive query{};
  query.size = sizeof query;
  query.letter = static_cast<WCHAR>(letter_ - 'A' + 'a');
  DWORD returned = 0;
  if (::DeviceIoControl(manager, kWineQueryUnixDrive, &query, sizeof query, answer,
                        sizeof answer - 1, &returned, nullptr) != 0 &&
      returned >= sizeof(WineUnixDrive)) {
    const auto* old = reinterpret_cast<const WineUnixDrive*>(answer);
    hadWineDrive_ = true;
    oldType_ = old->type;
    oldMountPoint_ = old->mountPointOffset != 0 ? answer + old->mountPointOffset : "";
    oldDevice_ = old->deviceOffset != 0 ? answer + old->deviceOffset : "";
  }
  ::CloseHandle(manager);

  if (!DefineWineDrive(letter_, DRIVE_FIXED, target, "")) {
    error_ = "Wine's mount manager refused to map the letter";
    return false;
  }
  if (LetterShowsDirectory()) {
    return true;
  }
  error_ = "the letter mapped by Wine's mount manager does not show the directory";
  if (hadWineDrive_) {
    DefineWineDrive(letter_, oldType_, oldMountPoint_, oldDevice_);
  } else {
    DefineWineDrive(letter_, DRIVE_NO_ROOT_DIR, "", "");
  }
  return false;
}

// A marker file written into the directory must be visible through the
// letter.
bool DriveLetterMapping::LetterShowsDirectory() const {
  const std::string marker = "drive-letter-check-" + std::to_string(::GetCurrentProcessId());
  { std::ofstream(directory_ / marker) << "x"; }
  const std::string viaLetter = std::string(1, letter_) + ":\\" + marker;
  const bool seen = ::GetFileAttributesA(viaLetter.c_str()) != INVALID_FILE_ATTRIBUTES;
  std::error_code ignored;
  std::filesystem::remove(directory_ / marker, ignored);
  return seen;
}

}  // namespace testing_support
