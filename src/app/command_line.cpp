#include "command_line.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace app {
namespace {

// Reads a picture number at the start of `text`; nullopt when there is no
// number of the catalogue there.
std::optional<std::size_t> PictureNumber(std::string_view text) {
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size() || number >= kPictureRows) {
    return std::nullopt;
  }
  return number;
}

// The options that take a value, and where it goes.
std::optional<std::string>* ValueOf(std::string_view name, Options& options) {
  if (name == "--out") {
    return &options.out;
  }
  if (name == "--image") {
    return &options.image;
  }
  return nullptr;
}

// Applies one option; false with `error` set if it is not one.
bool Apply(std::string_view name, const std::optional<std::string>& value, Options& options,
           std::string* error) {
  const struct {
    std::string_view name;
    bool Options::*flag;
  } kFlags[] = {
      {"--help", &Options::help},
      {"-h", &Options::help},
      {"/?", &Options::help},
      {"--version", &Options::version},
      {"--check", &Options::check},
      {"--list", &Options::list},
      {"--keep-going", &Options::keepGoing},
      {"--quiet", &Options::quiet},
  };
  for (const auto& flag : kFlags) {
    if (name == flag.name) {
      if (value) {
        *error = std::string(name) + " takes no value";
        return false;
      }
      options.*flag.flag = true;
      return true;
    }
  }
  if (name == "--format") {
    if (value == "bmp" || value == "png") {
      options.format = *value == "png" ? OutputFormat::kPng : OutputFormat::kBmp;
      return true;
    }
    *error = "--format takes bmp or png";
    return false;
  }
  if (name == "--only") {
    options.only = ParsePictureList(*value, error);
    return error->empty();
  }
  if (std::optional<std::string>* target = ValueOf(name, options)) {
    if (*target) {
      *error = std::string(name) + " is given twice";
      return false;
    }
    if (value->empty()) {
      *error = std::string(name) + " needs a non-empty value";
      return false;
    }
    *target = *value;
    return true;
  }
  *error = "unknown option " + std::string(name);
  return false;
}

bool TakesValue(std::string_view name) {
  return name == "--out" || name == "--image" || name == "--format" || name == "--only";
}

// "q", "q:", "q:\" or "q:/": a drive letter as a user writes one.
bool IsDriveLetter(std::string_view argument) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  return !argument.empty() && argument.size() <= 3 && letter(argument[0]) &&
         (argument.size() == 1 || argument[1] == ':') &&
         (argument.size() < 3 || argument[2] == '\\' || argument[2] == '/');
}

// With options the drive is not guessed from the first character of any
// argument: a path there is meant for --image, and beside --image it is a
// second disc.
std::string DriveArgumentError(const std::vector<std::string_view>& drives,
                               const std::optional<std::string>& image) {
  std::string error;
  if (!drives.empty() && image) {
    error.append("the disc is given twice: ");
    error.append(IsDriveLetter(drives[0]) ? "the drive letter \"" : "\"").append(drives[0]);
    error.append("\" and --image ").append(*image);
  } else if (drives.size() > 1) {
    error.append("the drive is given twice: \"").append(drives[0]);
    error.append("\" and \"").append(drives[1]).append("\"");
  } else if (drives.size() == 1 && !IsDriveLetter(drives[0])) {
    error.append("\"").append(drives[0]);
    error.append("\" is no drive letter; give a disc image or folder with --image");
  }
  return error;
}

}  // namespace

bool IsOption(std::string_view argument) {
  return argument.starts_with("--") || argument == "-h" || argument == "/?";
}

std::bitset<kPictureRows> ParsePictureList(std::string_view list, std::string* error) {
  std::bitset<kPictureRows> pictures;
  error->clear();
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view item = list.substr(start, comma - start);
    const std::size_t dash = item.find('-');
    const auto first = PictureNumber(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : PictureNumber(item.substr(dash + 1));
    if (!first || !last || *last < *first) {
      *error = "--only: \"" + std::string(item) + "\" is no picture number (0 to " +
               std::to_string(kPictureRows - 1) + ") or range of them (\"0-151,155\")";
      return {};
    }
    for (std::size_t row = *first; row <= *last; ++row) {
      pictures.set(row);
    }
    start = comma + 1;
  }
  return pictures;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  Options& options = line.options;
  bool onlyGiven = false;
  bool formatGiven = false;
  std::vector<std::string_view> drives;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!IsOption(argument)) {
      if (!argument.empty()) {
        if (!options.drive) {
          options.drive = argument[0];
        }
        drives.push_back(argument);
      }
      continue;
    }
    line.hasOptions = true;
    const std::size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (TakesValue(name)) {
      if (i + 1 == arguments.size()) {
        line.error = std::string(name) + " needs a value";
        return line;
      }
      if (IsOption(arguments[i + 1])) {
        line.error = std::string(name) + " needs a value (\"" + arguments[i + 1] +
                     "\" is an option; " + std::string(name) +
                     "=VALUE gives one that looks like it)";
        return line;
      }
      value = arguments[++i];
    }
    if (TakesValue(name) && !value) {
      line.error = std::string(name) + " needs a value";
      return line;
    }
    if ((name == "--only" && std::exchange(onlyGiven, true)) ||
        (name == "--format" && std::exchange(formatGiven, true))) {
      line.error = std::string(name) + " is given twice";
      return line;
    }
    if (!Apply(name, value, options, &line.error)) {
      return line;
    }
  }
  if (!onlyGiven) {
    options.only.set();
  }
  if (line.hasOptions) {
    line.error = DriveArgumentError(drives, options.image);
    if (!line.error.empty()) {
      return line;
    }
  }
  if (options.check && options.list) {
    line.error = "--check and --list cannot go together";
  }
  return line;
}

}  // namespace app
