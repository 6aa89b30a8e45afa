#include "fuzz_support.h"

#include <cstdio>

#include "platform/faults.h"

namespace fuzzing {

std::uint8_t Input::U8() {
  const auto bytes = Bytes(1);
  return bytes.empty() ? 0 : bytes[0];
}

std::uint16_t Input::U16() {
  return static_cast<std::uint16_t>(U8() | (U8() << 8));
}

std::uint32_t Input::U32() {
  return static_cast<std::uint32_t>(U16()) | (static_cast<std::uint32_t>(U16()) << 16);
}

std::uint16_t Input::Side(std::uint16_t max) {
  const std::uint16_t field = U16();
  return static_cast<std::uint16_t>(((field & 0x7FFu) % (max + 1u)) >> ((field >> 11) & 7u));
}

std::span<const std::uint8_t> Input::Bytes(std::size_t count) {
  const std::size_t taken = count < size_ - used_ ? count : size_ - used_;
  const std::span<const std::uint8_t> bytes(data_ + used_, taken);
  used_ += taken;
  return bytes;
}

FuzzSource::FuzzSource(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  if (files_.Add(kFileA, a) != cgvw::Status::Ok || files_.Add("b.bin", b) != cgvw::Status::Ok) {
    CheckFailed("adding the input's files");
  }
}

cgvw::ReadResult FuzzSource::Read(std::string_view name, std::uint64_t offset,
                                  std::span<std::uint8_t> dest) noexcept {
  if (++reads_ == failAt_) {
    return {unreadable_ ? cgvw::Status::ReadFailed : cgvw::Status::CannotOpen, 0, {}};
  }
  return files_.Read(name, offset, dest);
}

const char* FileNameFor(std::uint8_t choice) {
  static const char* const kNames[] = {
      nullptr,         // no file named
      kFileA,          // on the drive
      "B.BIN",         // b.bin, found ignoring case
      "missing.bin",   // not on the drive
      "dir",           // a directory
      "..\\q\\a.bin",  // would leave the drive root
      "a.bin\\x",      // a file used as a directory
      "",              // the drive root itself
  };
  return kNames[choice % (sizeof kNames / sizeof kNames[0])];
}

void CheckFailed(const char* condition) {
  std::fprintf(stderr, "fuzz check failed: %s\n", condition);
  __builtin_trap();
}

bool NothingHeld() {
  const auto live = platform::faults::LiveCounts();
  return live.globalBlocks == 0 && live.globalLocks == 0 && live.heapBuffers == 0 &&
         live.openFiles == 0;
}

}  // namespace fuzzing
