#include "run.h"

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "cgvw/cgvw.h"
#include "cgvw/disc_image.h"
#include "console.h"
#include "console_texts.h"
#include "decoders.h"
#include "disc.h"
#include "encoders.h"
#include "exit_status.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "png_writer.h"

namespace app {
namespace {

// What a walk over the rows does with them.
struct RunPlan {
  std::bitset<kPictureRows> rows;
  OutputFormat format = OutputFormat::kBmp;
  std::optional<std::string> out;  // the folder of the files; none: the current one
  bool keepGoing = false;
  bool classic = false;  // the classic texts only: no standard error lines, no summary
};

struct Tally {
  std::size_t asked = 0;  // the pictures of the command line, tried or not
  std::size_t tried = 0;
  std::size_t written = 0;
  std::size_t failures = 0;
  std::vector<std::string> failed;  // output names
  bool outputFailed = false;
  bool stopped = false;
};

// "160 of 161 pictures written; failed: tvrcg005.bmp.", or where a run
// without --keep-going stopped: "5 of 161 pictures written; stopped at
// tvrcg005.bmp (155 not tried)."
std::string Summary(const Tally& tally) {
  std::string text =
      std::to_string(tally.written) + " of " + std::to_string(tally.asked) + " pictures written";
  for (std::size_t i = 0; i < tally.failed.size(); ++i) {
    text += (i == 0 ? (tally.stopped ? "; stopped at " : "; failed: ") : ", ") + tally.failed[i];
  }
  if (tally.stopped && tally.tried < tally.asked) {
    text += " (" + std::to_string(tally.asked - tally.tried) + " not tried)";
  }
  return text + ".";
}

// `name` in the output folder, as the user gave the folder.
std::string OutputPath(const RunPlan& plan, std::string_view name) {
  std::string path = plan.out.value_or("");
  if (!path.empty() && path.back() != '/' && path.back() != kPathSeparator) {
    path += kPathSeparator;
  }
  return path.append(name);
}

// Decodes one row and writes its file; the text that completes its
// progress line.
std::string_view ConvertRow(const RunPlan& plan, std::size_t row, std::string_view name,
                            RowDecoder& decoder, Encoder& encoder, Tally* tally) {
  DecodedRow decoded;
  decoder.Decode(row, &decoded);
  if (decoded.failure == RowFailure::kLock) {
    return texts::kLockFailed;
  }
  if (decoded.failure != RowFailure::kNone) {
    if (!plan.classic) {
      Console::Complain(std::string(name).append(": ").append(decoded.why));
    }
    // Under --keep-going the run is not broken off: the row just failed.
    return plan.keepGoing ? texts::kLockFailed : texts::kDecodeFailed;
  }
  const std::string path = OutputPath(plan, name);
  std::string why;
  const WriteOutcome written = decoded.picture
                                   ? WritePictureFile(path, *decoded.picture, encoder, &why)
                                   : WriteOutcome::kRefused;
  if (written != WriteOutcome::kWritten) {
    tally->outputFailed = true;
    if (!plan.classic) {
      Console::Complain(Shown(path) + ": " + why);
    }
    return texts::kCreateFailed;
  }
  decoded.Release();  // given back before the outcome is told
  return texts::kDone;
}

// The walk: a progress text, the row's conversion and its outcome, row by
// row, then "終了。" unless the walk stopped.
int ConvertRows(const RunPlan& plan, RowDecoder& decoder, Encoder& encoder, const Console& console,
                Tally* tally) {
  tally->asked = plan.rows.count();
  for (std::size_t row = 0; row < kPictureRows && !tally->stopped; ++row) {
    if (!plan.rows.test(row)) {
      continue;
    }
    ++tally->tried;
    const OutputName name(row, plan.format);
    char progress[64];
    std::snprintf(progress, sizeof progress, "%.*s%s%.*s",
                  static_cast<int>(texts::kCreatingPrefix.size()), texts::kCreatingPrefix.data(),
                  name.text, static_cast<int>(texts::kCreatingSuffix.size()),
                  texts::kCreatingSuffix.data());
    if (!console.Text(progress)) {
      return Console::Failed();
    }
    std::string_view outcome = texts::kDecodeFailed;
    try {
      outcome = ConvertRow(plan, row, name.view(), decoder, encoder, tally);
    } catch (const std::bad_alloc&) {
      // Set again here: in the optimised build `outcome` was found holding
      // the text of success after ConvertRow, inlined, threw before its
      // file was written, and the run counted a picture it had not written.
      outcome = texts::kDecodeFailed;
      if (!plan.classic) {
        Console::Complain(std::string(name.view()) + ": out of memory");
      }
    }
    if (outcome == texts::kDone) {
      ++tally->written;
    } else {
      tally->stopped = !plan.keepGoing;
      ++tally->failures;
      if (!plan.classic) {  // for the summary, which the classic run has not
        tally->failed.emplace_back(name.view());
      }
    }
    if (!console.Line(outcome)) {
      return Console::Failed();
    }
  }
  if (!tally->stopped && !console.Line(texts::kFinished)) {
    return Console::Failed();
  }
  return kExitOk;
}

bool Banner(const Console& console) {
  return console.Line(texts::kBanner1) && console.Line(texts::kBanner2) &&
         console.Line(texts::kBanner3);
}

// The first non-empty argument, or null when there is none.
const char* DriveArgument(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') {
      return argv[i];
    }
  }
  return nullptr;
}

// Converts the pictures of a run with options from its disc.
int Convert(const Options& options, const Disc& disc) {
  std::unique_ptr<Encoder> encoder;
  if (options.format == OutputFormat::kPng) {
    encoder = std::make_unique<PngEncoder>();
  } else {
    encoder = std::make_unique<BmpEncoder>();
  }
  // No folder is made for files that cannot be written.
  std::string why;
  if (options.format == OutputFormat::kPng && !PngAvailable(&why)) {
    Console::Complain(why);
    return kExitOutputFailed;
  }
  if (options.out) {
    if (const std::error_code error = platform::CreateFolders(*options.out)) {
      Console::Complain(Shown(*options.out) + ": " + error.message());
      return kExitOutputFailed;
    }
  }
  platform::RemoveStaleTemporaries(options.out.value_or(".").c_str());
  const Console console(options.quiet);
  if (!Banner(console)) {
    return Console::Failed();
  }
  const RunPlan plan{options.only, options.format, options.out, options.keepGoing, false};
  TypedDecoder decoder(disc);
  Tally tally;
  if (const int status = ConvertRows(plan, decoder, *encoder, console, &tally); status != kExitOk) {
    return status;
  }
  if ((options.keepGoing || options.quiet) && !console.Always(Summary(tally))) {
    return Console::Failed();
  }
  return tally.outputFailed    ? kExitOutputFailed
         : tally.failures == 0 ? kExitOk
                               : kExitPicturesFailed;
}

int Version() {
  std::string version = "tvrcgcv " TVRCGCV_VERSION ", disc images: yes";
  std::string why;
  version += PngAvailable(&why) ? ", PNG: yes" : ", PNG: no";
  version += cgvw::ReadsChdFiles() ? ", CHD: yes" : ", CHD: no";
  version += cgvw::ReadsArchives() ? ", zip/7z: yes" : ", zip/7z: no";
  return Console().Always(version) ? kExitOk : Console::Failed();
}

}  // namespace

int RunConversion(int argc, const char* const argv[]) {
  const Console console;
  if (!Banner(console)) {
    return Console::Failed();
  }
  const char* drive = DriveArgument(argc, argv);
  if (drive == nullptr) {
    return console.Line(texts::kUsage) ? kExitOk : Console::Failed();
  }
  SourceRoot[0] = drive[0];
  // Temporary files that an earlier run left when it was killed.
  platform::RemoveStaleTemporaries(".");
  RunPlan plan;
  plan.rows.set();
  plan.classic = true;
  ClassicDecoder decoder;
  BmpEncoder encoder;
  Tally tally;
  return ConvertRows(plan, decoder, encoder, console, &tally);
}

namespace {

int RunOptions(const CommandLine& line, const std::string& programName) {
  if (!line.error.empty()) {
    Console::Complain(line.error + " (" + programName + " --help tells more)");
    return kExitUsage;
  }
  const Options& options = line.options;
  if (options.help) {
    return Console().Text(HelpText()) ? kExitOk : Console::Failed();
  }
  if (options.version) {
    return Version();
  }
  if (options.list) {
    return ListPictures(options, Console());
  }
  Disc disc;
  if (const int status = OpenDisc(options, &disc); status != kExitOk) {
    return status;
  }
  return options.check ? CheckDisc(options, disc, Console(options.quiet)) : Convert(options, disc);
}

}  // namespace

int RunWithOptions(const CommandLine& line, const std::string& programName) {
  // Memory that runs out where no picture is under way (opening the disc,
  // checking or listing it) ends the run, saying so.
  try {
    return RunOptions(line, programName);
  } catch (const std::bad_alloc&) {
    Console::Complain("out of memory");
    return kExitUnexpectedError;
  }
}

}  // namespace app
