// What each system provides below the shared bookkeeping of the platform
// layer (common/*.cpp): raw global memory, opening files as FileObjects,
// and standard output. posix/ and win32/ each implement all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/file_object.h"
#include "platform/read_only_file.h"
#include "platform/win_api.h"

namespace platform::backend {

// Global memory. On Windows the system's own handle is the layer's handle;
// on POSIX the layer numbers its blocks itself.
extern const bool kBlockHandleIsNative;
void* AllocateBlock(UINT flags, SIZE_T bytes) noexcept;  // null when unavailable
void* LockBlock(void* native) noexcept;                  // the block's bytes, or null
void UnlockBlock(void* native) noexcept;
bool FreeBlock(void* native) noexcept;  // false: still allocated

// The system's own files: a descriptor on POSIX, a HANDLE on Windows.
using NativeFile = std::intptr_t;
// Reads at `offset` until `dest` is full or the file ends; false (with the
// system's reason) on an I/O error, `got` counting what came before it.
bool ReadAt(NativeFile file, std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
            std::error_code* error) noexcept;
// Writes all of `bytes` at `offset`; false if that failed.
bool WriteAt(NativeFile file, std::uint64_t offset, std::span<const std::uint8_t> bytes,
             std::size_t* put) noexcept;
// Closes the file; false when the system reports an error.
bool CloseFile(NativeFile file) noexcept;
// Opens for reading the regular file that `parts` name below `folder`, each
// part looked up by the rule of platform/names.h; nullopt (with the reason)
// if it cannot. Never waits for a pipe.
std::optional<NativeFile> OpenFolderFile(const std::string& folder,
                                         const std::vector<std::string>& parts,
                                         std::error_code* error);

// What OpenRegularFile found out about the file it opened.
struct RegularFileFacts {
  std::uint64_t size = 0;
  FileIdentity identity;
  std::string resolvedPath;
};
// Opens the regular file at `path` for reading as read_only_file.h tells;
// nullopt (with the reason) if it cannot. Never opens anything else.
std::optional<NativeFile> OpenRegularFile(const std::string& path, RegularFileFacts* facts,
                                          std::error_code* error);

// A system file behind the FileObject interface (common/system_file.cpp);
// it keeps the position itself, so a seek costs no system call.
std::unique_ptr<FileObject> MakeSystemFile(NativeFile file);

// Files. Opens `path` as CreateFileA asks (reading an existing regular file,
// or creating one for writing); null when it cannot. `key` receives the
// handle the layer gives out for it: the system's own on Windows, 0 on
// POSIX, where the layer numbers its files itself.
std::unique_ptr<FileObject> OpenFile(const char* path, DWORD access, DWORD shareMode,
                                     DWORD creation, DWORD attributes, std::uintptr_t* key);

// Output files by UTF-8 path (wide-character functions on Windows): a new
// file for reading and writing that never follows a link (null if the name
// exists or cannot be made), a rename over whatever stands at the new name
// (false with the reason), and a removal.
std::unique_ptr<FileObject> CreateNewFile(const char* path, std::uintptr_t* key);
bool RenameReplacing(const char* from, const char* to, std::error_code* why) noexcept;
bool RemoveFile(const char* path) noexcept;
// True where RenameReplacing itself refuses a name that MayReplace refuses
// (looking at the name only when it exists): the create need not look first.
extern const bool kRenameChecksTheName;

// Standard output and standard error; false when a write failed.
bool WriteStandardOutput(std::string_view shiftJisBytes) noexcept;
bool WriteStandardError(std::string_view line) noexcept;

}  // namespace platform::backend
