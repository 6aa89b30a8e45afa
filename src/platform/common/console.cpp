// Console output: the test seam and the capture that both systems share; the
// writing itself is the system's (backend.h).
#include <string>

#include "backend.h"
#include "platform/console.h"
#include "platform/faults.h"

namespace platform {

bool ConsoleWrite(std::string_view shiftJisBytes) {
  if (faults::ShouldFail(faults::Point::Console)) {
    return false;
  }
  if (std::string* sink = faults::ConsoleCapture()) {
    try {
      sink->append(shiftJisBytes);
    } catch (...) {
      return false;  // no memory: as a write that failed
    }
    return true;
  }
  return backend::WriteStandardOutput(shiftJisBytes);
}

void ErrorWrite(std::string_view text) {
  backend::WriteStandardError(text);
}

}  // namespace platform
