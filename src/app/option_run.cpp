#include "option_run.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "console_texts.h"
#include "platform/console.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "png_writer.h"
#if TVRCGCV_WITH_DISC_IMAGES
#include "cgvw/disc_image.h"
#endif

namespace app {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

constexpr std::string_view kHelp =
    "usage: tvrcgcv [options] [drive letter]\r\n"
    "Writes the 161 pictures of the CD-ROM as tvrcg000.bmp ... tvrcg160.bmp.\r\n"
    "The disc is a drive letter (on Linux drive X is the folder or disc image\r\n"
    "$TVRCGCV_DRIVE_ROOT/x, /mnt/x by default) or --image. Without options the\r\n"
    "program runs as it always has.\r\n"
    "\r\n"
    "  --image PATH      the disc: a folder, an .iso image, or a .cue sheet with its .bin\r\n"
    "  --out DIR         write the pictures into DIR, made (with its parents) if missing\r\n"
    "  --format bmp|png  BMP files (the default) or PNG files, palettes kept\r\n"
    "  --only LIST       only these pictures, by catalogue number, e.g. 0-151,155\r\n"
    "  --check           check that the disc holds every byte the pictures need;\r\n"
    "                    write nothing\r\n"
    "  --list            list the pictures: number, file, size, kind, source ranges\r\n"
    "  --keep-going      go on after a picture fails; end with a summary\r\n"
    "  --quiet           print only failures and the summary\r\n"
    "  --version         print the version\r\n"
    "  -h, --help, /?    print this help\r\n"
    "\r\n"
    "Exit status with options: 0 all done; 1 standard output cannot be written;\r\n"
    "2 bad command line; 3 some pictures failed; 4 the disc or image cannot be\r\n"
    "read, or --check found it incomplete; 5 an output cannot be written.\r\n";

}  // namespace

std::string OutputName(std::size_t row, OutputFormat format) {
  char name[32];
  std::snprintf(name, sizeof name, "tvrcg%03d.%s", static_cast<int>(row),
                format == OutputFormat::kPng ? "png" : "bmp");
  return name;
}

namespace {

// `name` in the output folder, as the user gave the folder.
std::string OutputPath(const Options& options, const std::string& name) {
  if (!options.out) {
    return name;
  }
  std::string path = *options.out;
  if (path.back() != '/' && path.back() != kSeparator) {
    path += kSeparator;
  }
  return path + name;
}

// Opens the disc of the command line; an exit status other than kExitDone
// (with its complaint made) when there is none to read.
int OpenDisc(const Options& options, Disc* disc) {
  if (options.drive) {
    SourceRoot[0] = *options.drive;
    const std::string folder = platform::DriveFolder(*options.drive);
    disc->name = std::string{*options.drive, ':'};
    disc->separator = '\\';
    if (platform::KindOfPath(folder) == platform::PathKind::kMissing) {
      Complain("drive " + disc->name + " (" + folder + "): no disc there");
      return kExitDiscUnreadable;
    }
    disc->source = std::make_unique<cgvw::DriveSource>();
    return kExitDone;
  }
  if (!options.image) {
    Complain("no disc: give a drive letter or --image PATH (see --help)");
    return kExitUsage;
  }
  const std::string& path = *options.image;
  disc->name = path;
  if (platform::KindOfPath(path) == platform::PathKind::kFolder) {
    disc->separator = kSeparator;
    disc->source = std::make_unique<cgvw::FolderSource>(path);
    return kExitDone;
  }
#if TVRCGCV_WITH_DISC_IMAGES
  // Anything else is judged by what the image reader finds there: it opens
  // only regular files, and tells a missing path, a pipe or a device apart.
  cgvw::ImageProblem problem;
  auto image = cgvw::DiscImageSource::Open(path, &problem);
  if (image) {
    disc->image = image->get();
    disc->source = std::move(*image);
    return kExitDone;
  }
  Complain(!problem.text.empty() ? problem.text : path + ": " + cgvw::StatusText(image.status()));
#else
  if (platform::KindOfPath(path) == platform::PathKind::kMissing) {
    Complain(path + ": " + std::make_error_code(std::errc::no_such_file_or_directory).message());
    return kExitDiscUnreadable;
  }
  Complain(path +
           ": this build reads no disc images (it was built without libcdio); "
           "give the folder of the disc's files");
#endif
  return kExitDiscUnreadable;
}

}  // namespace

std::string Disc::ReadFailure(std::string_view file, const cgvw::ReadResult& read) const {
#if TVRCGCV_WITH_DISC_IMAGES
  if (image != nullptr && read.status == cgvw::Status::ReadFailed) {
    if (std::string damage = image->Damage(file); !damage.empty()) {
      return damage;
    }
  }
#endif
  return read.error ? read.error.message() : cgvw::StatusText(read.status);
}

namespace {

// Why a picture could not be decoded: the source file and the system's
// reason where there is one.
std::string DecodeFailure(cgvw::Status status, const cgvw::Problem& problem, const Disc& disc) {
  if (problem.file.empty()) {
    return cgvw::StatusText(status);
  }
  return disc.FileName(problem.file.c_str()) + ": " +
         disc.ReadFailure(problem.file, {status, 0, problem.error});
}

// Writes the picture's file; false with `why` set if it could not be.
bool WritePicture(const cgvw::Picture& picture, const std::string& path, OutputFormat format,
                  std::string* why) {
  std::vector<std::uint8_t> png;
  if (format == OutputFormat::kPng && !EncodePng(picture, &png, why)) {
    return false;
  }
  const auto header = picture.BmpFileHeader();
  std::error_code error;
  platform::OutputFile file;
  const bool written = file.Create(path, &error) &&
                       (format == OutputFormat::kPng
                            ? file.Write(png, &error)
                            : file.Write(header, &error) && file.Write(picture.dib(), &error)) &&
                       file.Commit(&error);
  if (!written) {
    *why = error.message();
  }
  return written;
}

struct Tally {
  std::size_t asked = 0;  // the pictures of the command line, tried or not
  std::size_t tried = 0;
  std::size_t written = 0;
  std::vector<std::string> failed;  // output names
  bool outputFailed = false;
};

// "160 of 161 pictures written; failed: tvrcg005.bmp.", or where a run
// without --keep-going stopped: "5 of 161 pictures written; stopped at
// tvrcg005.bmp (155 not tried)."
std::string Summary(const Tally& tally, bool stopped) {
  std::string text =
      std::to_string(tally.written) + " of " + std::to_string(tally.asked) + " pictures written";
  if (!tally.failed.empty()) {
    text += stopped ? "; stopped at" : "; failed:";
    for (std::size_t i = 0; i < tally.failed.size(); ++i) {
      text += (i == 0 ? " " : ", ") + tally.failed[i];
    }
  }
  if (stopped && tally.tried < tally.asked) {
    text += " (" + std::to_string(tally.asked - tally.tried) + " not tried)";
  }
  return text + ".";
}

int Convert(const Options& options, const Disc& disc) {
  // No folder is made for files that cannot be written.
  std::string why;
  if (options.format == OutputFormat::kPng && !PngAvailable(&why)) {
    Complain(why);
    return kExitOutputFailed;
  }
  if (options.out) {
    if (const std::error_code error = platform::CreateFolders(*options.out)) {
      Complain(*options.out + ": " + error.message());
      return kExitOutputFailed;
    }
  }
  platform::RemoveStaleTemporaries(options.out.value_or(".").c_str());
  const bool talk = !options.quiet;
  if (talk && !(OutputLine(texts::kBanner1) && OutputLine(texts::kBanner2) &&
                OutputLine(texts::kBanner3))) {
    return kExitNoOutput;
  }
  Tally tally;
  tally.asked = options.only.count();
  bool stopped = false;
  for (std::size_t row = 0; row < kPictureRows && !stopped; ++row) {
    if (!options.only.test(row)) {
      continue;
    }
    ++tally.tried;
    const std::string name = OutputName(row, options.format);
    const std::string path = OutputPath(options, name);
    // Standard output keeps the program's texts (code page 932): the line
    // names the file, the folder was given on the command line.
    if (talk && !platform::ConsoleWrite(std::string(texts::kCreatingPrefix) + name +
                                        std::string(texts::kCreatingSuffix))) {
      return kExitNoOutput;
    }
    cgvw::Problem problem;
    const cgvw::Result<cgvw::Picture> picture =
        cgvw::Decode(Catalogue[row].Image, *disc.source, {}, &problem);
    std::string_view outcome = texts::kDone;
    if (!picture) {
      // Under --keep-going the run is not broken off: the row just failed.
      outcome = options.keepGoing ? texts::kLockFailed : texts::kDecodeFailed;
      Complain(name + ": " + DecodeFailure(picture.status(), problem, disc));
    } else if (!WritePicture(*picture, path, options.format, &why)) {
      outcome = texts::kCreateFailed;
      tally.outputFailed = true;
      Complain(path + ": " + why);
    }
    if (outcome == texts::kDone) {
      ++tally.written;
    } else {
      tally.failed.push_back(name);
      stopped = !options.keepGoing;
    }
    if (talk && !OutputLine(outcome)) {
      return kExitNoOutput;
    }
  }
  if (talk && !stopped && !OutputLine(texts::kFinished)) {
    return kExitNoOutput;
  }
  if ((options.keepGoing || options.quiet) && !OutputLine(Summary(tally, stopped))) {
    return kExitNoOutput;
  }
  return tally.outputFailed     ? kExitOutputFailed
         : tally.failed.empty() ? kExitDone
                                : kExitPicturesFailed;
}

}  // namespace

bool OutputLine(std::string_view text) {
  try {
    return platform::ConsoleWrite(std::string(text) + std::string(texts::kLineEnd));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void Complain(std::string_view text) {
  try {
    platform::ErrorWrite("tvrcgcv: " + std::string(text));
  } catch (const std::bad_alloc&) {
    platform::ErrorWrite("tvrcgcv: out of memory");
  }
}

namespace {

int Run(const CommandLine& line, const std::string& programName) {
  if (!line.error.empty()) {
    Complain(line.error + " (" + programName + " --help tells more)");
    return kExitUsage;
  }
  const Options& options = line.options;
  if (options.help) {
    return platform::ConsoleWrite(kHelp) ? kExitDone : kExitNoOutput;
  }
  if (options.version) {
    std::string version = "tvrcgcv " TVRCGCV_VERSION ", disc images: ";
    version += TVRCGCV_WITH_DISC_IMAGES ? "yes" : "no (built without libcdio)";
    std::string why;
    version += PngAvailable(&why) ? ", PNG: yes" : ", PNG: no";
    return OutputLine(version) ? kExitDone : kExitNoOutput;
  }
  if (options.list) {
    return ListPictures(options);
  }
  Disc disc;
  if (const int status = OpenDisc(options, &disc); status != kExitDone) {
    return status;
  }
  return options.check ? CheckDisc(options, disc) : Convert(options, disc);
}

}  // namespace

int RunWithOptions(const CommandLine& line, const std::string& programName) {
  const int status = Run(line, programName);
  // Whatever stopped at standard output says so where it can still be read.
  if (status == kExitNoOutput) {
    platform::ErrorWrite(texts::kConsoleWriteFailed);
  }
  return status;
}

}  // namespace app
