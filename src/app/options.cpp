#include "options.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "console.h"

namespace app {
namespace {

// Reads a picture number; nullopt when there is no number of the
// catalogue there.
std::optional<std::size_t> PictureNumber(std::string_view text) {
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size() || number >= kPictureRows) {
    return std::nullopt;
  }
  return number;
}

bool SetPath(std::optional<std::string>& target, std::string_view name, std::string_view value,
             std::string* error) {
  if (value.empty()) {
    *error = std::string(name) + " needs a non-empty value";
    return false;
  }
  target = std::string(value);
  return true;
}

constexpr std::array<std::string_view, 2> kHelpForms = {"-h", "/?"};

// clang-format off
constexpr OptionSpec kOptions[] = {
    {"--image", {}, "PATH",
     "the disc: a folder, an .iso image, a .cue sheet with its files,\n"
     "or a bare .bin dump",
     [](Options& o, std::string_view v, std::string* e) { return SetPath(o.image, "--image", v, e); }},
    {"--out", {}, "DIR", "write the pictures into DIR, made (with its parents) if missing",
     [](Options& o, std::string_view v, std::string* e) { return SetPath(o.out, "--out", v, e); }},
    {"--format", {}, "bmp|png", "BMP files (the default) or PNG files, palettes kept",
     [](Options& o, std::string_view v, std::string* e) {
       if (v != "bmp" && v != "png") {
         *e = "--format takes bmp or png";
         return false;
       }
       o.format = v == "png" ? OutputFormat::kPng : OutputFormat::kBmp;
       return true;
     }},
    {"--only", {}, "LIST", "only these pictures, by catalogue number, e.g. 0-151,155",
     [](Options& o, std::string_view v, std::string* e) {
       o.only = ParsePictureList(v, e);
       return e->empty();
     }},
    {"--check", {}, "", "check that the disc holds every byte the pictures need;\nwrite nothing",
     [](Options& o, std::string_view, std::string*) { return o.check = true; }},
    {"--list", {}, "", "list the pictures: number, file, size, kind, source ranges",
     [](Options& o, std::string_view, std::string*) { return o.list = true; }},
    {"--keep-going", {}, "", "go on after a picture fails; end with a summary",
     [](Options& o, std::string_view, std::string*) { return o.keepGoing = true; }},
    {"--quiet", {}, "", "print only failures and the summary",
     [](Options& o, std::string_view, std::string*) { return o.quiet = true; }},
    {"--version", {}, "", "print the version",
     [](Options& o, std::string_view, std::string*) { return o.version = true; }},
    {"--help", kHelpForms, "", "print this help",
     [](Options& o, std::string_view, std::string*) { return o.help = true; }},
};
// clang-format on

const OptionSpec* Find(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (option.name == name || std::find(option.otherForms.begin(), option.otherForms.end(),
                                         name) != option.otherForms.end()) {
      return &option;
    }
  }
  return nullptr;
}

bool IsOption(std::string_view argument) {
  return argument.starts_with("--") || Find(argument) != nullptr;
}

// "-image", "-x": meant as an option (it is no drive, folder or image a
// user would give beside options); "-" alone is left to the drive checks.
bool LooksLikeOption(std::string_view argument) {
  return argument.size() > 1 && argument[0] == '-';
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
    error.append(IsDriveLetter(drives[0]) ? "the drive letter \"" : "\"").append(Shown(drives[0]));
    error.append("\" and --image ").append(Shown(*image));
  } else if (drives.size() > 1) {
    error.append("the drive is given twice: \"").append(Shown(drives[0]));
    error.append("\" and \"").append(Shown(drives[1])).append("\"");
  } else if (drives.size() == 1 && !IsDriveLetter(drives[0])) {
    error.append("\"").append(Shown(drives[0]));
    error.append("\" is no drive letter; give a disc image or folder with --image");
  }
  return error;
}

// Takes the option at arguments[*i] (and its value); false with the error.
bool TakeOption(const std::vector<std::string>& arguments, std::size_t* i,
                std::vector<const OptionSpec*>* given, Options& options, std::string* error) {
  const std::string& argument = arguments[*i];
  const std::size_t equals = argument.find('=');
  const std::string_view name = std::string_view(argument).substr(0, equals);
  const OptionSpec* option = Find(name);
  if (option == nullptr) {
    *error = "unknown option " + Shown(name);
    return false;
  }
  std::string_view value;
  if (equals != std::string::npos) {
    if (option->value.empty()) {
      *error = std::string(name) + " takes no value";
      return false;
    }
    value = std::string_view(argument).substr(equals + 1);
  } else if (!option->value.empty()) {
    if (*i + 1 == arguments.size()) {
      *error = std::string(name) + " needs a value";
      return false;
    }
    if (IsOption(arguments[*i + 1])) {
      *error = std::string(name) + " needs a value (\"" + Shown(arguments[*i + 1]) +
               "\" is an option; " + std::string(name) + "=VALUE gives one that looks like it)";
      return false;
    }
    value = arguments[++*i];
  }
  // An option with a value says one thing once; a switch may be repeated.
  if (!option->value.empty() && std::find(given->begin(), given->end(), option) != given->end()) {
    *error = std::string(option->name) + " is given twice";
    return false;
  }
  given->push_back(option);
  return option->apply(options, value, error);
}

}  // namespace

std::span<const OptionSpec> OptionTable() {
  return kOptions;
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
      *error = "--only: \"" + Shown(item) + "\" is no picture number (0 to " +
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
  std::vector<const OptionSpec*> given;
  std::vector<std::string_view> drives;
  // The first argument that looks like an option but is none: unknown once
  // the line has options (without options it is the classic run's drive).
  std::optional<std::string_view> notAnOption;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const bool isOption = IsOption(argument);
    if (isOption) {
      line.hasOptions = true;
    } else if (!argument.empty()) {
      options.drive = options.drive.value_or(argument[0]);
      drives.push_back(argument);
      if (LooksLikeOption(argument) && !notAnOption) {
        notAnOption = argument.substr(0, argument.find('='));
      }
    }
    if (line.hasOptions && notAnOption) {
      line.error = "unknown option " + Shown(*notAnOption);
      return line;
    }
    if (isOption && !TakeOption(arguments, &i, &given, options, &line.error)) {
      return line;
    }
  }
  if (std::find(given.begin(), given.end(), Find("--only")) == given.end()) {
    options.only.set();
  }
  if (line.hasOptions) {
    line.error = DriveArgumentError(drives, options.image);
  }
  if (line.error.empty() && options.check && options.list) {
    line.error = "--check and --list cannot go together";
  }
  return line;
}

std::string HelpText() {
  std::string text =
      "usage: tvrcgcv [options] [drive letter]\r\n"
      "Writes the 161 pictures of the CD-ROM as tvrcg000.bmp ... tvrcg160.bmp.\r\n"
      "The disc is a drive letter (on Linux drive X is the folder or disc image\r\n"
      "$TVRCGCV_DRIVE_ROOT/x, /mnt/x by default) or --image. Without options the\r\n"
      "program runs as it always has.\r\n"
      "\r\n";
  constexpr std::size_t kColumn = 20;
  for (const OptionSpec& option : kOptions) {
    // "-h, --help, /?": the short forms first, the name, then the others.
    std::string forms;
    for (const std::string_view form : option.otherForms) {
      forms.append(form.starts_with("-") ? std::string(form) + ", " : "");
    }
    forms.append(option.name);
    for (const std::string_view form : option.otherForms) {
      forms.append(form.starts_with("-") ? "" : ", " + std::string(form));
    }
    if (!option.value.empty()) {
      forms.append(" ").append(option.value);
    }
    text.append("  ").append(forms).append(std::max<std::size_t>(kColumn - 2 - forms.size(), 2),
                                           ' ');
    for (const char c : option.help) {
      text.append(c == '\n' ? "\r\n" + std::string(kColumn, ' ') : std::string(1, c));
    }
    text.append("\r\n");
  }
  text.append(
      "\r\n"
      "Exit status with options: 0 all done; 1 standard output cannot be written;\r\n"
      "2 bad command line; 3 some pictures failed or are incomplete; 4 the disc or\r\n"
      "image cannot be read, or --check found it incomplete; 5 an output cannot be\r\n"
      "written.\r\n");
  return text;
}

}  // namespace app
