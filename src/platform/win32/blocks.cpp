// Global memory on Windows: the system's GlobalAlloc family, its handles
// given out as they are.
#include "../common/backend.h"

namespace {
// The platform's flag values, taken before <windows.h> hides their names.
constexpr platform::UINT kZeroInit = platform::GMEM_ZEROINIT;
constexpr platform::UINT kMoveable = platform::GMEM_MOVEABLE;
constexpr platform::UINT kHnd = platform::GHND;
}  // namespace

#include "win32_headers.h"

static_assert(kZeroInit == GMEM_ZEROINIT && kMoveable == GMEM_MOVEABLE && kHnd == GHND);

namespace platform::backend {

const bool kBlockHandleIsNative = true;

void* AllocateBlock(UINT flags, SIZE_T bytes) noexcept {
  return ::GlobalAlloc(static_cast<::UINT>(flags), bytes);
}

void* LockBlock(void* native) noexcept {
  return ::GlobalLock(native);
}

void UnlockBlock(void* native) noexcept {
  ::GlobalUnlock(native);
}

bool FreeBlock(void* native) noexcept {
  return ::GlobalFree(native) == nullptr;
}

}  // namespace platform::backend
