// Nero images (dumps.h). After the sectors come chunks, each a 4-letter
// name, its size (32-bit) and that many bytes, up to "END!"; then the
// footer. All fields are big-endian. Chunks of the newer files (footer
// "NER5", offsets 64-bit) and of the older ones ("NERO", 32-bit):
//
//   CUEX / CUES  8 bytes an entry: ADR and control, track and index (BCD;
//                track 0 the lead-in, 0xAA the lead-out), 0, then the
//                sector (CUEX: signed 32-bit; CUES: 0 and BCD minutes,
//                seconds, frames from 00:00:00, sector 0 at 00:02:00)
//   DAOX / DAOI  a disc-at-once session: 22 bytes (size, catalog number,
//                0, TOC type (16-bit), first and last track), then per
//                track 42 / 30 bytes: ISRC (12), sector size (16-bit),
//                mode (8-bit, then 3 bytes), and the byte offsets of its
//                index 0, index 1 and end (64-bit / 32-bit)
//   ETN2 / ETNF  a track-at-once session: per track 32 / 20 bytes: byte
//                offset and size (64-bit / 32-bit), mode (32-bit), first
//                sector (32-bit), 0 (32-bit)
//   SINF (tracks of a session), MTYP (medium), CDTX (CD-TEXT), DINF, TOCT
//   and RELO, not needed.
//
// Modes: 0 mode 1 (2048 bytes a sector), 2 mode 2 form 1 (2048), 3 mode 2
// (2336), 5 and 6 raw (2352), 7 audio (2352), 0x0F and 0x11 raw with
// subcode (2448), 0x10 audio with subcode (2448). Of raw sectors, the
// mode is that of the track's first sector.
#include <cstring>
#include <vector>

#include "dumps.h"
#include "messages.h"

namespace cgvw::disc {
namespace {

DumpError Wrong(std::string what) {
  return {0, std::move(what)};
}

struct NeroTrack {
  unsigned number = 0;
  std::uint32_t mode = 0;
  std::uint64_t start = 0, end = 0;    // bytes of its sectors from index 1
  std::optional<std::int64_t> sector;  // its first, from a CUE chunk or its TAO entry
};

// The sector size of a mode, 0 for an unknown mode; `audio` for audio.
std::uint32_t SizeOfMode(std::uint32_t mode, bool* audio) {
  *audio = mode == 7 || mode == 0x10;
  switch (mode) {
    case 0:
    case 2:
      return 2048;
    case 3:
      return 2336;
    case 5:
    case 6:
    case 7:
      return 2352;
    case 0x0F:
    case 0x10:
    case 0x11:
      return 2448;
    default:
      return 0;
  }
}

unsigned FromBcd(std::uint8_t value) {
  return (value >> 4) * 10 + (value & 0x0F);
}

bool IsBcd(std::uint8_t value) {
  return (value >> 4) < 10 && (value & 0x0F) < 10;
}

std::string ChunkName(std::span<const std::uint8_t> tail, std::size_t at) {
  std::string name;
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = static_cast<char>(tail[at + i]);
    name += c >= ' ' && c <= '~' ? c : '?';
  }
  return name;
}

std::optional<DumpError> ReadCue(std::span<const std::uint8_t> chunk, bool wide,
                                 std::vector<std::pair<unsigned, std::int64_t>>* starts) {
  const std::string name = wide ? "CUEX" : "CUES";
  if (chunk.size() % 8 != 0) {
    return Wrong(name + " chunk of " + Counted(chunk.size(), "byte", "bytes") +
                 ", not a whole number of entries");
  }
  for (std::size_t at = 0; at < chunk.size(); at += 8) {
    if (!IsBcd(chunk[at + 1]) && chunk[at + 1] != 0xAA) {
      return Wrong(name + " entry " + std::to_string(at / 8) + ": track number " +
                   std::to_string(chunk[at + 1]) + " is no BCD");
    }
    if (!IsBcd(chunk[at + 2])) {
      return Wrong(name + " entry " + std::to_string(at / 8) + ": index " +
                   std::to_string(chunk[at + 2]) + " is no BCD");
    }
    std::int64_t sector = 0;
    if (wide) {
      sector = static_cast<std::int32_t>(BigEndian(chunk, at + 4, 4));
    } else {
      if (!IsBcd(chunk[at + 5]) || !IsBcd(chunk[at + 6]) || !IsBcd(chunk[at + 7])) {
        return Wrong(name + " entry " + std::to_string(at / 8) + ": its address is no BCD");
      }
      sector = (std::int64_t{FromBcd(chunk[at + 5])} * 60 + FromBcd(chunk[at + 6])) * 75 +
               FromBcd(chunk[at + 7]) - std::int64_t{150};
    }
    if (sector < -150 || sector > kMostDiscSectors) {
      return Wrong(name + " entry " + std::to_string(at / 8) + " places its index at sector " +
                   std::to_string(sector));
    }
    if (chunk[at + 1] != 0xAA && chunk[at + 1] != 0 && FromBcd(chunk[at + 2]) == 1) {
      starts->emplace_back(FromBcd(chunk[at + 1]), sector);
    }
  }
  return std::nullopt;
}

std::optional<DumpError> ReadDao(std::span<const std::uint8_t> chunk, bool wide,
                                 std::vector<NeroTrack>* tracks) {
  const std::string name = wide ? "DAOX" : "DAOI";
  const std::size_t each = wide ? 42 : 30;
  const std::size_t offset = wide ? 8 : 4;
  if (chunk.size() < 22) {
    return Wrong(name + " chunk of " + Counted(chunk.size(), "byte", "bytes") + ", too short");
  }
  const unsigned first = chunk[20];
  const unsigned last = chunk[21];
  if (first < 1 || last > 99 || first > last || chunk.size() != 22 + (last - first + 1) * each) {
    return Wrong(name + " chunk of " + std::to_string(chunk.size()) + " bytes for tracks " +
                 std::to_string(first) + " to " + std::to_string(last));
  }
  for (unsigned n = first; n <= last; ++n) {
    const std::size_t at = 22 + (n - first) * each;
    NeroTrack track;
    track.number = n;
    const auto size = static_cast<std::uint32_t>(BigEndian(chunk, at + 12, 2));
    track.mode = chunk[at + 14];
    const std::uint64_t index0 = BigEndian(chunk, at + 18, offset);
    track.start = BigEndian(chunk, at + 18 + offset, offset);
    track.end = BigEndian(chunk, at + 18 + 2 * offset, offset);
    bool audio = false;
    const std::uint32_t modeSize = SizeOfMode(track.mode, &audio);
    if (modeSize == 0) {
      return Wrong(name + ": track " + std::to_string(n) + " has unknown mode " +
                   std::to_string(track.mode));
    }
    if (size != modeSize) {
      return Wrong(name + ": track " + std::to_string(n) + " has sectors of " +
                   Counted(size, "byte", "bytes") + ", its mode (" + std::to_string(track.mode) +
                   ") those of " + std::to_string(modeSize));
    }
    if (index0 > track.start || track.start > track.end || (track.end - track.start) % size != 0) {
      return Wrong(name + ": track " + std::to_string(n) + " has index 0 at byte " +
                   std::to_string(index0) + ", index 1 at " + std::to_string(track.start) +
                   " and its end at " + std::to_string(track.end) +
                   ", not in order or not whole sectors");
    }
    tracks->push_back(track);
  }
  return std::nullopt;
}

std::optional<DumpError> ReadTao(std::span<const std::uint8_t> chunk, bool wide,
                                 std::vector<NeroTrack>* tracks) {
  const std::string name = wide ? "ETN2" : "ETNF";
  const std::size_t each = wide ? 32 : 20;
  const std::size_t offset = wide ? 8 : 4;
  if (chunk.empty() || chunk.size() % each != 0) {
    return Wrong(name + " chunk of " + Counted(chunk.size(), "byte", "bytes") +
                 ", not a whole number of tracks");
  }
  for (std::size_t at = 0; at < chunk.size(); at += each) {
    NeroTrack track;
    track.number = static_cast<unsigned>(tracks->size() + 1);
    track.start = BigEndian(chunk, at, offset);
    const std::uint64_t size = BigEndian(chunk, at + offset, offset);
    track.mode = static_cast<std::uint32_t>(BigEndian(chunk, at + 2 * offset, 4));
    const std::int64_t sector = BigEndian(chunk, at + 2 * offset + 4, 4);
    bool audio = false;
    const std::uint32_t sectorSize = SizeOfMode(track.mode, &audio);
    if (sectorSize == 0 || size % sectorSize != 0 || sector > kMostDiscSectors ||
        size > ~track.start) {
      return Wrong(name + ": track " + std::to_string(track.number) + " of mode " +
                   std::to_string(track.mode) + ", " + Counted(size, "byte", "bytes") +
                   " from sector " + std::to_string(sector) +
                   (sectorSize == 0 ? ": unknown mode" : ": not whole sectors on a disc"));
    }
    track.end = track.start + size;
    track.sector = sector;
    tracks->push_back(track);
  }
  return std::nullopt;
}

// The chunks from `chunksAt` up to END! (`tail` ends at the footer): the
// tracks of the DAO and TAO chunks, and where the CUE chunks say tracks
// begin.
std::optional<DumpError> ReadChunks(std::span<const std::uint8_t> tail, std::uint64_t chunksAt,
                                    bool wide, std::vector<NeroTrack>* trackList,
                                    std::vector<std::pair<unsigned, std::int64_t>>* startList) {
  const std::size_t end = tail.size();
  std::vector<NeroTrack>& tracks = *trackList;
  std::vector<std::pair<unsigned, std::int64_t>>& starts = *startList;
  bool ended = false;
  for (std::size_t at = 0; !ended;) {
    if (end - at < 8) {
      return Wrong("the chunks end at byte " + std::to_string(chunksAt + at) + " without END!");
    }
    const std::string name = ChunkName(tail, at);
    const std::uint64_t size = BigEndian(tail, at + 4, 4);
    if (size > end - at - 8) {
      return Wrong("chunk " + Quoted(name) + " at byte " + std::to_string(chunksAt + at) +
                   " runs past the footer");
    }
    const std::span<const std::uint8_t> chunk = tail.subspan(at + 8, size);
    const bool mine = wide ? (name == "CUEX" || name == "DAOX" || name == "ETN2")
                           : (name == "CUES" || name == "DAOI" || name == "ETNF");
    const bool other = wide ? (name == "CUES" || name == "DAOI" || name == "ETNF")
                            : (name == "CUEX" || name == "DAOX" || name == "ETN2");
    std::optional<DumpError> wrong;
    if (other) {
      return Wrong("chunk " + Quoted(name) + " in a file with the footer of " +
                   (wide ? "newer files (NER5)" : "older files (NERO)"));
    } else if (mine && name.substr(0, 3) == "CUE") {
      wrong = ReadCue(chunk, wide, &starts);
    } else if (mine && name.substr(0, 3) == "DAO") {
      wrong = ReadDao(chunk, wide, &tracks);
    } else if (mine) {
      wrong = ReadTao(chunk, wide, &tracks);
    } else if (name == "END!") {
      ended = true;
    } else if (name != "SINF" && name != "MTYP" && name != "CDTX" && name != "DINF" &&
               name != "TOCT" && name != "RELO") {
      return Wrong("unknown chunk " + Quoted(name) + " at byte " + std::to_string(chunksAt + at));
    }
    if (wrong) {
      return wrong;
    }
    at += 8 + size;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> NeroChunksAt(std::span<const std::uint8_t> last12) {
  if (last12.size() >= 12 && std::memcmp(&last12[last12.size() - 12], "NER5", 4) == 0) {
    return BigEndian(last12, last12.size() - 8, 8);
  }
  if (last12.size() >= 8 && std::memcmp(&last12[last12.size() - 8], "NERO", 4) == 0) {
    return BigEndian(last12, last12.size() - 4, 4);
  }
  return std::nullopt;
}

std::optional<DumpError> ParseNero(std::span<const std::uint8_t> tail, std::uint64_t chunksAt,
                                   DumpTrack* track) {
  const std::optional<std::uint64_t> footer =
      NeroChunksAt(tail.last(std::min<std::size_t>(tail.size(), 12)));
  if (!footer || *footer != chunksAt) {
    return Wrong("the file does not end in a Nero footer");
  }
  const bool wide = tail.size() >= 12 && std::memcmp(&tail[tail.size() - 12], "NER5", 4) == 0;
  const std::size_t end = tail.size() - (wide ? 12 : 8);
  std::vector<NeroTrack> tracks;
  std::vector<std::pair<unsigned, std::int64_t>> starts;
  if (auto wrong = ReadChunks(tail.first(end), chunksAt, wide, &tracks, &starts)) {
    return wrong;
  }
  for (const auto& [number, sector] : starts) {
    for (NeroTrack& t : tracks) {
      if (t.number == number && !t.sector) {
        t.sector = sector;
      }
    }
  }
  for (const NeroTrack& t : tracks) {
    bool audio = false;
    const std::uint32_t size = SizeOfMode(t.mode, &audio);
    if (audio) {
      continue;
    }
    if (!t.sector) {
      return Wrong("no CUE chunk says where the data track " + std::to_string(t.number) +
                   " begins on the disc");
    }
    if (*t.sector < 0) {
      return Wrong("the data track " + std::to_string(t.number) + " begins at sector " +
                   std::to_string(*t.sector) + ", before the disc's sector 0");
    }
    if (t.end > chunksAt || t.end == t.start) {
      return Wrong("the data track " + std::to_string(t.number) + " (bytes " +
                   std::to_string(t.start) + " to " + std::to_string(t.end) + " from sector " +
                   std::to_string(*t.sector) + ") is empty or not before the chunks (byte " +
                   std::to_string(chunksAt) + ")");
    }
    // Raw sectors say their mode; a stored 2048-byte sector has no header.
    std::uint8_t mode = size == 2048 ? 0 : 2;
    std::uint32_t offset = size == 2048 ? 0 : size == 2336 ? kMode2Headerless.dataOffset : 0;
    if (size >= kRawBytes) {
      mode = t.mode == 5 || t.mode == 0x0F ? 1 : 2;  // corrected from the first sector
      offset = mode == 1 ? kMode1Raw.dataOffset : kMode2Raw.dataOffset;
    }
    track->file.clear();
    track->layout = {SectorFormat{size, offset, mode}, t.start, t.end,
                     static_cast<std::uint64_t>(*t.sector)};
    return std::nullopt;
  }
  return Wrong(tracks.size() == 1
                   ? std::string("its one track is no data track")
                   : "no data track among the " + std::to_string(tracks.size()) + " tracks");
}

}  // namespace cgvw::disc
