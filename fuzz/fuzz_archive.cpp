// Fuzzes the archive layout: the input is a zip or 7z archive, read through
// libarchive over the program's own bytes. An archive that is refused says
// why; one that holds a disc gives a track whose sectors are read
// (forward, then back, which begins the member again), or a fault that
// says why not.
#include <cstdint>
#include <memory>
#include <vector>

#include "archives.h"
#include "containers.h"
#include "fuzz_support.h"
#include "tracks.h"

namespace {

using namespace cgvw::disc;

// The archive's neighbours are never opened: every file is inside it.
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
  std::string GivenName() const override { return "disc.zip"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto given =
      std::make_unique<MemoryBytes>(std::vector<std::uint8_t>(data, data + size), "disc.zip");
  const std::span<const std::uint8_t> head(data, std::min(size, kHeadBytes));
  static_cast<void>(kArchive.recognise({*given, head, "disc.zip"}));
  NoFiles files;
  OpenedTrack opened;
  OpenFailure failure;
  if (!kArchive.open(std::move(given), files, &opened, &failure)) {
    FUZZ_CHECK(!failure.text.empty() && failure.error);
    return 0;
  }
  FUZZ_CHECK(opened.track != nullptr);
  TrackReader reader(std::move(opened.track));
  const std::uint64_t first = reader.track().first();
  std::vector<std::uint8_t> out(4 * kUserBytes);
  for (const std::uint64_t sector : {first + 16, first + 40, first}) {
    ReadFault fault;
    if (!reader.ReadSectors(sector, 4, out.data(), &fault)) {
      FUZZ_CHECK(!fault.why.empty());
    }
  }
  return 0;
}
