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

}  // namespace testing_support
