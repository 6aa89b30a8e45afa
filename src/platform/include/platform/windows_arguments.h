// The command line on Windows as the system keeps it (UTF-16), argument by
// argument in UTF-8, the program's name first; empty if it cannot be had.
#pragma once

#ifdef _WIN32
#include <string>
#include <vector>

namespace platform {

std::vector<std::string> WindowsArguments();

}  // namespace platform
#endif
