#include <exception>
#include <string>
#include <vector>

#include "exit_status.h"
#include "options.h"
#include "platform/console.h"
#include "platform/output_files.h"
#include "run.h"
#include "cgvw/disc_image.h"
#ifdef _WIN32
#include "platform/wide_paths.h"
#include "platform/windows_arguments.h"
#endif

namespace {

// The arguments after the program's name; on Windows as the system gives
// them, in UTF-16, turned into UTF-8, so that paths in any script work.
std::vector<std::string> Arguments(int argc, char* argv[]) {
#ifdef _WIN32
  if (std::vector<std::string> wide = platform::WindowsArguments(); !wide.empty()) {
    wide.erase(wide.begin());
    return wide;
  }
#endif
  return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

// A console window of the program's own (Windows, started by a double
// click) closes as the program ends: the user is given time to read it.
int Ended(int status) {
  if (platform::OwnsConsoleWindow()) {
    platform::WaitForKey("\r\nPress any key to close this window.");
  }
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  platform::ConsoleInit();
  platform::InstallInterruptHandlers();
  cgvw::EnableImageDrives();  // a drive may be a disc image file
  try {
    const app::CommandLine line = app::ParseCommandLine(Arguments(argc, argv));
    if (!line.hasOptions) {
      return Ended(app::RunConversion(argc, argv));  // the classic run, as it always was
    }
    return Ended(app::RunWithOptions(line, "tvrcgcv"));
  } catch (...) {
    // The runs report their own failures; this is only a last guard, so that
    // nothing ends the program through std::terminate.
    platform::ErrorWrite("tvrcgcv: stopped by an unexpected error");
    return app::kExitUnexpectedError;
  }
}
