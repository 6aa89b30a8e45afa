#include <exception>

#include "conversion_run.h"
#include "platform/console.h"
#include "platform/output_files.h"
#if TVRCGCV_WITH_DISC_IMAGES
#include "cgvw/disc_image.h"
#endif

int main(int argc, char* argv[]) {
  platform::ConsoleInit();
  platform::InstallInterruptHandlers();
#if TVRCGCV_WITH_DISC_IMAGES
  cgvw::EnableImageDrives();  // a drive may be a disc image file
#endif
  try {
    return app::RunConversion(argc, argv);
  } catch (...) {
    // The run reports its own failures; this is only a last guard, so that
    // nothing ends the program through std::terminate.
    platform::ErrorWrite("tvrcgcv: stopped by an unexpected error");
    return app::kExitUnexpectedError;
  }
}
