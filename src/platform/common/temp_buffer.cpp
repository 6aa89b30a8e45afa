#include "platform/temp_buffer.h"

#include <cstdlib>
#include <utility>

#include "platform/faults.h"

namespace platform {

void* AllocateHeapBlock(std::size_t bytes, bool zeroFilled) noexcept {
  if (faults::ShouldFail(faults::Point::HeapBuffer)) {
    return nullptr;
  }
  const std::size_t size = bytes == 0 ? 1 : bytes;
  void* block = zeroFilled ? std::calloc(size, 1) : std::malloc(size);
  if (block != nullptr) {
    faults::AdjustLive(&faults::Live::heapBuffers, +1);
  }
  return block;
}

void FreeHeapBlock(void* block) noexcept {
  if (block != nullptr) {
    std::free(block);
    faults::AdjustLive(&faults::Live::heapBuffers, -1);
  }
}

TempBuffer TempBuffer::Obtain(std::size_t bytes, bool zeroFilled) {
  TempBuffer buffer;
  if (bytes == 0) {
    return buffer;
  }
  buffer.data_ = static_cast<std::uint8_t*>(AllocateHeapBlock(bytes, zeroFilled));
  if (buffer.data_ != nullptr) {
    buffer.size_ = bytes;
  }
  return buffer;
}

TempBuffer::TempBuffer(TempBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

TempBuffer& TempBuffer::operator=(TempBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

TempBuffer::~TempBuffer() {
  Release();
}

void TempBuffer::Release() {
  if (data_ != nullptr) {
    FreeHeapBlock(data_);
    data_ = nullptr;
    size_ = 0;
  }
}

}  // namespace platform
