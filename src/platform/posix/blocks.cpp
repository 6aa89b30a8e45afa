// Global memory on POSIX: plain heap memory under the layer's own handles.
#include <cstdlib>

#include "../common/backend.h"

namespace platform::backend {

const bool kBlockHandleIsNative = false;

void* AllocateBlock(UINT flags, SIZE_T bytes) noexcept {
  // Without GMEM_ZEROINIT the contents are left as malloc gives them, so
  // tools such as valgrind see any byte that a caller forgets to write.
  return (flags & GMEM_ZEROINIT) != 0 ? std::calloc(bytes, 1) : std::malloc(bytes);
}

void* LockBlock(void* native) noexcept {
  return native;  // the memory never moves
}

void UnlockBlock(void* /*native*/) noexcept {}

bool FreeBlock(void* native) noexcept {
  std::free(native);
  return true;
}

}  // namespace platform::backend
