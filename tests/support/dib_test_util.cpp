#include "dib_test_util.h"

#include <cstring>

#include "platform/faults.h"
#include "platform/win_api.h"

namespace testing_support {

Decoded DecodeWith(TCGVwOperation decoder, const TCGVwImage& image, const void* second) {
  Decoded result;
  platform::HGLOBAL handle = reinterpret_cast<platform::HGLOBAL>(0x1);  // must be overwritten
  const TCGVwImage* descriptor = &image;
  result.status = decoder(&descriptor, second, &handle);
  result.gotHandle = handle != nullptr;
  result.wasUnlocked = platform::faults::LiveCounts().globalLocks == 0;
  if (handle != nullptr && result.status == kCGVwOk) {
    const auto* bytes = static_cast<const std::uint8_t*>(platform::GlobalLock(handle));
    if (bytes != nullptr) {
      result.bytes.assign(bytes, bytes + platform::GlobalSize(handle));
      platform::GlobalUnlock(handle);
    }
    platform::GlobalFree(handle);
  }
  return result;
}

std::vector<std::uint8_t> sample::DiscBytes() {
  Bytes bytes;
  for (unsigned i = 0; i < 256; ++i) {
    bytes.BE16(static_cast<std::uint16_t>(i * 97));
  }
  for (unsigned i = 0; bytes.size() < kMap16; ++i) {
    bytes.Fill(1, static_cast<std::uint8_t>(i * 13 + 1));
  }
  for (unsigned i = 0; i < 64; ++i) {
    bytes.BE16(static_cast<std::uint16_t>((i % 8) * 2));
  }
  bytes.Fill(kMap32 - bytes.size(), 0);
  for (unsigned i = 0; i < 64; ++i) {
    bytes.BE32((i % 8) * 2);
  }
  bytes.Fill(kCells - bytes.size(), 0);
  for (unsigned i = 0; i < 128; ++i) {
    bytes.BE16(static_cast<std::uint16_t>((i % 4 == 0 ? 0 : i % 4 == 1 ? 0x400 : 0xC00) | 2));
  }
  return bytes.get();
}

}  // namespace testing_support
