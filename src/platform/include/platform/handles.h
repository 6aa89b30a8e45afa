// Owners of the platform's handles, so that a global memory block or a file
// is given back on every path: a GlobalBlock unlocks (if it is locked) and
// frees its block, a File closes its file. Both are move-only.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "platform/win_api.h"

namespace platform {

class GlobalBlock {
 public:
  GlobalBlock() noexcept = default;
  // Takes over a block handle (the result of a decoder, say).
  explicit GlobalBlock(HGLOBAL handle) noexcept : handle_(handle) {}
  // GlobalAlloc; an empty owner if the block cannot be had.
  static GlobalBlock Allocate(UINT flags, SIZE_T bytes) noexcept;

  GlobalBlock(GlobalBlock&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), bytes_(std::exchange(other.bytes_, {})) {}
  GlobalBlock& operator=(GlobalBlock&& other) noexcept;
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  ~GlobalBlock() { Reset(); }

  explicit operator bool() const { return handle_ != nullptr; }
  HGLOBAL handle() const { return handle_; }

  // Locks the block and gives its bytes (GlobalSize of them); empty when it
  // cannot be locked. Locking a locked block gives the same bytes again.
  std::span<std::uint8_t> Lock() noexcept;
  void Unlock() noexcept;
  // Unlocks the block and gives up owning it.
  HGLOBAL Release() noexcept;
  // Unlocks and frees the block now.
  void Reset() noexcept;

 private:
  HGLOBAL handle_ = nullptr;
  std::span<std::uint8_t> bytes_;  // while locked
};

class File {
 public:
  File() noexcept = default;
  explicit File(HANDLE handle) noexcept : handle_(handle) {}
  File(File&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE handle() const { return handle_; }
  // Closes the file; false when the close reported an error, which for a
  // file that was written means its bytes may not all have made it.
  bool Close() noexcept;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace platform
