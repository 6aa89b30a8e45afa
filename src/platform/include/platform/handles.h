// One owner for the platform's handles, so that a global memory block or a
// file is given back on every path: UniqueHandle<Traits> holds a handle and
// releases it (GlobalFree, CloseHandle) when it goes away, unless it was
// released to someone else first. Move-only.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "platform/win_api.h"

namespace platform {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  explicit operator bool() const { return handle_ != Traits::None(); }
  Handle get() const { return handle_; }
  // Gives the handle up without releasing it.
  Handle Release() noexcept { return std::exchange(handle_, Traits::None()); }
  // Releases the handle now; false when the system reported an error (for
  // a file that was written: its bytes may not all have made it).
  bool Reset() noexcept {
    const Handle handle = Release();
    return handle == Traits::None() || Traits::Close(handle);
  }

 private:
  Handle handle_ = Traits::None();
};

struct GlobalBlockTraits {
  using Handle = HGLOBAL;
  static Handle None() { return nullptr; }
  // Frees the block, locked or not.
  static bool Close(Handle block) { return GlobalFree(block) == nullptr; }
};

struct FileTraits {
  using Handle = HANDLE;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle file) { return CloseHandle(file) != 0; }
};

using GlobalBlock = UniqueHandle<GlobalBlockTraits>;
using File = UniqueHandle<FileTraits>;

// Locks the block and gives its bytes (all GlobalSize of them); an empty
// span with a null data pointer when it cannot be locked. Each successful
// lock is undone by one GlobalUnlock (or by freeing the block).
std::span<std::uint8_t> Lock(const GlobalBlock& block) noexcept;

}  // namespace platform
