// Output files that are complete or absent. A file is written aside, under a
// temporary name in the folder it belongs in, closed with its result checked
// and then renamed over its final name in one step (MoveFileExA with
// MOVEFILE_REPLACE_EXISTING). The final name therefore always holds either
// its earlier file or the complete new one; a link standing there is
// replaced, never written through.
//
// The temporary name is the final name followed by "." and the process
// number and ".tvrcgcv.tmp" ("tvrcg000.bmp.4242.tvrcgcv.tmp"): it cannot be
// mistaken for an output, and a later run can tell which ones are stale.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/handles.h"
#include "platform/win_api.h"

namespace platform {

// One output file, written aside and put in place. Paths are UTF-8 on every
// system (wide-character file functions on Windows). Goes through the fault
// seam's FileCreate, FileWrite, FileClose and FileReplace points.
class OutputFile {
 public:
  OutputFile() noexcept = default;
  ~OutputFile();  // a file that was not put in place is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file for the final name `path`. False when the
  // file cannot be made, or the name may not be replaced (MayReplace) where
  // the rename does not look at the name itself (it does on Linux: a rename
  // that replaces nothing, and the name looked at only if it exists);
  // nothing is left then, and `error` (if given) says why.
  bool Create(std::string_view path, std::error_code* error = nullptr) noexcept;
  // Writes the bytes after those written before.
  bool Write(std::span<const std::uint8_t> bytes, std::error_code* error = nullptr) noexcept;
  // Closes the file and renames it over the final name (refused as
  // MayReplace tells, when Create did not look). On failure the temporary
  // file is removed and the earlier file of that name stays.
  bool Commit(std::error_code* error = nullptr) noexcept;

 private:
  void Discard() noexcept;
  std::string final_;
  std::string temporary_;
  File file_;
};

// Creates the folder `path` and whatever folders above it are missing;
// an empty error when the folder exists afterwards.
std::error_code CreateFolders(std::string_view path) noexcept;

// The system's error of the call that failed last on this thread (errno,
// GetLastError).
std::error_code LastSystemError() noexcept;

// The temporary name for a final path, in the same folder. The paths below
// are UTF-8.
std::string TemporaryNameFor(std::string_view finalPath);

// True when the final name may be replaced: it does not exist, or it is a
// regular file that may be written, or a link (which is replaced, not
// followed). A directory, a pipe, a device or a read-only file at the name
// makes it false, and `why` (if given) says which: "is a directory", "not a
// regular file" (NotRegularFileError), the system's "permission denied", or
// the error of looking the name up.
bool MayReplace(const char* finalPath, std::error_code* why = nullptr);

// Removes the temporary files of this naming in `directory` that belong to
// no running process: what an earlier run left when it was killed or the
// power went. Best effort: a file that cannot be removed is left.
void RemoveStaleTemporaries(const char* directory);

// Interruptions. Once installed, Ctrl-C and a request to terminate (SIGINT,
// SIGTERM and SIGHUP on POSIX; Ctrl-C, Ctrl-Break and closing the console
// on Windows) remove the temporary file being written, if any, and end the
// program as the interruption would have (killed by that signal; on Windows
// the status 0xC000013A). A file size limit (SIGXFSZ) is ignored, so a write
// past it fails like any other write.
void InstallInterruptHandlers();

// The temporary file to remove on an interruption, until cleared. Only one
// is pending at a time; the path is copied.
void SetPendingOutput(const char* temporaryPath);
void ClearPendingOutput();

}  // namespace platform
