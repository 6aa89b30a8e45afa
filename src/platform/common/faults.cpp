#include "platform/faults.h"

#include <array>
#include <atomic>
#include <mutex>

namespace platform::faults {
namespace {

struct PointState {
  long calls = 0;
  long failAt = 0;  // 0: never
  long actAt = 0;   // 0: never
  void (*action)() = nullptr;
};

// Armed points and their counters; the live counts are atomics of their own
// so that every allocation does not take the lock twice.
std::mutex g_lock;
std::array<PointState, kPointCount> g_points;
std::atomic<long> g_globalBlocks{0};
std::atomic<long> g_globalLocks{0};
std::atomic<long> g_heapBuffers{0};
std::atomic<long> g_openFiles{0};
std::atomic<std::string*> g_consoleSink{nullptr};
std::atomic<bool> g_noMessageBoxes{false};

PointState& StateOf(Point point) {
  return g_points[static_cast<int>(point)];
}

std::atomic<long>& LiveCounter(long Live::*counter) {
  if (counter == &Live::globalBlocks) {
    return g_globalBlocks;
  }
  if (counter == &Live::globalLocks) {
    return g_globalLocks;
  }
  if (counter == &Live::heapBuffers) {
    return g_heapBuffers;
  }
  return g_openFiles;
}

}  // namespace

void FailNth(Point point, long n) {
  const std::lock_guard hold(g_lock);
  PointState& state = StateOf(point);
  state.failAt = n > 0 ? state.calls + n : 0;
}

void ActAtNth(Point point, long n, void (*action)()) {
  const std::lock_guard hold(g_lock);
  PointState& state = StateOf(point);
  state.actAt = n > 0 && action != nullptr ? state.calls + n : 0;
  state.action = action;
}

void Reset() {
  const std::lock_guard hold(g_lock);
  g_points = {};
}

long Calls(Point point) {
  const std::lock_guard hold(g_lock);
  return StateOf(point).calls;
}

Live LiveCounts() {
  return {g_globalBlocks.load(), g_globalLocks.load(), g_heapBuffers.load(), g_openFiles.load()};
}

bool ShouldFail(Point point) {
  void (*action)() = nullptr;
  bool fail = false;
  {
    const std::lock_guard hold(g_lock);
    PointState& state = StateOf(point);
    ++state.calls;
    if (state.actAt != 0 && state.calls == state.actAt) {
      state.actAt = 0;
      action = state.action;
    }
    if (state.failAt != 0 && state.calls == state.failAt) {
      state.failAt = 0;
      fail = true;
    }
  }
  if (action != nullptr) {
    action();
  }
  return fail;
}

void CaptureConsole(std::string* sink) {
  g_consoleSink = sink;
}

std::string* ConsoleCapture() {
  return g_consoleSink;
}

void SuppressMessageBoxes(bool on) {
  g_noMessageBoxes = on;
}

bool MessageBoxesSuppressed() {
  return g_noMessageBoxes;
}

void AdjustLive(long Live::*counter, long delta) {
  LiveCounter(counter) += delta;
}

}  // namespace platform::faults
