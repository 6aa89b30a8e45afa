// Sectors of a CD data track as image files store them, and where a cue
// sheet's data track lies in its file.
//
// A data sector carries 2048 bytes of user data. Image files hold it as:
// - plain 2048-byte sectors (.iso, MODE1/2048): the user data alone;
// - MODE1/2352 (raw): a 12-byte sync pattern (00, ten FF, 00), a 4-byte
//   header (the sector's address as minutes, seconds and frames in BCD,
//   counted from 00:02:00 for sector 0, then the mode byte 1), the user data,
//   then 288 bytes of EDC and ECC;
// - MODE2/2352 (raw, CD-ROM XA): sync and header as above with mode byte 2,
//   an 8-byte subheader (4 bytes twice; bit 5 of the third byte, the
//   submode, is set in form 2 sectors), then in form 1 the user data and
//   280 bytes of EDC and ECC;
// - MODE2/2336: a MODE2/2352 sector without its sync and header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cue_sheet.h"

namespace cgvw::disc {

inline constexpr std::uint32_t kUserBytes = 2048;

struct SectorFormat {
  std::uint32_t bytes;       // a sector's size in the file
  std::uint32_t dataOffset;  // where its user data begins
  std::uint8_t mode;         // the header's mode byte; 0 for plain sectors (no header)
  bool operator==(const SectorFormat&) const = default;
};
inline constexpr SectorFormat kPlainSectors{2048, 0, 0};
inline constexpr SectorFormat kMode1Raw{2352, 16, 1};
inline constexpr SectorFormat kMode2Raw{2352, 24, 2};
inline constexpr SectorFormat kMode2Headerless{2336, 8, 2};

// The format of a data track of that mode; nullopt for audio.
std::optional<SectorFormat> FormatOf(TrackMode mode);
// As a cue sheet names the format: "MODE1/2048", "MODE2/2352", ...
std::string FormatName(const SectorFormat& format);

// The first bytes of an image that has a volume descriptor in sector 16
// (as every ISO 9660 file system has): enough for sector 16 in any format.
inline constexpr std::size_t kHeadBytes = 17 * 2352;

// The format of an image file told from its first bytes: raw Mode 1 or
// Mode 2 form 1 sectors when sector 16 has the sync pattern and a header of
// that mode, else plain sectors, in each case only if sector 16 holds an
// ISO 9660 volume descriptor ("CD001"); nullopt if none does.
std::optional<SectorFormat> SniffImage(std::span<const std::uint8_t> head);

// Whether a sector read at `sector` (counted from sector 0 of the track) is
// whole and of its format; plain sectors always are.
enum class SectorFault { kNone, kNoSync, kWrongMode, kForm2, kWrongAddress };
SectorFault CheckSector(const SectorFormat& format, std::span<const std::uint8_t> bytes,
                        std::uint64_t sector);
// "no sync pattern", "a mode 2 header in a mode 1 track", ...
const char* SectorFaultText(SectorFault fault);

// Where the data track of a sheet lies: its file and the byte range in it.
struct DataTrack {
  std::size_t track;  // in CueSheet::tracks: the first track that is not audio
  std::size_t file;   // in CueSheet::files: where its INDEX 01 is
  SectorFormat format;
  std::uint64_t firstByte;  // INDEX 01: sector 0 of the track
  std::uint64_t endByte;    // where the next track begins in the file, or its end
};

// Finds the data track, given the size of each of the sheet's files
// (nullopt for a file that is not there). Every index in a binary file of
// known size must lie within it; the data track's file must be there and
// binary. The error names the line at fault.
std::optional<CueError> LocateDataTrack(const CueSheet& sheet,
                                        const std::vector<std::optional<std::uint64_t>>& sizes,
                                        DataTrack* data);

}  // namespace cgvw::disc
