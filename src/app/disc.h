// The disc of a run with options: where its bytes come from (a drive
// letter, or a folder or disc image given with --image), how to name it and
// its files in messages, and what --list and --check say of it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "cgvw/decode.h"
#include "console.h"
#include "options.h"

namespace cgvw {
class DiscImageSource;
}  // namespace cgvw

namespace app {

// Between a folder and a name in paths the program makes.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

struct Disc {
  std::unique_ptr<cgvw::Source> source;
  cgvw::DiscImageSource* image = nullptr;  // the source, when it is a disc image
  std::string name;                        // "disc.iso", "q:", as the user gave it
  char separator = '/';                    // between the disc's name and a file's

  // "disc.iso/bg005_0.bg" as messages show it (a long one cut, Shown).
  std::string FileName(std::string_view file) const;
  // Why a read of `file` failed, in words: where a disc image's sectors
  // stop being readable, else the system's reason or the status.
  std::string ReadFailure(std::string_view file, const cgvw::ReadResult& read) const;
  // What keeps the file from holding the byte ranges a picture reads, in
  // words ("missing: ...", "short: its ranges reach byte 8740, the file ends
  // at byte 3000"); empty when it holds them all. `got` adds up the bytes
  // read.
  std::string RangeProblem(std::string_view file, std::span<const cgvw::SourceRange> ranges,
                           std::uint64_t* got = nullptr) const;
};

// Opens the disc of the command line; an exit status other than kExitOk,
// with its complaint made, when there is none to read.
int OpenDisc(const Options& options, Disc* disc);

// --list: one line a picture; --check: one line a source file and a verdict.
int ListPictures(const Options& options, const Console& console);
int CheckDisc(const Options& options, const Disc& disc, const Console& console);

// Why a picture whose decode found a source file too short is incomplete:
// "<disc>/<file>: short: ..." for the first file of the picture that does
// not hold its ranges.
std::string IncompleteText(const Disc& disc, const TCGVwImage& image);

}  // namespace app
