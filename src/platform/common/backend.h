// What each system provides below the shared bookkeeping of the platform
// layer (common/*.cpp): raw global memory, opening files as FileObjects,
// and standard output. posix/ and win32/ each implement all of it.
#pragma once

#include <memory>
#include <string_view>

#include "platform/file_object.h"
#include "platform/win_api.h"

namespace platform::backend {

// Global memory. On Windows the system's own handle is the layer's handle;
// on POSIX the layer numbers its blocks itself.
extern const bool kBlockHandleIsNative;
void* AllocateBlock(UINT flags, SIZE_T bytes) noexcept;  // null when unavailable
void* LockBlock(void* native) noexcept;                  // the block's bytes, or null
void UnlockBlock(void* native) noexcept;
bool FreeBlock(void* native) noexcept;  // false: still allocated

// Files. Opens `path` as CreateFileA asks (reading an existing regular file,
// or creating one for writing); null when it cannot. `key` receives the
// handle the layer gives out for it: the system's own on Windows, 0 on
// POSIX, where the layer numbers its files itself.
std::unique_ptr<FileObject> OpenFile(const char* path, DWORD access, DWORD shareMode,
                                     DWORD creation, DWORD attributes, std::uintptr_t* key);

// Standard output and standard error; false when a write failed.
bool WriteStandardOutput(std::string_view shiftJisBytes) noexcept;
bool WriteStandardError(std::string_view line) noexcept;

}  // namespace platform::backend
