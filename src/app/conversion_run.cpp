#include "conversion_run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <string_view>

#include "bmp_writer.h"
#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "cgvw/layout.h"
#include "console_texts.h"
#include "platform/console.h"
#include "platform/handles.h"
#include "platform/output_files.h"
#include "platform/win_api.h"

namespace app {
namespace {

// Console output. Every text is written with one write, a line together
// with its line end; nothing here allocates, so running out of memory can
// never cost a console line.
class Console {
 public:
  bool Text(std::string_view text) { return platform::ConsoleWrite(text); }
  bool Line(std::string_view text) {
    char line[kLongestLine + texts::kLineEnd.size()];
    if (text.size() > kLongestLine) {
      return false;  // no text of the program is this long
    }
    std::memcpy(line, text.data(), text.size());
    std::memcpy(line + text.size(), texts::kLineEnd.data(), texts::kLineEnd.size());
    return platform::ConsoleWrite({line, text.size() + texts::kLineEnd.size()});
  }

 private:
  static constexpr std::size_t kLongestLine = 256;
};

// The first non-empty argument, or null when there is none.
const char* DriveArgument(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') {
      return argv[i];
    }
  }
  return nullptr;
}

// "tvrcg%.3d.bmp" and the progress text around it, in buffers of their own.
struct RowTexts {
  char name[32];
  char progress[64];

  explicit RowTexts(std::int32_t counter) {
    std::snprintf(name, sizeof name, "tvrcg%.3d.bmp", static_cast<int>(counter));
    std::snprintf(progress, sizeof progress, "%.*s%s%.*s",
                  static_cast<int>(texts::kCreatingPrefix.size()), texts::kCreatingPrefix.data(),
                  name, static_cast<int>(texts::kCreatingSuffix.size()),
                  texts::kCreatingSuffix.data());
  }
};

// Decodes a row's picture; running out of memory is a failed decode.
std::int32_t Decode(const TCatalogEntry& row, platform::HGLOBAL* handle) {
  const TCGVwImage* descriptor = &row.Image;
  std::uint32_t backdropFlag = 0;
  try {
    return CGVwDecode(&descriptor, &backdropFlag, handle);
  } catch (const std::bad_alloc&) {
    *handle = nullptr;
    return kCGVwNoMemory;
  }
}

enum class RowOutcome { kDone, kStopped, kConsoleFailed };

// Converts one catalogue row: progress text, decode, BMP file, "done.".
RowOutcome ConvertRow(Console& console, const TCatalogEntry& row, std::int32_t counter) {
  const RowTexts rowTexts(counter);
  if (!console.Text(rowTexts.progress)) {
    return RowOutcome::kConsoleFailed;
  }

  platform::HGLOBAL handle = nullptr;
  const std::int32_t status = Decode(row, &handle);
  if (status != kCGVwOk || handle == nullptr) {
    // After a failure the result slot is not used: there is nothing to free.
    return console.Line(texts::kDecodeFailed) ? RowOutcome::kStopped : RowOutcome::kConsoleFailed;
  }

  platform::GlobalBlock block(handle);  // unlocked and freed on every path
  const std::span<const std::uint8_t> bytes = platform::Lock(block);
  if (bytes.data() == nullptr) {
    return console.Line(texts::kLockFailed) ? RowOutcome::kStopped : RowOutcome::kConsoleFailed;
  }
  // A block too small for its header is refused by the writer.
  const cgvw::InfoHeaderFields header =
      cgvw::ReadInfoHeader(bytes).value_or(cgvw::InfoHeaderFields{});
  if (WriteBmpFile(rowTexts.name, bytes, header.bitCount, header.imageSize) !=
      BmpWriteResult::kWritten) {
    return console.Line(texts::kCreateFailed) ? RowOutcome::kStopped : RowOutcome::kConsoleFailed;
  }
  platform::GlobalUnlock(block.get());
  block.Reset();  // freed before the outcome is told
  return console.Line(texts::kDone) ? RowOutcome::kDone : RowOutcome::kConsoleFailed;
}

int ConsoleFailed() {
  platform::ErrorWrite(texts::kConsoleWriteFailed);
  return kExitConsoleFailed;
}

}  // namespace

int RunConversion(int argc, const char* const argv[]) {
  Console console;
  if (!console.Line(texts::kBanner1) || !console.Line(texts::kBanner2) ||
      !console.Line(texts::kBanner3)) {
    return ConsoleFailed();
  }
  const char* drive = DriveArgument(argc, argv);
  if (drive == nullptr) {
    return console.Line(texts::kUsage) ? kExitOk : ConsoleFailed();
  }
  SourceRoot[0] = drive[0];
  // Temporary files that an earlier run left when it was killed.
  platform::RemoveStaleTemporaries(".");

  std::int32_t counter = 0;
  for (const TCatalogEntry* row = Catalogue.data(); row->Category != nullptr; ++row) {
    switch (ConvertRow(console, *row, counter)) {
      case RowOutcome::kDone:
        break;
      case RowOutcome::kStopped:
        return kExitOk;
      case RowOutcome::kConsoleFailed:
        return ConsoleFailed();
    }
    if (counter == std::numeric_limits<std::int32_t>::max()) {
      break;
    }
    ++counter;
  }
  return console.Line(texts::kFinished) ? kExitOk : ConsoleFailed();
}

}  // namespace app
