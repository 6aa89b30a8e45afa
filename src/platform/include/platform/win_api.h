// The Windows interfaces the program uses: global memory blocks, files and the
// message box. On Windows every function passes through to the real API; on
// other systems they are implemented here on top of POSIX. Either way each
// call goes through the fault-injection seam of faults.h first.
//
// Include this header before <windows.h> in any file that needs both: the
// constants below share their names with the macros of <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using SIZE_T = std::size_t;
using HGLOBAL = void*;
using HANDLE = void*;

// GlobalAlloc flags.
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// CreateFileA access, creation and attribute values.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// SetFilePointer.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// MoveFileExA flags.
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;

// MessageBoxA styles.
inline constexpr UINT MB_OKCANCEL = 0x1;

// The handle CreateFileA returns when it fails.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Global memory. A handle that was freed or never returned by GlobalAlloc is
// refused (null lock, failed unlock or free) and never dereferenced.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);   // non-zero while the block is still locked
HGLOBAL GlobalFree(HGLOBAL block);  // null on success, the handle on failure
SIZE_T GlobalSize(HGLOBAL block);   // bytes in the block, 0 for an unknown handle

// Files. A path is either a drive path ("q:\bg000_0.bg") or a path of the
// local file system ("tvrcg000.bmp" in the current directory).
// CREATE_NEW creates a file that does not exist yet (never through a link)
// and fails otherwise; CREATE_ALWAYS creates or truncates; OPEN_EXISTING
// opens a regular file for reading.
HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void* security, DWORD creation,
                   DWORD attributes, HANDLE templateFile);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped);
BOOL CloseHandle(HANDLE file);  // 0 when the close reported an error
BOOL DeleteFileA(const char* path);
// Renames a file; with MOVEFILE_REPLACE_EXISTING the new name's file (or
// link) is replaced in one step, else an existing new name fails.
BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags);

// A modal message box; returns once it is closed. Without a window system the
// text goes to standard error.
int MessageBoxA(void* owner, const char* text, const char* caption, UINT type);

}  // namespace platform
