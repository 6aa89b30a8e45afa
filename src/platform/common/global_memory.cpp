// Global memory blocks: the bookkeeping that both systems share. Each block
// the layer gave out is in the table with its requested size and its lock
// count, so that a freed or made-up handle is refused, the live counts of
// the fault seam are exact (a fixed Windows block keeps no lock count of its
// own) and a block still locked when it is freed has its locks given back.
#include "backend.h"
#include "handle_table.h"
#include "platform/faults.h"
#include "platform/win_api.h"

namespace platform {
namespace {

struct Block {
  void* native = nullptr;
  SIZE_T size = 0;
  unsigned locks = 0;
};

HandleTable<Block>& Blocks() {
  static HandleTable<Block> table(0x10000);
  return table;
}

std::uintptr_t KeyOf(HGLOBAL handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (faults::ShouldFail(faults::Point::GlobalAlloc)) {
    return nullptr;
  }
  // A zero-byte block still gets an address of its own (and a moveable one
  // on Windows would otherwise be created discarded, never to be locked).
  void* native = backend::AllocateBlock(flags, bytes == 0 ? 1 : bytes);
  if (native == nullptr) {
    return nullptr;
  }
  const std::uintptr_t key =
      backend::kBlockHandleIsNative ? reinterpret_cast<std::uintptr_t>(native) : Blocks().NewKey();
  if (!Blocks().Add(key, Block{native, bytes, 0})) {
    backend::FreeBlock(native);
    return nullptr;
  }
  faults::AdjustLive(&faults::Live::globalBlocks, +1);
  return reinterpret_cast<HGLOBAL>(key);
}

void* GlobalLock(HGLOBAL handle) {
  if (faults::ShouldFail(faults::Point::GlobalLock)) {
    return nullptr;
  }
  return Blocks().With(KeyOf(handle), [](Block* block) -> void* {
    void* data = block == nullptr ? nullptr : backend::LockBlock(block->native);
    if (data != nullptr) {
      ++block->locks;
      faults::AdjustLive(&faults::Live::globalLocks, +1);
    }
    return data;
  });
}

BOOL GlobalUnlock(HGLOBAL handle) {
  return Blocks().With(KeyOf(handle), [](Block* block) -> BOOL {
    if (block == nullptr || block->locks == 0) {
      return 0;
    }
    backend::UnlockBlock(block->native);
    --block->locks;
    faults::AdjustLive(&faults::Live::globalLocks, -1);
    return block->locks != 0 ? 1 : 0;
  });
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  std::optional<Block> block = Blocks().Take(KeyOf(handle));
  if (!block) {
    return handle;
  }
  // A block that is still locked is freed all the same; its locks are given
  // back first, so every Windows version frees it.
  for (; block->locks > 0; --block->locks) {
    backend::UnlockBlock(block->native);
    faults::AdjustLive(&faults::Live::globalLocks, -1);
  }
  if (!backend::FreeBlock(block->native)) {
    Blocks().Add(KeyOf(handle), *block);  // still allocated: the table keeps it
    return handle;
  }
  faults::AdjustLive(&faults::Live::globalBlocks, -1);
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle) {
  // The size that was asked for: a system may round a block up, and callers
  // read no further than they asked.
  return Blocks().With(KeyOf(handle), [](const Block* block) -> SIZE_T {
    return block == nullptr ? 0 : block->size;
  });
}

}  // namespace platform
