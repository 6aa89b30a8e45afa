// Shared pieces of the fuzz harnesses: reading fields from the fuzzer's
// input, its source files in memory, and checks that end the run on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cgvw/decode.h"

namespace fuzzing {

// Reads little-endian fields from the front of the input; once it is used
// up every field reads as 0 and every byte run as empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  // A picture side of at most `max` pixels (max below 2048). The top five
  // bits of the field scale it down, so that small pictures are common while
  // every size up to `max` stays reachable.
  std::uint16_t Side(std::uint16_t max);
  // Up to `count` bytes, fewer when the input ends first.
  std::span<const std::uint8_t> Bytes(std::size_t count);
  std::span<const std::uint8_t> Rest() { return Bytes(size_ - used_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// The source files of an input, in memory: a.bin and b.bin. One read may
// be made to fail, as a file that cannot be opened or read would.
class FuzzSource final : public cgvw::Source {
 public:
  FuzzSource(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
  // The n-th read from now fails (0: none), as unopenable or unreadable.
  void FailNthRead(unsigned n, bool unreadable) {
    failAt_ = n;
    unreadable_ = unreadable;
  }
  cgvw::ReadResult Read(std::string_view name, std::uint64_t offset,
                        std::span<std::uint8_t> dest) noexcept override;

 private:
  cgvw::MemorySource files_;
  unsigned reads_ = 0;
  unsigned failAt_ = 0;
  bool unreadable_ = false;
};

// File names a descriptor may carry: the two files (one spelt in another
// case), a missing one, a folder's name, names that cannot name a file of
// the disc, and null.
const char* FileNameFor(std::uint8_t choice);
inline constexpr const char* kFileA = "a.bin";
inline constexpr const char* kFileB = "b.bin";

// Ends the process with a trap when the condition fails; the stack trace of
// the crash report names the check.
#define FUZZ_CHECK(condition)             \
  do {                                    \
    if (!(condition)) {                   \
      ::fuzzing::CheckFailed(#condition); \
    }                                     \
  } while (false)
[[noreturn]] void CheckFailed(const char* condition);

// No global block, lock, heap buffer or file is held.
bool NothingHeld();

}  // namespace fuzzing
