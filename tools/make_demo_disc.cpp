// make_demo_disc <directory> [--upper-case]
//
// Writes a complete synthetic source disc for the converter into <directory>:
// the catalogue's files with its byte layout, each picture showing its row
// number. With --upper-case the file names are written in upper case.
#include <cstdio>
#include <exception>
#include <string>

#include "demo_disc/demo_disc.h"

int main(int argc, char* argv[]) {
  std::string directory;
  bool upperCase = false;
  bool usable = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--upper-case") {
      upperCase = true;
    } else if (directory.empty() && !arg.empty() && arg[0] != '-') {
      directory = arg;
    } else {
      usable = false;
    }
  }
  if (!usable || directory.empty()) {
    std::fprintf(stderr, "usage: make_demo_disc <directory> [--upper-case]\n");
    return 2;
  }
  try {
    const int files = demo::WriteDisc(directory, upperCase);
    std::printf("make_demo_disc: wrote %d files for %d pictures to %s\n", files,
                demo::PictureCount(), directory.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_demo_disc: %s\n", error.what());
    return 1;
  }
  return 0;
}
