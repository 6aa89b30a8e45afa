// The command line. Without options it is the classic one: the first
// character of the first non-empty argument is the drive. An argument that
// begins with "--", and "-h" and "/?", is an option; options may stand
// before or after the drive.
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalogue.h"

namespace app {

enum class OutputFormat { kBmp, kPng };

struct Options {
  bool help = false;
  bool version = false;
  bool check = false;
  bool list = false;
  bool keepGoing = false;
  bool quiet = false;
  OutputFormat format = OutputFormat::kBmp;
  std::optional<std::string> out;    // folder for the pictures
  std::optional<std::string> image;  // the disc: a folder, an .iso or a .cue (or .bin)
  std::optional<char> drive;         // the disc: a drive letter, as in the classic run
  std::bitset<kPictureRows> only;    // the pictures to convert, list or check
};

struct CommandLine {
  bool hasOptions = false;  // false: the classic run, exactly as without this parser
  Options options;
  std::string error;  // a bad command line: what is wrong with it; empty otherwise
};

bool IsOption(std::string_view argument);

// Reads the arguments after the program name (UTF-8 where the system
// gives them so).
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// Reads a list of picture numbers and ranges ("0-151,155"); an empty
// result with `error` set when it is malformed.
std::bitset<kPictureRows> ParsePictureList(std::string_view list, std::string* error);

}  // namespace app
