#include "platform/handles.h"

namespace platform {

std::span<std::uint8_t> Lock(const GlobalBlock& block) noexcept {
  auto* data = static_cast<std::uint8_t*>(GlobalLock(block.get()));
  return data == nullptr ? std::span<std::uint8_t>{} : std::span{data, GlobalSize(block.get())};
}

}  // namespace platform
