// Test seam of the platform layer: make the n-th call of an acquisition fail,
// count calls, and count what is still held. Production code never calls it;
// with nothing armed every call behaves normally.
#pragma once

#include <string>

namespace platform::faults {

enum class Point {
  GlobalAlloc,  // GlobalAlloc returns null
  GlobalLock,   // GlobalLock returns null
  HeapBuffer,   // TempBuffer::Obtain returns an empty buffer
  FileOpen,     // CreateFileA with OPEN_EXISTING fails
  FileCreate,   // CreateFileA with CREATE_ALWAYS fails
  FileRead,     // ReadFile fails as with an I/O error
  FileWrite,    // WriteFile fails as on a full disk
  Console,      // a console write fails
  MessageBox,   // MessageBoxA returns 0 (counted so tests can see the box)
  FileClose,    // CloseHandle fails as with a deferred write error
  FileReplace,  // MoveFileExA fails
  // Linux: the rename that replaces nothing (renameat2 with RENAME_NOREPLACE)
  // fails as on a kernel or file system without it (ENOSYS, or the error
  // given to FailNthWith), so that the output files fall back to looking at
  // the name first.
  RenameNoReplace,
};
inline constexpr int kPointCount = 12;

// The n-th call (1-based, counted from now) at the point fails; 0 disarms it.
void FailNth(Point point, long n);
// As FailNth, the failure reported with the error number `error` where the
// point reports one (RenameNoReplace).
void FailNthWith(Point point, long n, int error);
// The error number armed with FailNthWith (0 if none).
int FailureError(Point point);
// The n-th call at the point first runs `action` (raising a signal, say) and
// then goes on as usual; 0 disarms it. Reset disarms it too.
void ActAtNth(Point point, long n, void (*action)());
// Disarms every point and sets every call counter to 0. The counters and
// switches are safe to use from several threads.
void Reset();
// Calls at the point since the last Reset.
long Calls(Point point);

// What is held right now.
struct Live {
  long globalBlocks;  // allocated and not freed
  long globalLocks;   // sum of all lock counts
  long heapBuffers;   // TempBuffers alive
  long openFiles;     // handles from CreateFileA not closed
};
Live LiveCounts();

// Console output goes to the string instead of standard output while it is
// set (null restores standard output).
void CaptureConsole(std::string* sink);
std::string* ConsoleCapture();

// While switched on, MessageBoxA shows no window on any system: the box
// counts as closed with OK at once and its text goes to standard error, as
// where there is no window system. Test programs switch it on so that no
// modal box waits for a user. Reset leaves it as it is.
void SuppressMessageBoxes(bool on);
bool MessageBoxesSuppressed();

// Makes OwnsConsoleWindow answer `owns` (-1: ask the system again). Reset
// leaves it as it is.
void PretendOwnConsoleWindow(int owns);
int PretendedOwnConsoleWindow();

// For the implementations: records a call at the point and says whether it
// must fail.
bool ShouldFail(Point point);
// For the implementations: adjusts a live counter.
void AdjustLive(long Live::*counter, long delta);

}  // namespace platform::faults
