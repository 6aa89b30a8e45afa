// Sector formats and the data track of a cue sheet (sectors.h).
#include "sectors.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace cgvw::disc {
namespace {

constexpr std::array<std::uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::uint32_t kVolumeDescriptorSector = 16;
constexpr std::uint32_t kSectorsBeforeZero = 150;  // 00:02:00, where sector 0 is addressed
constexpr std::uint8_t kForm2 = 0x20;              // in a Mode 2 subheader's submode

// True if the user data of sector 16 in this format starts a volume
// descriptor: a type byte of 1 (primary), 2 (supplementary) or 255
// (terminator), then "CD001".
bool HasVolumeDescriptor(std::span<const std::uint8_t> head, const SectorFormat& format) {
  const std::size_t at = std::size_t{kVolumeDescriptorSector} * format.bytes + format.dataOffset;
  if (head.size() < at + 6) {
    return false;
  }
  const std::uint8_t type = head[at];
  return (type == 1 || type == 2 || type == 255) && std::memcmp(&head[at + 1], "CD001", 5) == 0;
}

unsigned FromBcd(std::uint8_t value) {
  return (value >> 4) * 10u + (value & 0x0F);
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

std::string FormatName(const SectorFormat& format) {
  return std::string(format.mode == 2 ? "MODE2/" : "MODE1/") + std::to_string(format.bytes);
}

std::optional<SectorFormat> SniffImage(std::span<const std::uint8_t> head) {
  for (const SectorFormat& raw : {kMode1Raw, kMode2Raw}) {
    const std::size_t sector = std::size_t{kVolumeDescriptorSector} * raw.bytes;
    if (head.size() >= sector + raw.bytes &&
        CheckSector(raw, head.subspan(sector, raw.bytes), kVolumeDescriptorSector) ==
            SectorFault::kNone &&
        HasVolumeDescriptor(head, raw)) {
      return raw;
    }
  }
  if (HasVolumeDescriptor(head, kPlainSectors)) {
    return kPlainSectors;
  }
  return std::nullopt;
}

SectorFault CheckSector(const SectorFormat& format, std::span<const std::uint8_t> bytes,
                        std::uint64_t sector) {
  if (format.mode == 0) {
    return SectorFault::kNone;
  }
  std::size_t header = 0;  // where the 4-byte header is; headerless sectors have none
  if (format.bytes == 2352) {
    if (!std::equal(kSync.begin(), kSync.end(), bytes.begin())) {
      return SectorFault::kNoSync;
    }
    header = kSync.size();
    if (bytes[header + 3] != format.mode) {
      return SectorFault::kWrongMode;
    }
    const std::uint64_t address =
        (FromBcd(bytes[header]) * 60ull + FromBcd(bytes[header + 1])) * 75 +
        FromBcd(bytes[header + 2]);
    if (address != sector + kSectorsBeforeZero) {
      return SectorFault::kWrongAddress;
    }
    header += 4;
  }
  if (format.mode == 2 && (bytes[header + 2] & kForm2) != 0) {
    return SectorFault::kForm2;
  }
  return SectorFault::kNone;
}

const char* SectorFaultText(SectorFault fault) {
  switch (fault) {
    case SectorFault::kNone:
      return "good";
    case SectorFault::kNoSync:
      return "no sync pattern";
    case SectorFault::kWrongMode:
      return "a header of another mode";
    case SectorFault::kForm2:
      return "a form 2 sector, which holds no file system data";
    case SectorFault::kWrongAddress:
      return "the address of another sector in its header";
  }
  return "?";
}

std::optional<CueError> LocateDataTrack(const CueSheet& sheet,
                                        const std::vector<std::optional<std::uint64_t>>& sizes,
                                        DataTrack* data) {
  // Each index's byte position in its file: frames count sectors of the
  // mode of the track they are in, from one index to the next.
  struct Position {
    std::uint64_t byte = 0;
    std::uint32_t frame = 0;
    std::uint32_t sectorBytes = 0;
    bool started = false;
  };
  std::vector<Position> positions(sheet.files.size());
  std::optional<DataTrack> found;
  std::optional<std::uint64_t> end;  // of the data track, where a later track begins in its file
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
      const bool binary = file.type == FileType::kBinary || file.type == FileType::kMotorola;
      const std::optional<std::uint64_t>& size = sizes[index.file];
      // A track's data begins inside its file; other indexes may stand at
      // its very end.
      if (binary && size && (index.number == 1 ? at.byte >= *size : at.byte > *size)) {
        return CueError{index.line, "INDEX " + std::to_string(index.number) +
                                        " lies beyond the end of \"" + file.name + "\" (" +
                                        std::to_string(*size) + " bytes)"};
      }
      if (found && t > found->track && !end && index.file == found->file) {
        end = at.byte;
      }
      if (!found && track.mode != TrackMode::kAudio && index.number == 1) {
        if (!binary) {
          return CueError{track.line, "a data track in the audio file \"" + file.name + "\""};
        }
        if (!size) {
          return CueError{track.line, "the data track's file \"" + file.name + "\" is missing"};
        }
        if (t != 0) {
          return CueError{track.line,
                          "the data track comes after audio tracks; only a disc whose first "
                          "track holds the data can be read"};
        }
        found = DataTrack{t, index.file, *FormatOf(track.mode), at.byte, 0};
      }
    }
  }
  if (!found) {
    return CueError{0, "no data track (every TRACK is AUDIO)"};
  }
  found->endByte = end.value_or(*sizes[found->file]);
  *data = *found;
  return std::nullopt;
}

}  // namespace cgvw::disc
