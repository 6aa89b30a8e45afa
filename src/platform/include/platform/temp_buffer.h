// Temporary buffers from the general heap, released when the object goes
// out of scope. A buffer is zero-filled when it is obtained unless its
// owner is going to write every byte of it anyway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// A block of the general heap that its owner keeps beyond one scope (a
// decoded picture), counted and failed by the test seam as temporary
// buffers are: null when there is no memory. A request for 0 bytes gets a
// block of 1 byte. FreeHeapBlock takes null as well.
void* AllocateHeapBlock(std::size_t bytes, bool zeroFilled) noexcept;
void FreeHeapBlock(void* block) noexcept;

class TempBuffer {
 public:
  TempBuffer() = default;
  // An empty buffer means failure: no memory, or a request for 0 bytes.
  static TempBuffer Obtain(std::size_t bytes, bool zeroFilled = true);

  TempBuffer(TempBuffer&& other) noexcept;
  TempBuffer& operator=(TempBuffer&& other) noexcept;
  TempBuffer(const TempBuffer&) = delete;
  TempBuffer& operator=(const TempBuffer&) = delete;
  ~TempBuffer();

  explicit operator bool() const { return data_ != nullptr; }
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> span() const { return {data_, size_}; }

 private:
  void Release();
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
