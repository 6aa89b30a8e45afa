#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "catalog/descriptors.h"
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

namespace {

// Every input rewrites the drive's files, so they had better be in memory:
// $TMPDIR when it is set, else /dev/shm where there is one.
std::filesystem::path ScratchBase() {
  std::error_code error;
  if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", error) &&
      ::access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

}  // namespace

ScratchDrive::ScratchDrive() {
  std::string pattern = (ScratchBase() / "tvrcgcv-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    CheckFailed("mkdtemp");
  }
  root_ = pattern;
  std::filesystem::create_directories(root_ / "drives" / "q" / "dir");
  std::filesystem::create_directories(root_ / "out");
  ::setenv("TVRCGCV_DRIVE_ROOT", (root_ / "drives").c_str(), 1);
  SourceRoot[0] = 'q';
}

ScratchDrive::~ScratchDrive() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string ScratchDrive::OutputPath(const char* name) const {
  return (root_ / "out" / name).string();
}

void ScratchDrive::WriteFile(const char* name, std::span<const std::uint8_t> bytes) const {
  std::ofstream out(root_ / "drives" / "q" / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    CheckFailed("writing a drive file");
  }
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
