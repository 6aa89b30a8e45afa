// Fuzzes the archive layout: the input is a zip or 7z archive, read through
// libarchive over the program's own bytes. An archive that is refused says
// why; one that holds a disc gives a track whose sectors are read
// (forward, then back, which begins the member again), or a fault that
// says why not.
#include <cstdint>
#include <memory>
#include <vector>

#include "archives.h"
#include "fuzz_layout.h"

using namespace cgvw::disc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto given =
      std::make_unique<MemoryBytes>(std::vector<std::uint8_t>(data, data + size), "disc.zip");
  const std::span<const std::uint8_t> head(data, std::min(size, kHeadBytes));
  static_cast<void>(kArchive.recognise({*given, head, "disc.zip"}));
  // The archive's neighbours are never opened: every file is inside it.
  fuzzing::NoFiles files("disc.zip");
  // Forward, then back, which begins the member again; a sheet inside may
  // place its track anywhere on a disc of 100 minutes.
  fuzzing::OpenAndRead(kArchive, std::move(given), files, {16, 40, 0}, false);
  return 0;
}
