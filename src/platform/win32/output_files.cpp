// Output files on Windows: MoveFileExA puts a file in place, and a console
// control handler removes the file being written when the program is
// interrupted. The temporary file is opened with FILE_SHARE_DELETE, so the
// handler, which runs on a thread of its own, can remove it while it is open.
#include <string>

#include "../common/output_names.h"
#include "platform/output_files.h"
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

bool MayReplace(const char* finalPath) {
  const ::DWORD attributes = ::GetFileAttributesA(finalPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const ::DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

void RemoveStaleTemporaries(const char* directory) {
  try {
    std::string base = directory;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') {
      base += '\\';
    }
    ::WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(
        (base + "*" + std::string(output_names::kTemporarySuffix)).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      return;
    }
    const unsigned long self = output_names::CurrentProcessId();
    do {
      const auto owner = output_names::TemporaryOwner(found.cFileName);
      if (owner && (*owner == self || !output_names::ProcessRunning(*owner)) &&
          (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileA((base + found.cFileName).c_str());
      }
    } while (::FindNextFileA(search, &found) != 0);
    ::FindClose(search);
  } catch (...) {
    // No memory for a name: the stale files wait for the next run.
  }
}

namespace {

// Ctrl-C, Ctrl-Break, the console window closed, the user logging off or the
// system shutting down: the pending file goes, and the program ends with the
// status an interrupted console program has.
::BOOL WINAPI OnConsoleControl(::DWORD /*event*/) {
  output_names::Pending& pending = output_names::PendingOutput();
  if (pending.set) {
    ::DeleteFileA(pending.path);
  }
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace platform
