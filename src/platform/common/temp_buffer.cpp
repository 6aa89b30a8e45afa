#include "platform/temp_buffer.h"

#include <cstdlib>
#include <utility>

#include "platform/faults.h"

namespace platform {

TempBuffer TempBuffer::Obtain(std::size_t bytes, bool zeroFilled) {
  TempBuffer buffer;
  if (bytes == 0 || faults::ShouldFail(faults::Point::HeapBuffer)) {
    return buffer;
  }
  buffer.data_ =
      static_cast<std::uint8_t*>(zeroFilled ? std::calloc(bytes, 1) : std::malloc(bytes));
  if (buffer.data_ != nullptr) {
    buffer.size_ = bytes;
    faults::AdjustLive(&faults::Live::heapBuffers, +1);
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
    std::free(data_);
    faults::AdjustLive(&faults::Live::heapBuffers, -1);
    data_ = nullptr;
    size_ = 0;
  }
}

}  // namespace platform
