// Fuzzes what the disc image reader makes of outside bytes before libcdio
// sees anything: cue sheets (any text), the data track they lead to given
// any file sizes, and the sector format of an image's first bytes. Input:
// 4 size fields (32-bit, little-endian, a file missing when its top bit is
// set), then the sheet; the whole input is also sniffed as an image's start.
// A sheet that is read must lead to a data track inside its file, of a
// data mode, or to an error naming a line of the sheet.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "cue_sheet.h"
#include "fuzz_support.h"
#include "sectors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cgvw::disc;
  fuzzing::Input input(data, size);
  std::vector<std::uint32_t> fields;
  for (int i = 0; i < 4; ++i) {
    fields.push_back(input.U32());
  }
  const std::span<const std::uint8_t> rest = input.Rest();
  const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
  const unsigned lines = static_cast<unsigned>(std::count(text.begin(), text.end(), '\n')) + 1;

  CueSheet sheet;
  const std::optional<CueError> error = ParseCueSheet(text, &sheet);
  if (error) {
    FUZZ_CHECK(error->line <= lines && !error->what.empty());
  } else {
    FUZZ_CHECK(!sheet.tracks.empty());
    std::vector<std::optional<std::uint64_t>> sizes;
    for (std::size_t i = 0; i < sheet.files.size(); ++i) {
      const std::uint32_t field = fields[i % fields.size()];
      sizes.push_back(field >> 31 ? std::nullopt
                                  : std::optional<std::uint64_t>(std::uint64_t{field} * 7));
    }
    DataTrack track{};
    const std::optional<CueError> wrong = LocateDataTrack(sheet, sizes, &track);
    if (wrong) {
      FUZZ_CHECK(wrong->line <= lines && !wrong->what.empty());
    } else {
      FUZZ_CHECK(track.track < sheet.tracks.size() && track.file < sheet.files.size());
      FUZZ_CHECK(sheet.tracks[track.track].mode != TrackMode::kAudio);
      FUZZ_CHECK(sizes[track.file] && track.firstByte < *sizes[track.file]);
      FUZZ_CHECK(track.firstByte <= track.endByte && track.endByte <= *sizes[track.file]);
    }
  }
  static_cast<void>(LooksLikeCueSheet(text));
  const std::span<const std::uint8_t> whole(data, size);
  if (const std::optional<SectorFormat> format = SniffImage(whole)) {
    FUZZ_CHECK(whole.size() >= 16u * format->bytes + format->dataOffset + 6);
  }
  for (const SectorFormat& format : {kMode1Raw, kMode2Raw, kMode2Headerless}) {
    if (whole.size() >= format.bytes) {
      static_cast<void>(CheckSector(format, whole.first(format.bytes), fields[0]));
    }
  }
  return 0;
}
