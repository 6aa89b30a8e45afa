// The conversion run: banner, drive selection and the walk over the
// catalogue, one BMP file per row.
#pragma once

namespace app {

inline constexpr int kExitOk = 0;               // every end of a run, also after a failure
inline constexpr int kExitConsoleFailed = 1;    // standard output could not be written
inline constexpr int kExitUnexpectedError = 1;  // anything else that ends the program early

// Runs the program with its command line; returns the exit status.
int RunConversion(int argc, const char* const argv[]);

}  // namespace app
