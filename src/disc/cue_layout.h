// Where a cue sheet's data track lies: in which file, at which bytes, and
// at which sector of the disc.
//
// A sheet lays its files end to end on the disc, in the order of its FILE
// lines; an INDEX is a position in its file, in frames (one sector each) of
// the track it belongs to, from one index to the next. PREGAP and POSTGAP
// add sectors that are in no file. Sector 0 of the disc is where track 1's
// data begins (INDEX 01 of the first track; what comes before it is the
// first track's pregap), so a data track that is the first track begins at
// sector 0, and one that follows audio tracks at the sectors of those
// tracks, gaps included. Only the files before the data track need a known
// length for that: binary files, whose sectors are counted from their size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cue_sheet.h"
#include "raw_sectors.h"

namespace cgvw::disc {

// The sector format of a data track's mode; nullopt for audio.
std::optional<SectorFormat> FormatOf(TrackMode mode);

struct DataTrack {
  std::size_t track;  // in CueSheet::tracks: the first track that is not audio
  std::size_t file;   // in CueSheet::files: where its INDEX 01 is
  SectorFormat format;
  std::uint64_t firstByte;    // INDEX 01: the track's first sector in the file
  std::uint64_t endByte;      // where the next track begins in the file, or its end
  std::uint64_t firstSector;  // of the disc: where the track begins
};

// Finds the data track, given the size of each of the sheet's files
// (nullopt for a file that is not there). Every index in a binary file of
// known size must lie within it; the data track's file must be there and
// binary, and hold at least 17 of its sectors (an ISO 9660 file system's
// volume descriptor is in its sector 16). The error names the line at
// fault (0: the sheet as a whole).
std::optional<CueError> LocateDataTrack(const CueSheet& sheet,
                                        const std::vector<std::optional<std::uint64_t>>& sizes,
                                        DataTrack* data);

}  // namespace cgvw::disc
