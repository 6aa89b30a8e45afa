#include "dib_block.h"

#include <limits>

namespace cgvw {

DibBlock::DibBlock(platform::UINT flags, std::uint64_t bytes) {
  if (bytes > std::numeric_limits<std::size_t>::max()) {
    return;
  }
  handle_ = platform::GlobalAlloc(flags, static_cast<std::size_t>(bytes));
  if (handle_ != nullptr) {
    size_ = static_cast<std::size_t>(bytes);
  }
}

DibBlock::~DibBlock() {
  Release();
}

bool DibBlock::Lock() {
  data_ = static_cast<std::uint8_t*>(platform::GlobalLock(handle_));
  return data_ != nullptr;
}

void DibBlock::Release() {
  if (data_ != nullptr) {
    platform::GlobalUnlock(handle_);
    data_ = nullptr;
  }
  if (handle_ != nullptr) {
    platform::GlobalFree(handle_);
    handle_ = nullptr;
  }
}

platform::HGLOBAL DibBlock::HandOver() {
  if (data_ != nullptr) {
    platform::GlobalUnlock(handle_);
    data_ = nullptr;
  }
  platform::HGLOBAL handle = handle_;
  handle_ = nullptr;
  return handle;
}

}  // namespace cgvw
