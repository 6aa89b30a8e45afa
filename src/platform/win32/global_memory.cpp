// Global memory blocks on Windows: the real GlobalAlloc family. Each handle
// that GlobalAlloc gave out and GlobalFree has not taken back is kept in a
// table with its requested size and its lock count, so that the live counts
// of the fault seam are exact (a fixed block keeps no lock count of its own)
// and a handle this layer does not know is refused without being passed on.
#include <unordered_map>

#include "platform/faults.h"
#include "platform/win_api.h"

namespace {
// The platform's flag values, taken before <windows.h> hides their names.
constexpr platform::UINT kZeroInit = platform::GMEM_ZEROINIT;
constexpr platform::UINT kMoveable = platform::GMEM_MOVEABLE;
constexpr platform::UINT kHnd = platform::GHND;
}  // namespace

#include "win32_headers.h"

static_assert(kZeroInit == GMEM_ZEROINIT && kMoveable == GMEM_MOVEABLE && kHnd == GHND);

namespace platform {
namespace {

struct Block {
  SIZE_T size = 0;
  unsigned locks = 0;
};

std::unordered_map<HGLOBAL, Block>& Table() {
  static std::unordered_map<HGLOBAL, Block> table;
  return table;
}

Block* Find(HGLOBAL handle) {
  auto& blocks = Table();
  auto it = blocks.find(handle);
  return it == blocks.end() ? nullptr : &it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (faults::ShouldFail(faults::Point::GlobalAlloc)) {
    return nullptr;
  }
  // A zero-byte moveable block would be created discarded and could never be
  // locked: every block gets at least one byte.
  const SIZE_T request = bytes == 0 ? 1 : bytes;
  HGLOBAL handle = ::GlobalAlloc(static_cast<::UINT>(flags), request);
  if (handle == nullptr) {
    return nullptr;
  }
  Table()[handle] = Block{bytes, 0};
  faults::AdjustLive(&faults::Live::globalBlocks, +1);
  return handle;
}

void* GlobalLock(HGLOBAL handle) {
  if (faults::ShouldFail(faults::Point::GlobalLock)) {
    return nullptr;
  }
  Block* block = Find(handle);
  if (block == nullptr) {
    return nullptr;
  }
  void* data = ::GlobalLock(handle);
  if (data == nullptr) {
    return nullptr;
  }
  ++block->locks;
  faults::AdjustLive(&faults::Live::globalLocks, +1);
  return data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
  Block* block = Find(handle);
  if (block == nullptr || block->locks == 0) {
    return 0;
  }
  ::GlobalUnlock(handle);
  --block->locks;
  faults::AdjustLive(&faults::Live::globalLocks, -1);
  return block->locks != 0 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  auto& blocks = Table();
  auto it = blocks.find(handle);
  if (it == blocks.end()) {
    return handle;
  }
  // A block that is still locked is freed all the same; its locks are given
  // back first, so every Windows version frees it.
  Block& block = it->second;
  for (; block.locks > 0; --block.locks) {
    ::GlobalUnlock(handle);
    faults::AdjustLive(&faults::Live::globalLocks, -1);
  }
  if (::GlobalFree(handle) != nullptr) {
    return handle;  // still allocated: the table keeps it
  }
  faults::AdjustLive(&faults::Live::globalBlocks, -1);
  blocks.erase(it);
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle) {
  // The size that was asked for: Windows may round a block up, and callers
  // read no further than they asked.
  const Block* block = Find(handle);
  return block == nullptr ? 0 : block->size;
}

}  // namespace platform
