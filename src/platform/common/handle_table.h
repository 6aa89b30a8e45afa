// The bookkeeping behind the handles of the platform layer, shared by the
// POSIX and Windows sides: each handle the layer gave out and has not taken
// back, with what it stands for. A handle that is not in the table (freed,
// closed, made up, or another layer's) is refused and never dereferenced.
// Every operation takes the table's lock, so the handles may be used from
// several threads; what an entry points at is used outside the lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace platform {

template <typename Entry>
class HandleTable {
 public:
  explicit HandleTable(std::uintptr_t firstKey) : next_(firstKey) {}

  // A key that no handle of the table ever had: numbers are never reused.
  std::uintptr_t NewKey() noexcept {
    const std::lock_guard hold(lock_);
    const std::uintptr_t key = next_;
    next_ += 0x10;
    return key;
  }

  // Keeps `entry` under `key`; false when there was no memory to keep it.
  bool Add(std::uintptr_t key, Entry entry) noexcept {
    try {
      const std::lock_guard hold(lock_);
      entries_.insert_or_assign(key, std::move(entry));
      return true;
    } catch (...) {
      return false;
    }
  }

  // Calls f with the entry of `key`, or with null, while holding the lock.
  template <typename F>
  auto With(std::uintptr_t key, F&& f) {
    const std::lock_guard hold(lock_);
    const auto it = entries_.find(key);
    return f(it == entries_.end() ? nullptr : &it->second);
  }

  // Removes the entry of `key` and gives it back.
  std::optional<Entry> Take(std::uintptr_t key) noexcept {
    const std::lock_guard hold(lock_);
    const auto it = entries_.find(key);
    if (it == entries_.end()) {
      return std::nullopt;
    }
    std::optional<Entry> entry(std::move(it->second));
    entries_.erase(it);
    return entry;
  }

 private:
  std::mutex lock_;
  std::unordered_map<std::uintptr_t, Entry> entries_;
  std::uintptr_t next_;
};

}  // namespace platform
