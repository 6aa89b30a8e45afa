// Shared pieces of the fuzz harnesses: reading fields from the fuzzer's
// input, a scratch source drive, and checks that end the run on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

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

// A source drive in a fresh temporary directory, removed at exit: the drive
// root holds drive q (SourceRoot is pointed at it) with a subdirectory "dir",
// and there is a directory for output files.
class ScratchDrive {
 public:
  ScratchDrive();
  ~ScratchDrive();
  ScratchDrive(const ScratchDrive&) = delete;
  ScratchDrive& operator=(const ScratchDrive&) = delete;

  // Replaces the file `name` of the drive with `bytes`.
  void WriteFile(const char* name, std::span<const std::uint8_t> bytes) const;
  // A path for an output file.
  std::string OutputPath(const char* name) const;

 private:
  std::filesystem::path root_;
};

// File names a descriptor may carry: two files on the drive (one spelt in
// another case), a missing one, a directory, names that cannot name a file
// on the drive, and null.
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
