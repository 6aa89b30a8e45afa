#include "platform/console.h"
#include "platform/faults.h"
#include "platform/win_api.h"

namespace platform {

// No window system: the text goes to standard error and the box counts as
// closed with OK at once.
int MessageBoxA(void* /*owner*/, const char* text, const char* /*caption*/, UINT /*type*/) {
  if (faults::ShouldFail(faults::Point::MessageBox)) {
    return 0;
  }
  ErrorWrite(text != nullptr ? text : "");
  return 1;  // IDOK
}

}  // namespace platform
