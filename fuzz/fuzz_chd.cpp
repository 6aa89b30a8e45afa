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
#include "fuzz_layout.h"

using namespace cgvw::disc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The track texts alone.
  chd::Track track;
  static_cast<void>(chd::ParseTrack({reinterpret_cast<const char*>(data), size}, &track));

  auto given = std::make_unique<MemoryBytes>(std::vector<std::uint8_t>(data, data + size), "given");
  const std::span<const std::uint8_t> head(data, std::min(size, kHeadBytes));
  if (!kChd.recognise({*given, head, "given"})) {
    return 0;
  }
  fuzzing::NoFiles files("disc.chd");
  fuzzing::OpenAndRead(kChd, std::move(given), files, {0, 16});
  return 0;
}
