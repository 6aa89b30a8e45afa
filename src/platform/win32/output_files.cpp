// Output files on Windows: MoveFileExW puts a file in place, and a console
// control handler removes the file being written when the program is
// interrupted. The temporary file is opened with FILE_SHARE_DELETE, so the
// handler, which runs on a thread of its own, can remove it while it is
// open. Paths are UTF-8, handed to the wide-character functions.
#include <algorithm>
#include <string>
#include <vector>

#include "../common/backend.h"
#include "../common/output_names.h"
#include "platform/output_files.h"
#include "platform/wide_paths.h"
#include "win32_headers.h"

namespace platform {

namespace output_names {

unsigned long CurrentProcessId() {
  return ::GetCurrentProcessId();
}

bool ProcessRunning(unsigned long processId) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<::DWORD>(processId));
  if (process == nullptr) {
    return ::GetLastError() == ERROR_ACCESS_DENIED;  // running, but not ours to see
  }
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

}  // namespace output_names

namespace {

// The wide form of a UTF-8 path, or empty (no memory, or not UTF-8).
std::wstring Wide(const char* path) noexcept {
  try {
    return WidePath(path);
  } catch (...) {
    return {};
  }
}

}  // namespace

std::error_code LastSystemError() noexcept {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

bool MayReplace(const char* finalPath, std::error_code* why) {
  std::error_code refusal;
  const std::wstring path = Wide(finalPath);
  const ::DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
  if (path.empty()) {
    refusal = std::make_error_code(std::errc::invalid_argument);
  } else if (attributes == INVALID_FILE_ATTRIBUTES) {
    const ::DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      refusal = LastSystemError();
    }
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    refusal = std::make_error_code(std::errc::is_a_directory);
  } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    refusal = {ERROR_ACCESS_DENIED, std::system_category()};
  }
  if (why != nullptr) {
    *why = refusal;
  }
  return !refusal;
}

void RemoveStaleTemporaries(const char* directory) {
  try {
    std::wstring base = WidePath(directory);
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') {
      base += L'\\';
    }
    ::WIN32_FIND_DATAW found{};
    HANDLE search =
        ::FindFirstFileW((base + L"*" + WidePath(output_names::kTemporarySuffix)).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      return;
    }
    // Closed however the loop ends, a failed allocation included.
    const std::unique_ptr<void, decltype(&::FindClose)> closer(search, ::FindClose);
    const unsigned long self = output_names::CurrentProcessId();
    do {
      const auto owner = output_names::TemporaryOwner(Utf8Text(found.cFileName));
      if (owner && (*owner == self || !output_names::ProcessRunning(*owner)) &&
          (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW((base + found.cFileName).c_str());
      }
    } while (::FindNextFileW(search, &found) != 0);
  } catch (...) {
    // No memory for a name: the stale files wait for the next run.
  }
}

std::error_code CreateFolders(std::string_view path) noexcept {
  try {
    const std::wstring folder = WidePath(path);
    if (folder.empty()) {
      return std::make_error_code(std::errc::invalid_argument);
    }
    constexpr const wchar_t* kSeparators = L"\\/";
    // Each folder on the way, from the top. A drive ("c:") or a share
    // ("\\server\share") at the start is there or not, and is not made: the
    // first folder to make is the one after it.
    std::size_t share = 0;  // how long the share's name is, if there is one
    if (folder.size() > 2 && (folder[0] == L'\\' || folder[0] == L'/') &&
        (folder[1] == L'\\' || folder[1] == L'/')) {
      const std::size_t server = folder.find_first_of(kSeparators, 2);
      share = server == std::wstring::npos ? server : folder.find_first_of(kSeparators, server + 1);
      share = std::min(share, folder.size());
    }
    // The folders made here, removed again if the path cannot be made
    // whole: a failure leaves nothing behind.
    std::vector<std::wstring> made;
    made.reserve(folder.size());
    const auto undo = [&made](std::error_code error) {
      for (auto step = made.rbegin(); step != made.rend(); ++step) {
        ::RemoveDirectoryW(step->c_str());
      }
      return error;
    };
    for (std::size_t end = folder.find_first_of(kSeparators, share + 1);;
         end = folder.find_first_of(kSeparators, end + 1)) {
      std::wstring step = folder.substr(0, end);
      const bool toMake = step.size() > share && !(step.size() == 2 && step[1] == L':');
      if (toMake && ::CreateDirectoryW(step.c_str(), nullptr) != 0) {
        made.push_back(std::move(step));
      } else if (toMake && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return undo(LastSystemError());
      }
      if (end == std::wstring::npos) {
        const ::DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
          return undo(LastSystemError());
        }
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                   ? std::error_code{}
                   : undo(std::make_error_code(std::errc::not_a_directory));
      }
    }
  } catch (const std::bad_alloc&) {
    return std::make_error_code(std::errc::not_enough_memory);
  }
}

namespace backend {

std::unique_ptr<FileObject> CreateNewFile(const char* path, std::uintptr_t* key) {
  const std::wstring wide = WidePath(path);
  HANDLE file = wide.empty()
                    ? INVALID_HANDLE_VALUE
                    : ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  std::unique_ptr<FileObject> object = MakeSystemFile(reinterpret_cast<NativeFile>(file));
  *key = reinterpret_cast<std::uintptr_t>(file);
  return object;
}

const bool kRenameChecksTheName = false;  // the create looks first (MayReplace)

bool RenameReplacing(const char* from, const char* to, std::error_code* why) noexcept {
  const std::wstring source = Wide(from);
  const std::wstring target = Wide(to);
  if (!source.empty() && !target.empty() &&
      ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
    return true;
  }
  *why = LastSystemError();
  return false;
}

bool RemoveFile(const char* path) noexcept {
  const std::wstring wide = Wide(path);
  return !wide.empty() && ::DeleteFileW(wide.c_str()) != 0;
}

}  // namespace backend

namespace {

// Ctrl-C, Ctrl-Break, the console window closed, the user logging off or the
// system shutting down: the pending file goes, and the program ends with the
// status an interrupted console program has. Nothing here allocates.
::BOOL WINAPI OnConsoleControl(::DWORD /*event*/) {
  output_names::Pending& pending = output_names::PendingOutput();
  if (pending.set) {
    wchar_t path[output_names::Pending::kCapacity];
    if (::MultiByteToWideChar(CP_UTF8, 0, pending.path, -1, path,
                              output_names::Pending::kCapacity) > 0) {
      ::DeleteFileW(path);
    }
  }
  // Not ExitProcess: this thread's exit would run the libraries' shutdown
  // while the main thread stands wherever it was, perhaps holding their locks.
  ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace platform
