// The message box on Windows: the real MessageBoxA, modal, with no owner
// window unless one is given.
#include "platform/console.h"
#include "platform/faults.h"
#include "platform/win_api.h"

namespace {
// Taken before <windows.h> turns MessageBox into a macro.
constexpr platform::faults::Point kBoxPoint = platform::faults::Point::MessageBox;
}  // namespace

#include "win32_headers.h"

namespace platform {

int MessageBoxA(void* owner, const char* text, const char* caption, UINT type) {
  if (faults::ShouldFail(kBoxPoint)) {
    return 0;
  }
  if (faults::MessageBoxesSuppressed()) {
    // A test program: nobody is there to close a box.
    ErrorWrite(text != nullptr ? text : "");
    return IDOK;
  }
  return ::MessageBoxA(static_cast<HWND>(owner), text, caption, static_cast<::UINT>(type));
}

}  // namespace platform
