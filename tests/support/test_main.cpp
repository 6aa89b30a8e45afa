// The entry point of the test programs.
#include <gtest/gtest.h>

#include "platform/faults.h"
#if TVRCGCV_WITH_DISC_IMAGES
#include "cgvw/disc_image.h"
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Decoders that fail show a modal message box; in a test nobody would
  // close it.
  platform::faults::SuppressMessageBoxes(true);
#if TVRCGCV_WITH_DISC_IMAGES
  cgvw::EnableImageDrives();  // drives may be disc images, as in the program
#endif
  return RUN_ALL_TESTS();
}
