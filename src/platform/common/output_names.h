// The parts of output_files.h that every system shares: the temporary
// naming, and the one pending temporary path that an interruption removes.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string_view>

namespace platform::output_names {

inline constexpr std::string_view kTemporarySuffix = ".tvrcgcv.tmp";

// The process that a temporary file name says wrote it; nullopt when the
// name is not one of ours.
std::optional<unsigned long> TemporaryOwner(std::string_view fileName);

// Provided by each system.
unsigned long CurrentProcessId();
bool ProcessRunning(unsigned long processId);

// The pending temporary path, readable from a signal handler (or, on
// Windows, the console control thread): the flag is set only while the
// buffer holds a complete path.
struct Pending {
  static constexpr std::size_t kCapacity = 4096;
  std::atomic<bool> set{false};
  char path[kCapacity] = {};
};
Pending& PendingOutput();

}  // namespace platform::output_names
