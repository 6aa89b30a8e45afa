// Where a sheet's data track lies (cue_layout.h).
#include "cue_layout.h"

#include "messages.h"

namespace cgvw::disc {
namespace {

// The sectors before which no ISO 9660 file system can be whole: its first
// volume descriptor is in sector 16.
constexpr std::uint64_t kFewestSectors = 17;

// Where the last index seen in a file lies, and the size of the sectors of
// its track.
struct Position {
  std::uint64_t byte = 0;
  std::uint32_t frame = 0;
  std::uint32_t sectorBytes = 0;
  bool started = false;
};

bool IsBinary(const CueFile& file) {
  return file.type == FileType::kBinary || file.type == FileType::kMotorola;
}

std::string TrackName(const CueTrack& track) {
  return "TRACK " + std::to_string(track.number) + " (line " + std::to_string(track.line) + ")";
}

// The data track's first sector on the disc: the sectors of the files
// between the first track's INDEX 01 and its own, and the gaps of the
// tracks up to it.
std::optional<CueError> PlaceOnDisc(const CueSheet& sheet,
                                    const std::vector<std::optional<std::uint64_t>>& sizes,
                                    const std::vector<Position>& ends, DataTrack* data) {
  const CueTrack& track = sheet.tracks[data->track];
  const CueIndex& start = sheet.tracks.front().Index1();
  const CueIndex& own = track.Index1();
  std::uint64_t sector = own.frame;
  for (std::size_t file = start.file; file < own.file; ++file) {
    const CueFile& named = sheet.files[file];
    if (!IsBinary(named) || !sizes[file]) {
      return CueError{track.line, "the data track's place on the disc depends on the length of " +
                                      Quoted(named.name) + ", which " +
                                      (sizes[file] ? "is no binary file" : "is missing")};
    }
    const Position& end = ends[file];
    sector += end.frame + (*sizes[file] - end.byte) / end.sectorBytes;
  }
  sector -= start.frame;
  for (std::size_t t = 0; t < data->track; ++t) {
    sector += sheet.tracks[t + 1].pregap + sheet.tracks[t].postgap;
  }
  data->firstSector = sector;
  return std::nullopt;
}

// Whether the data track holds enough sectors to hold a file system.
std::optional<CueError> CheckLength(const CueSheet& sheet, const DataTrack& data,
                                    std::optional<std::size_t> next) {
  const CueTrack& track = sheet.tracks[data.track];
  const std::uint64_t sectors = (data.endByte - data.firstByte) / data.format.bytes;
  if (sectors == 0 && next) {
    return CueError{track.line, TrackName(track) + " holds no sectors: " +
                                    TrackName(sheet.tracks[*next]) + " begins where it does"};
  }
  if (sectors < kFewestSectors) {
    return CueError{track.line, TrackName(track) + " holds " +
                                    Counted(sectors, "sector", "sectors") +
                                    ", too few for an ISO 9660 file system"};
  }
  return std::nullopt;
}

}  // namespace

std::optional<SectorFormat> FormatOf(TrackMode mode) {
  switch (mode) {
    case TrackMode::kAudio:
      return std::nullopt;
    case TrackMode::kMode1_2048:
      return kPlainSectors;
    case TrackMode::kMode1_2352:
      return kMode1Raw;
    case TrackMode::kMode2_2336:
      return kMode2Headerless;
    case TrackMode::kMode2_2352:
      return kMode2Raw;
  }
  return std::nullopt;
}

std::optional<CueError> LocateDataTrack(const CueSheet& sheet,
                                        const std::vector<std::optional<std::uint64_t>>& sizes,
                                        DataTrack* data) {
  // Each index's byte position in its file: frames count sectors of the
  // mode of the track they are in, from one index to the next.
  std::vector<Position> positions(sheet.files.size());
  std::optional<DataTrack> found;
  std::optional<std::size_t> next;  // the track that ends the data track in its file
  for (std::size_t t = 0; t < sheet.tracks.size(); ++t) {
    const CueTrack& track = sheet.tracks[t];
    for (const CueIndex& index : track.indexes) {
      Position& at = positions[index.file];
      at.byte = at.started ? at.byte + std::uint64_t{index.frame - at.frame} * at.sectorBytes
                           : std::uint64_t{index.frame} * BytesPerSector(track.mode);
      at.frame = index.frame;
      at.sectorBytes = BytesPerSector(track.mode);
      at.started = true;
      const CueFile& file = sheet.files[index.file];
      const std::optional<std::uint64_t>& size = sizes[index.file];
      // A track's data begins inside its file; other indexes may stand at
      // its very end.
      if (IsBinary(file) && size && (index.number == 1 ? at.byte >= *size : at.byte > *size)) {
        return CueError{index.line, "INDEX " + std::to_string(index.number) +
                                        " lies beyond the end of " + Quoted(file.name) + " (" +
                                        Counted(*size, "byte", "bytes") + ")"};
      }
      if (found && t > found->track && !next && index.file == found->file) {
        next = t;
        found->endByte = at.byte;
      }
      if (!found && track.mode != TrackMode::kAudio && index.number == 1) {
        if (!IsBinary(file)) {
          return CueError{track.line, "a data track in the audio file " + Quoted(file.name)};
        }
        if (!size) {
          return CueError{track.line, "the data track's file " + Quoted(file.name) + " is missing"};
        }
        found = DataTrack{t, index.file, *FormatOf(track.mode), at.byte, *size, 0};
      }
    }
  }
  if (!found) {
    return CueError{0, "no data track (every TRACK is AUDIO)"};
  }
  if (auto wrong = CheckLength(sheet, *found, next)) {
    return wrong;
  }
  if (auto wrong = PlaceOnDisc(sheet, sizes, positions, &*found)) {
    return wrong;
  }
  *data = *found;
  return std::nullopt;
}

}  // namespace cgvw::disc
