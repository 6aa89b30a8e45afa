// Fuzzes the reader of CHD files (chd.h): the input is the whole file, its
// header, compressed map, track metadata and hunks. A file that is refused
// says why; one that is read gives a track whose first sectors are read
// (hunks decompressed through zlib, liblzma and libFLAC), or a fault that
// says why not. The seeds (corpus/fuzz_chd) are small discs written by
// chdman createcd with each of its codecs.
#include <cstdint>
#include <memory>
#include <vector>

#include "chd.h"
#include "containers.h"
#include "dumps.h"
#include "fuzz_support.h"
#include "tracks.h"

namespace {

using namespace cgvw::disc;

// A CHD names no other file.
class NoFiles final : public Neighbours {
 public:
  std::unique_ptr<ByteSource> Open(std::string_view /*name*/, std::error_code* error) override {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return nullptr;
  }
  std::optional<std::uint64_t> Size(std::string_view /*name*/, std::error_code* error) override {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return std::nullopt;
  }
  std::string PathOf(std::string_view name) const override { return std::string(name); }
  std::string GivenName() const override { return "disc.chd"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The track texts alone.
  chd::Track track;
  static_cast<void>(chd::ParseTrack({reinterpret_cast<const char*>(data), size}, &track));

  auto given = std::make_unique<MemoryBytes>(std::vector<std::uint8_t>(data, data + size), "given");
  const std::span<const std::uint8_t> head(data, std::min(size, kHeadBytes));
  if (!kChd.recognise({*given, head, "given"})) {
    return 0;
  }
  NoFiles files;
  OpenedTrack opened;
  OpenFailure failure;
  if (!kChd.open(std::move(given), files, &opened, &failure)) {
    FUZZ_CHECK(!failure.text.empty() && failure.error);
    return 0;
  }
  FUZZ_CHECK(opened.track != nullptr);
  TrackReader reader(std::move(opened.track));
  const std::uint64_t first = reader.track().first();
  FUZZ_CHECK(first <= static_cast<std::uint64_t>(kMostDiscSectors));
  std::vector<std::uint8_t> out(4 * kUserBytes);
  for (const std::uint64_t sector : {first, first + 16}) {
    ReadFault fault;
    if (!reader.ReadSectors(sector, 4, out.data(), &fault)) {
      FUZZ_CHECK(!fault.why.empty());
    }
  }
  return 0;
}
