#include "platform/faults.h"

#include <array>
#include <atomic>

namespace platform::faults {
namespace {

// Every counter and switch is an atomic of its own, so that the seam costs
// the platform's calls no lock: a call counts itself and fails only if its
// number is the one armed.
struct PointState {
  std::atomic<long> calls{0};
  std::atomic<long> failAt{0};  // 0: never
  std::atomic<int> error{0};    // 0: the point's usual failure
  std::atomic<long> actAt{0};   // 0: never
  std::atomic<void (*)()> action{nullptr};
};

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

// Clears `armed` if it still holds `call`: true for the one call that does.
// A plain load first, so that the calls that are not armed (nearly all of
// them) cost no locked instruction beyond their count.
bool Fire(std::atomic<long>& armed, long call) {
  long expected = call;
  return call != 0 && armed.load(std::memory_order_relaxed) == call &&
         armed.compare_exchange_strong(expected, 0);
}

}  // namespace

void FailNth(Point point, long n) {
  FailNthWith(point, n, 0);
}

void FailNthWith(Point point, long n, int error) {
  PointState& state = StateOf(point);
  state.error = error;
  state.failAt = n > 0 ? state.calls + n : 0;
}

int FailureError(Point point) {
  return StateOf(point).error;
}

void ActAtNth(Point point, long n, void (*action)()) {
  PointState& state = StateOf(point);
  state.action = action;
  state.actAt = n > 0 && action != nullptr ? state.calls + n : 0;
}

void Reset() {
  for (PointState& state : g_points) {
    state.failAt = 0;
    state.error = 0;
    state.actAt = 0;
    state.action = nullptr;
    state.calls = 0;
  }
}

long Calls(Point point) {
  return StateOf(point).calls;
}

Live LiveCounts() {
  return {g_globalBlocks.load(), g_globalLocks.load(), g_heapBuffers.load(), g_openFiles.load()};
}

bool ShouldFail(Point point) {
  PointState& state = StateOf(point);
  const long call = state.calls.fetch_add(1) + 1;
  if (Fire(state.actAt, call)) {
    if (void (*action)() = state.action.load()) {
      action();
    }
  }
  return Fire(state.failAt, call);
}

void CaptureConsole(std::string* sink) {
  g_consoleSink = sink;
}

std::string* ConsoleCapture() {
  return g_consoleSink;
}

namespace {
std::atomic<int> g_ownConsoleWindow{-1};
}  // namespace

void PretendOwnConsoleWindow(int owns) {
  g_ownConsoleWindow = owns;
}

int PretendedOwnConsoleWindow() {
  return g_ownConsoleWindow;
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
