// A DIB block while its decoder builds it. The guard frees the block (after
// unlocking it, if it is locked) on every path that does not hand it over,
// so a decoder that returns early releases it by construction. Temporary
// buffers declared after the guard are released before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/win_api.h"

namespace cgvw {

class DibBlock {
 public:
  // Allocates the block; allocated() says whether that worked.
  DibBlock(platform::UINT flags, std::uint64_t bytes);
  ~DibBlock();
  DibBlock(const DibBlock&) = delete;
  DibBlock& operator=(const DibBlock&) = delete;

  bool allocated() const { return handle_ != nullptr; }
  // Locks the block; false when no address could be had.
  bool Lock();
  // Frees the block at once (unlocking it first if need be).
  void Release();
  // Unlocks the block and gives up ownership of its handle.
  platform::HGLOBAL HandOver();

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> bytes() const { return {data_, size_}; }

 private:
  platform::HGLOBAL handle_ = nullptr;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace cgvw
