#include "conversion_run.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "bmp_writer.h"
#include "catalog/catalogue.h"
#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/dib_layout.h"
#include "console_texts.h"
#include "platform/console.h"
#include "platform/win_api.h"

namespace app {
namespace {

// Console output that remembers whether every write got through.
class Console {
 public:
  bool Text(std::string_view text) { return platform::ConsoleWrite(text); }
  bool Line(std::string_view text) {
    std::string line(text);
    line += texts::kLineEnd;
    return platform::ConsoleWrite(line);
  }
};

// The decoded block of the current row: unlocked and freed when the row is
// over, on every path.
class OutputBlock {
 public:
  explicit OutputBlock(platform::HGLOBAL handle) : handle_(handle) {}
  ~OutputBlock() { Release(); }
  OutputBlock(const OutputBlock&) = delete;
  OutputBlock& operator=(const OutputBlock&) = delete;

  std::span<const std::uint8_t> Lock() {
    bytes_ = static_cast<const std::uint8_t*>(platform::GlobalLock(handle_));
    return bytes_ == nullptr ? std::span<const std::uint8_t>{}
                             : std::span{bytes_, platform::GlobalSize(handle_)};
  }
  void Release() {
    if (handle_ == nullptr) {
      return;
    }
    if (bytes_ != nullptr) {
      platform::GlobalUnlock(handle_);
    }
    platform::GlobalFree(handle_);
    handle_ = nullptr;
    bytes_ = nullptr;
  }

 private:
  platform::HGLOBAL handle_;
  const std::uint8_t* bytes_ = nullptr;
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

std::string OutputName(std::int32_t counter) {
  char name[32];
  std::snprintf(name, sizeof name, "tvrcg%.3d.bmp", static_cast<int>(counter));
  return name;
}

enum class RowOutcome { kDone, kStopped, kConsoleFailed };

// Converts one catalogue row: progress text, decode, BMP file, "done.".
RowOutcome ConvertRow(Console& console, const TCatalogEntry& row, std::int32_t counter) {
  const std::string name = OutputName(counter);
  std::string progress(texts::kCreatingPrefix);
  progress += name;
  progress += texts::kCreatingSuffix;
  if (!console.Text(progress)) {
    return RowOutcome::kConsoleFailed;
  }

  const TCGVwImage* descriptor = &row.Image;
  std::uint32_t backdropFlag = 0;
  platform::HGLOBAL handle = nullptr;
  const std::int32_t status = CGVwDecode(&descriptor, &backdropFlag, &handle);
  if (status != kCGVwOk || handle == nullptr) {
    // After a failure the result slot is not used: there is nothing to free.
    return console.Line(texts::kDecodeFailed) ? RowOutcome::kStopped : RowOutcome::kConsoleFailed;
  }

  OutputBlock block(handle);
  const std::span<const std::uint8_t> bytes = block.Lock();
  if (bytes.empty()) {
    return console.Line(texts::kLockFailed) ? RowOutcome::kStopped : RowOutcome::kConsoleFailed;
  }
  std::uint32_t imageSize = 0;
  std::uint16_t bitCount = 0;  // a block too small for its header is refused by the writer
  if (bytes.size() >= cgvw::kInfoHeaderSize) {
    imageSize = cgvw::LoadLE32(bytes.data() + 20);
    bitCount = cgvw::LoadLE16(bytes.data() + 14);
  }
  if (WriteBmpFile(name.c_str(), bytes, bitCount, imageSize) != BmpWriteResult::kWritten) {
    return console.Line(texts::kCreateFailed) ? RowOutcome::kStopped : RowOutcome::kConsoleFailed;
  }
  block.Release();
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
