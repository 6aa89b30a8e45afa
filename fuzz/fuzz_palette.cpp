// Fuzzes the palette conversion in both modes: colour words in memory (any
// count, in a buffer of exactly that many words) and palette files (any
// Depth, SwapOff, file name, offset and file contents). Every entry written
// is compared with the channel scaling done by hand; nothing is written
// past the colour count, and a refused call writes nothing at all.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "cgvw/cgvw.h"
#include "cgvw/core.h"
#include "fuzz_support.h"
#include "platform/faults.h"

namespace {

using fuzzing::Input;

constexpr std::int32_t kMaxWords = 1024;

// The RGBQUAD for a colour word stored at `word` (big-endian unless noSwap).
std::uint32_t Entry(const std::uint8_t* word, bool noSwap) {
  const unsigned w = noSwap ? (word[0] | word[1] << 8) : (word[0] << 8 | word[1]);
  const unsigned blue = ((w >> 10) & 31) * 255 / 31;
  const unsigned green = ((w >> 5) & 31) * 255 / 31;
  const unsigned red = (w & 31) * 255 / 31;
  return 0x02000000u | red << 16 | green << 8 | blue;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The palette reader obtains no pictures.
class NoStore final : public cgvw::core::Store {
 public:
  cgvw::Status Obtain(std::uint64_t, bool, cgvw::core::Block* block) noexcept override {
    *block = {};
    return cgvw::Status::NoMemory;
  }
  void Release(cgvw::core::Block* block) noexcept override { *block = {}; }
};

// A destination with room for `entries` entries and 16 guard bytes behind.
struct Destination {
  explicit Destination(std::size_t entries, std::uint8_t fill) : bytes(entries * 4 + 16, fill) {}
  bool GuardIntact(std::size_t entries, std::uint8_t fill) const {
    for (std::size_t i = entries * 4; i < bytes.size(); ++i) {
      if (bytes[i] != fill) {
        return false;
      }
    }
    return true;
  }
  std::vector<std::uint8_t> bytes;
};

void FromMemory(Input& input, std::int32_t mode, std::uint8_t fill) {
  const auto rawCount = static_cast<std::int32_t>(input.U32());
  const bool noSwap = (input.U8() & 1) != 0;
  const std::span<const std::uint8_t> available = input.Rest();
  const std::int32_t count =
      rawCount <= 0 ? rawCount
                    : std::min<std::int32_t>(rawCount % (kMaxWords + 1),
                                             static_cast<std::int32_t>(available.size() / 2));
  const std::size_t words = count > 0 ? static_cast<std::size_t>(count) : 0;
  const std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[words * 2]);
  std::copy(available.begin(), available.begin() + static_cast<std::ptrdiff_t>(words * 2),
            source.get());

  Destination dest(words, fill);
  TArgs_CGVwGetPalette00 args{dest.bytes.data(), source.get(), mode};
  const TCGVwPalInfo info{count, noSwap ? 1 : 0};
  std::int32_t result = -1;
  const std::int32_t status = CGVwGetPalette(&args, &info, &result);
  FUZZ_CHECK(status == kCGVwOk);
  FUZZ_CHECK(result == static_cast<std::int32_t>(words));
  for (std::size_t i = 0; i < words; ++i) {
    FUZZ_CHECK(Le32(dest.bytes.data() + 4 * i) == Entry(source.get() + 2 * i, noSwap));
  }
  FUZZ_CHECK(dest.GuardIntact(words, fill));
}

void FromFile(Input& input, std::uint8_t fill) {
  TCGVwImage image{};
  image.Flags = input.U32();
  image.PalFile = fuzzing::FileNameFor(input.U8());
  image.PalOffset = input.U32() % 4096;
  const std::uint8_t fault = input.U8();
  const std::span<const std::uint8_t> file = input.Rest();
  fuzzing::FuzzSource source(file, file);

  std::size_t colours = 0;
  switch (image.Flags & 0xE0) {
    case 0x00:
      colours = 16;
      break;
    case 0x20:
      colours = 128;
      break;
    case 0x40:
      colours = 256;
      break;
    default:
      break;
  }
  platform::faults::Reset();
  if (fault % 4 == 1) {
    platform::faults::FailNth(platform::faults::Point::HeapBuffer, 1);
  } else if (fault % 4 == 2) {
    source.FailNthRead(1, true);
  }
  // The palette reader of the decoders, from the file in memory.
  Destination dest(colours, fill);
  const cgvw::DecodeOptions options;
  NoStore store;
  cgvw::core::Job job{source, store, options};
  const std::int32_t status =
      static_cast<std::int32_t>(cgvw::core::ReadPalette(job, image, dest.bytes.data()));
  const std::int32_t result = status == 0 ? static_cast<std::int32_t>(colours) : 0;
  platform::faults::Reset();
  FUZZ_CHECK(fuzzing::NothingHeld());

  const bool readable =
      image.PalFile != nullptr && (std::strcmp(image.PalFile, fuzzing::kFileA) == 0 ||
                                   std::strcmp(image.PalFile, "B.BIN") == 0);
  if (colours == 0) {
    FUZZ_CHECK(status == kCGVwUnsupported);  // a depth without a palette
  } else if (image.PalFile == nullptr) {
    // No file named: the descriptor lacks a field.
    FUZZ_CHECK(status == static_cast<std::int32_t>(cgvw::Status::BadDescriptor));
  } else if (fault % 4 == 1) {
    FUZZ_CHECK(status == kCGVwNoMemory);
  } else if (!readable || fault % 4 == 2) {
    FUZZ_CHECK(status == kCGVwCannotOpen || (fault % 4 == 2 && status == -4));
  } else {
    FUZZ_CHECK(status == kCGVwOk);
  }
  if (status != kCGVwOk) {
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(dest.GuardIntact(0, fill));
    return;
  }
  FUZZ_CHECK(result == static_cast<std::int32_t>(colours));
  // Words beyond the end of the file read as 0.
  for (std::size_t i = 0; i < colours; ++i) {
    std::uint8_t word[2] = {0, 0};
    for (std::size_t b = 0; b < 2; ++b) {
      const std::size_t at = image.PalOffset + 2 * i + b;
      word[b] = at < file.size() ? file[at] : 0;
    }
    FUZZ_CHECK(Le32(dest.bytes.data() + 4 * i) == Entry(word, (image.Flags & 0x100) != 0));
  }
  FUZZ_CHECK(dest.GuardIntact(colours, fill));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const auto mode = static_cast<std::int32_t>(input.U32());
  const std::uint8_t fill = input.U8();
  if (mode == 1) {
    FromMemory(input, mode, fill);
  } else if (mode == 0) {
    FromFile(input, fill);
  } else {
    // Any other mode is refused and writes nothing.
    Destination dest(0, fill);
    TArgs_CGVwGetPalette00 args{dest.bytes.data(), nullptr, mode};
    std::int32_t result = -1;
    FUZZ_CHECK(CGVwGetPalette(&args, nullptr, &result) == kCGVwUnsupported);
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(dest.GuardIntact(0, fill));
  }
  return 0;
}
