// The command line. Without options it is the classic one: the first
// character of the first non-empty argument is the drive. An argument that
// begins with "--", and "-h" and "/?", is an option; options may stand
// before or after the drive. Beside options, any other argument that
// begins with "-" is an unknown option. One table (OptionTable) names every option:
// the parser, the help text and the rule that an option with a value is
// given once all read it.
#pragma once

#include <bitset>
#include <optional>
#include <span>
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
  std::optional<std::string> image;  // the disc: a folder or a disc image
  std::optional<char> drive;         // the disc: a drive letter, as in the classic run
  std::bitset<kPictureRows> only;    // the pictures to convert, list or check
};

struct CommandLine {
  bool hasOptions = false;  // false: the classic run, exactly as without options
  Options options;
  std::string error;  // a bad command line: what is wrong with it; empty otherwise
};

// One option: its name, the other forms it may take ("-h", "/?"), the name
// of its value (empty: it takes none), its line of help, and what it sets.
struct OptionSpec {
  std::string_view name;
  std::span<const std::string_view> otherForms;
  std::string_view value;
  std::string_view help;  // '\n' where the help goes on a line of its own
  // Sets the option; false with `error` set for a value it does not take.
  bool (*apply)(Options& options, std::string_view value, std::string* error);
};
std::span<const OptionSpec> OptionTable();

// Reads the arguments after the program name (UTF-8 where the system
// gives them so).
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text of --help, with CR LF line ends.
std::string HelpText();

// Reads a list of picture numbers and ranges ("0-151,155"); an empty
// result with `error` set when it is malformed.
std::bitset<kPictureRows> ParsePictureList(std::string_view list, std::string* error);

}  // namespace app
