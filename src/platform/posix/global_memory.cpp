// Global memory blocks on POSIX. A handle is a number that names an entry of
// the block table; numbers are never reused, so a freed or made-up handle is
// simply not found and nothing is dereferenced through it.
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include "platform/faults.h"
#include "platform/win_api.h"

namespace platform {
namespace {

struct Block {
  void* data = nullptr;
  SIZE_T size = 0;
  unsigned locks = 0;
};

struct BlockTable {
  std::unordered_map<std::uintptr_t, Block> blocks;
  std::uintptr_t next = 0x10000;
};

BlockTable& Table() {
  static BlockTable table;
  return table;
}

Block* Find(HGLOBAL handle) {
  auto& blocks = Table().blocks;
  auto it = blocks.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == blocks.end() ? nullptr : &it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (faults::ShouldFail(faults::Point::GlobalAlloc)) {
    return nullptr;
  }
  // A zero-byte block still gets an address of its own.
  const SIZE_T request = bytes == 0 ? 1 : bytes;
  // Without GMEM_ZEROINIT the contents are left as malloc gives them, so tools
  // such as valgrind see any byte that a caller forgets to write.
  void* data = (flags & GMEM_ZEROINIT) != 0 ? std::calloc(request, 1) : std::malloc(request);
  if (data == nullptr) {
    return nullptr;
  }
  BlockTable& table = Table();
  const std::uintptr_t id = table.next;
  table.next += 0x10;
  table.blocks.emplace(id, Block{data, bytes, 0});
  faults::AdjustLive(&faults::Live::globalBlocks, +1);
  return reinterpret_cast<HGLOBAL>(id);
}

void* GlobalLock(HGLOBAL handle) {
  if (faults::ShouldFail(faults::Point::GlobalLock)) {
    return nullptr;
  }
  Block* block = Find(handle);
  if (block == nullptr) {
    return nullptr;
  }
  ++block->locks;
  faults::AdjustLive(&faults::Live::globalLocks, +1);
  return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
  Block* block = Find(handle);
  if (block == nullptr || block->locks == 0) {
    return 0;
  }
  --block->locks;
  faults::AdjustLive(&faults::Live::globalLocks, -1);
  return block->locks != 0 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  auto& blocks = Table().blocks;
  auto it = blocks.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == blocks.end()) {
    return handle;
  }
  faults::AdjustLive(&faults::Live::globalLocks, -static_cast<long>(it->second.locks));
  faults::AdjustLive(&faults::Live::globalBlocks, -1);
  std::free(it->second.data);
  blocks.erase(it);
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle) {
  const Block* block = Find(handle);
  return block == nullptr ? 0 : block->size;
}

}  // namespace platform
