#include "platform/faults.h"

#include <array>

namespace platform::faults {
namespace {

struct PointState {
  long calls = 0;
  long failAt = 0;  // 0: never
};

std::array<PointState, kPointCount> g_points;
Live g_live{};
std::string* g_consoleSink = nullptr;
bool g_noMessageBoxes = false;

PointState& StateOf(Point point) {
  return g_points[static_cast<int>(point)];
}

}  // namespace

void FailNth(Point point, long n) {
  PointState& state = StateOf(point);
  state.failAt = n > 0 ? state.calls + n : 0;
}

void Reset() {
  g_points = {};
}

long Calls(Point point) {
  return StateOf(point).calls;
}

Live LiveCounts() {
  return g_live;
}

bool ShouldFail(Point point) {
  PointState& state = StateOf(point);
  ++state.calls;
  if (state.failAt != 0 && state.calls == state.failAt) {
    state.failAt = 0;
    return true;
  }
  return false;
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
  g_live.*counter += delta;
}

}  // namespace platform::faults
