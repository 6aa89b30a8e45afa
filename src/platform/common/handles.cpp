#include "platform/handles.h"

namespace platform {

GlobalBlock GlobalBlock::Allocate(UINT flags, SIZE_T bytes) noexcept {
  return GlobalBlock(GlobalAlloc(flags, bytes));
}

GlobalBlock& GlobalBlock::operator=(GlobalBlock&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = std::exchange(other.handle_, nullptr);
    bytes_ = std::exchange(other.bytes_, {});
  }
  return *this;
}

std::span<std::uint8_t> GlobalBlock::Lock() noexcept {
  if (bytes_.data() == nullptr && handle_ != nullptr) {
    if (auto* data = static_cast<std::uint8_t*>(GlobalLock(handle_))) {
      bytes_ = {data, GlobalSize(handle_)};
    }
  }
  return bytes_;
}

void GlobalBlock::Unlock() noexcept {
  if (bytes_.data() != nullptr) {
    GlobalUnlock(handle_);
    bytes_ = {};
  }
}

HGLOBAL GlobalBlock::Release() noexcept {
  Unlock();
  return std::exchange(handle_, nullptr);
}

void GlobalBlock::Reset() noexcept {
  Unlock();
  if (handle_ != nullptr) {
    GlobalFree(std::exchange(handle_, nullptr));
  }
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
  }
  return *this;
}

bool File::Close() noexcept {
  if (handle_ == INVALID_HANDLE_VALUE) {
    return true;
  }
  return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
}

}  // namespace platform
