// The runs of the program. There is one walk over the catalogue's rows;
// the run without options is a preset of it: BMP files in the current
// folder, the classic entry point's decodes, stop at the first failure,
// the classic console texts and nothing else, exit status 0. A run with
// options picks its pictures, folder, format and decoding (the typed API
// from its disc), may go on after a failure, reports every failure on
// standard error and ends with the status of exit_status.h.
#pragma once

#include <string>

#include "options.h"

namespace app {

// The run without options: argv as main has it.
int RunConversion(int argc, const char* const argv[]);

// The run with options.
int RunWithOptions(const CommandLine& line, const std::string& programName);

}  // namespace app
