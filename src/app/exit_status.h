// The program's exit statuses, for both runs. Without options a run ends
// with kExitOk however it ends (usage shown, stopped at a failing picture,
// finished), and only a console that cannot be written makes it 1.
#pragma once

namespace app {

inline constexpr int kExitOk = 0;  // every picture asked for, the listing, a complete disc
inline constexpr int kExitConsoleFailed = 1;    // standard output could not be written
inline constexpr int kExitUsage = 2;            // a bad command line
inline constexpr int kExitPicturesFailed = 3;   // some pictures could not be decoded, or not whole
inline constexpr int kExitDiscUnreadable = 4;   // the disc cannot be read, or is incomplete
inline constexpr int kExitOutputFailed = 5;     // an output could not be written
inline constexpr int kExitUnexpectedError = 1;  // anything else that ends the program early

}  // namespace app
