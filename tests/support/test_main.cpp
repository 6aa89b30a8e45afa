// The entry point of the test programs.
#include <gtest/gtest.h>

#include "platform/faults.h"
#include "cgvw/disc_image.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Decoders that fail show a modal message box; in a test nobody would
  // close it.
  platform::faults::SuppressMessageBoxes(true);
  cgvw::EnableImageDrives();  // drives may be disc images, as in the program
  return RUN_ALL_TESTS();
}
