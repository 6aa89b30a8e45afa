// The entry point of the test programs.
#include <gtest/gtest.h>

#include "platform/faults.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Decoders that fail show a modal message box; in a test nobody would
  // close it.
  platform::faults::SuppressMessageBoxes(true);
  return RUN_ALL_TESTS();
}
