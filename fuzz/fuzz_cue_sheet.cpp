// Fuzzes what the disc library makes of a sheet's outside bytes: cue sheets
// (any text), the data track they lead to given any file sizes, and the
// layout told from an image's first bytes. Input:
// 4 size fields (32-bit, little-endian, a file missing when its top bit is
// set), then the sheet; the whole input is also sniffed as an image's start.
// A sheet that is read must lead to a data track inside its file, of a
// data mode and at least 17 sectors long, or to an error naming a line of
// the sheet.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "containers.h"
#include "cue_layout.h"
#include "cue_sheet.h"
#include "fuzz_support.h"

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
      FUZZ_CHECK((track.endByte - track.firstByte) / track.format.bytes >= 17);
    }
  }
  static_cast<void>(LooksLikeCueSheet(text));
  const std::span<const std::uint8_t> whole(data, size);
  MemoryBytes bytes(std::vector<std::uint8_t>(whole.begin(), whole.end()), "image");
  if (const Container* layout = Recognise({bytes, whole, "image"})) {
    // Images told from sector 16 need that sector; the others are told by
    // their first or last bytes.
    FUZZ_CHECK((layout != &kRawImage && layout != &kPlainImage) || whole.size() >= 16u * 2048 + 6);
  }
  return 0;
}
