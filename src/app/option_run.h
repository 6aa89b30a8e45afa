// The run with options (command_line.h): converting into a chosen folder
// and format, checking or listing the disc, with exit statuses that say
// what came of it and one line on standard error for each failure.
#pragma once

#include <memory>
#include <string>

#include "cgvw/decode.h"
#include "command_line.h"

namespace cgvw {
class DiscImageSource;
}  // namespace cgvw

namespace app {

// Exit statuses of a run with options.
inline constexpr int kExitDone = 0;            // every picture asked for, or the listing
inline constexpr int kExitNoOutput = 1;        // standard output could not be written
inline constexpr int kExitUsage = 2;           // a bad command line
inline constexpr int kExitPicturesFailed = 3;  // some pictures could not be decoded
inline constexpr int kExitDiscUnreadable = 4;  // the disc cannot be read (or is incomplete)
inline constexpr int kExitOutputFailed = 5;    // an output could not be written

int RunWithOptions(const CommandLine& line, const std::string& programName);

// The disc of a run: where the bytes come from, and how to name it and its
// files in messages (as the user gave them).
struct Disc {
  std::unique_ptr<cgvw::Source> source;
  cgvw::DiscImageSource* image = nullptr;  // the source, when it is a disc image
  std::string name;                        // "disc.iso", "q:"
  char separator = '/';                    // between the disc's name and a file's
  std::string FileName(const char* file) const { return name + separator + file; }
  // Why a read of `file` failed, in words: where a disc image's sectors
  // stop being readable, else the system's reason or the status.
  std::string ReadFailure(std::string_view file, const cgvw::ReadResult& read) const;
};

// Lists the pictures (--list); checks the disc (--check).
int ListPictures(const Options& options);
int CheckDisc(const Options& options, const Disc& disc);

// Writes a line on standard output; false when it could not be written.
bool OutputLine(std::string_view text);
// The output file name of catalogue row `row`: "tvrcg005.png".
std::string OutputName(std::size_t row, OutputFormat format);
// Writes "tvrcgcv: <text>" on standard error.
void Complain(std::string_view text);

}  // namespace app
