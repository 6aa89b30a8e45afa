// Alcohol descriptors (dumps.h), version 1, all fields little-endian:
//
// header, 88 bytes at 0:
//   0   "MEDIA DESCRIPTOR"    16  version (2 bytes: 1, minor)
//   18  medium type (16-bit: 0 CD-ROM, 1 CD-R, 2 CD-RW, 0x10 DVD-ROM, 0x12 DVD-R)
//   20  sessions (16-bit)     80  offset of the session blocks (32-bit)
// session block, 24 bytes each:
//   0   first sector (32-bit, signed: -150 for the first session)
//   4   end sector (its lead-out)     8  session number (16-bit)
//   10  blocks in all (8-bit)         11 of them not tracks (lead-in points)
//   12  first track (16-bit)          14 last track (16-bit)
//   20  offset of its blocks (32-bit): the lead-in points, then the tracks
// track block, 80 bytes each:
//   0   mode: low nibble 9 audio, 0xA mode 1, 0xB mode 2, 0xC mode 2 form
//       1, 0xD mode 2 form 2; high nibble 0xA (or 0xE, or 0); 0 for a
//       lead-in point
//   1   subcode: 0 none, 8 96 bytes after each sector
//   2   ADR and control     4  point (the track's number; 0xA0 and up for
//       lead-in points)     12 offset of the extra block (32-bit)
//   16  sector size in the image (16-bit)
//   36  first sector (32-bit)      40 its byte offset in the image (64-bit)
//   48  number of image files (32-bit)   52 offset of the footer (32-bit)
// extra block, 8 bytes: pregap, then length of the track in sectors
// footer, 16 bytes: offset of the image's name (32-bit), then 1 if the name
// is UTF-16; "*.mdf" stands for the descriptor's stem with ".mdf".
#include <vector>

#include "dumps.h"
#include "messages.h"

namespace cgvw::disc {
namespace {

constexpr std::size_t kHeaderBytes = 88;
constexpr std::size_t kSessionBytes = 24;
constexpr std::size_t kTrackBytes = 80;

DumpError Wrong(std::string what) {
  return {0, std::move(what)};
}

bool Inside(std::span<const std::uint8_t> mds, std::uint64_t at, std::uint64_t bytes) {
  return at <= mds.size() && bytes <= mds.size() - at;
}

// The name at `at`, ending at a zero (a UTF-16 one as UTF-8).
std::optional<std::string> NameAt(std::span<const std::uint8_t> mds, std::uint64_t at, bool wide) {
  std::string name;
  if (!wide) {
    for (; at < mds.size() && mds[at] != 0; ++at) {
      name += static_cast<char>(mds[at]);
    }
    return at < mds.size() ? std::optional(name) : std::nullopt;
  }
  for (; at + 1 < mds.size(); at += 2) {
    std::uint32_t code = static_cast<std::uint32_t>(LittleEndian(mds, at, 2));
    if (code == 0) {
      return name;
    }
    if (code >= 0xD800 && code < 0xDC00 && at + 3 < mds.size()) {
      const auto low = static_cast<std::uint32_t>(LittleEndian(mds, at + 2, 2));
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    if (code < 0x80) {
      name += static_cast<char>(code);
    } else if (code < 0x800) {
      name += static_cast<char>(0xC0 | code >> 6);
      name += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      name += static_cast<char>(0xE0 | code >> 12);
      name += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      name += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      name += static_cast<char>(0xF0 | code >> 18);
      name += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      name += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      name += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return std::nullopt;
}

// The sector format of a track's mode and sector size; nullopt if they do
// not fit together.
std::optional<SectorFormat> FormatOf(std::uint8_t mode, std::uint8_t subcode, std::uint32_t size) {
  const std::uint32_t stored = size - (subcode == 8 ? 96 : 0);
  const unsigned kind = mode & 0x0F;
  if (stored == kUserBytes && (kind == 0xA || kind == 0xC)) {
    return SectorFormat{size, 0, 0};
  }
  if (stored == kRawBytes && (kind == 0xA || kind == 0xB || kind == 0xC)) {
    return SectorFormat{size, kind == 0xA ? kMode1Raw.dataOffset : kMode2Raw.dataOffset,
                        static_cast<std::uint8_t>(kind == 0xA ? 1 : 2)};
  }
  if (stored == kMode2Headerless.bytes && (kind == 0xB || kind == 0xC)) {
    return SectorFormat{size, kMode2Headerless.dataOffset, 2};
  }
  return std::nullopt;
}

std::string TrackName(unsigned number) {
  return "track " + std::to_string(number);
}

// Reads the data track's block at `at` (track `number`) of a session that
// ends at sector `sessionEnd`.
std::optional<DumpError> ReadDataTrack(std::span<const std::uint8_t> mds, std::size_t at,
                                       unsigned number, std::int64_t sessionEnd,
                                       std::string_view ownName, DumpTrack* track) {
  const std::uint8_t mode = mds[at];
  const std::uint8_t subcode = mds[at + 1];
  const auto size = static_cast<std::uint32_t>(LittleEndian(mds, at + 16, 2));
  if (subcode != 0 && subcode != 8) {
    return Wrong(TrackName(number) + ": unknown subcode kind " + std::to_string(subcode));
  }
  const std::optional<SectorFormat> format = FormatOf(mode, subcode, size);
  if (!format) {
    return Wrong(TrackName(number) + ": sectors of " + Counted(size, "byte", "bytes") +
                 " do not fit its mode (" + std::to_string(mode) + ")" +
                 (subcode == 8 ? " with subcode" : ""));
  }
  const auto first = static_cast<std::int64_t>(LittleEndian(mds, at + 36, 4));
  const std::uint64_t offset = LittleEndian(mds, at + 40, 8);
  const std::uint64_t files = LittleEndian(mds, at + 48, 4);
  const std::uint64_t footer = LittleEndian(mds, at + 52, 4);
  const std::uint64_t extra = LittleEndian(mds, at + 12, 4);
  if (first > kMostDiscSectors) {
    return Wrong(TrackName(number) + " begins at sector " + std::to_string(first) +
                 ", beyond the end of any disc");
  }
  std::int64_t length = sessionEnd - first;
  if (extra != 0) {
    if (!Inside(mds, extra, 8)) {
      return Wrong(TrackName(number) + ": its extra block lies outside the descriptor");
    }
    length = static_cast<std::int64_t>(LittleEndian(mds, extra + 4, 4));
  }
  if (length <= 0 || first + length > sessionEnd) {
    const std::string sectors =
        length < 0 ? std::to_string(length) + " sectors"
                   : Counted(static_cast<std::uint64_t>(length), "sector", "sectors");
    return Wrong(TrackName(number) + ": " + sectors + " from sector " + std::to_string(first) +
                 (length == 1 ? " does" : " do") +
                 " not fit in its session, which ends at sector " + std::to_string(sessionEnd));
  }
  if (files != 1) {
    return Wrong(TrackName(number) + " is in " + Counted(files, "image file", "image files") +
                 ": one is read");
  }
  if (!Inside(mds, footer, 16)) {
    return Wrong(TrackName(number) + ": its footer lies outside the descriptor");
  }
  const std::optional<std::string> name =
      NameAt(mds, LittleEndian(mds, footer, 4), LittleEndian(mds, footer + 4, 4) != 0);
  if (!name || name->empty()) {
    return Wrong(TrackName(number) + ": the name of its image file is not in the descriptor");
  }
  track->file = name->front() == '*' ? WithExtension(ownName, name->substr(1)) : *name;
  track->layout = {*format, offset, offset + static_cast<std::uint64_t>(length) * size,
                   static_cast<std::uint64_t>(first)};
  return std::nullopt;
}

// The blocks of session `s` (0 the first), which ends at sector `end`:
// the lead-in points, then the tracks up to the first data track, whose
// place goes to `track` (`*found` then set).
std::optional<DumpError> ReadBlocks(std::span<const std::uint8_t> mds, std::uint64_t blocksAt,
                                    unsigned blocks, unsigned points, unsigned firstTrack,
                                    std::uint64_t s, std::int64_t end, std::string_view ownName,
                                    DumpTrack* track, bool* found) {
  const std::string name = "session " + std::to_string(s + 1);
  for (unsigned b = 0; b < blocks; ++b) {
    const std::size_t at = blocksAt + std::size_t{b} * kTrackBytes;
    const std::uint8_t mode = mds[at];
    const unsigned point = mds[at + 4];
    if (b < points) {
      if (point < 0xA0) {
        return Wrong(name + ": lead-in block " + std::to_string(b) + " has point " +
                     std::to_string(point));
      }
      continue;
    }
    const unsigned number = firstTrack + b - points;
    if (point != number) {
      return Wrong(name + ": the block of track " + std::to_string(number) + " has point " +
                   std::to_string(point));
    }
    const unsigned high = mode >> 4;
    const unsigned kind = mode & 0x0F;
    if ((high != 0xA && high != 0xE && high != 0) || kind < 9 || kind > 0xD) {
      return Wrong(TrackName(number) + ": unknown mode " + std::to_string(mode));
    }
    if (kind == 9 || kind == 0xD) {
      continue;  // audio, or form 2: no file system there
    }
    if (s != 0) {
      return Wrong("the data track " + std::to_string(number) + " is in session " +
                   std::to_string(s + 1) + ": only a data track of the first session is read");
    }
    *found = true;
    return ReadDataTrack(mds, at, number, end, ownName, track);
  }
  return std::nullopt;
}

}  // namespace

std::optional<DumpError> ParseAlcohol(std::span<const std::uint8_t> mds, std::string_view ownName,
                                      DumpTrack* track) {
  if (!Inside(mds, 0, kHeaderBytes) ||
      std::string_view(reinterpret_cast<const char*>(mds.data()), kAlcoholSignature.size()) !=
          kAlcoholSignature) {
    return Wrong("shorter than the header of a descriptor");
  }
  if (mds[16] != 1) {
    return Wrong("a descriptor of version " + std::to_string(mds[16]) + "." +
                 std::to_string(mds[17]) + ": version 1 is read");
  }
  const auto medium = LittleEndian(mds, 18, 2);
  if (medium != 0 && medium != 1 && medium != 2 && medium != 0x10 && medium != 0x12) {
    return Wrong("unknown medium type " + std::to_string(medium));
  }
  const auto sessions = LittleEndian(mds, 20, 2);
  const std::uint64_t sessionsAt = LittleEndian(mds, 80, 4);
  if (sessions == 0 || !Inside(mds, sessionsAt, sessions * kSessionBytes)) {
    return Wrong(Counted(sessions, "session", "sessions") + ", their blocks not in the descriptor");
  }
  bool found = false;
  for (std::uint64_t s = 0; s < sessions; ++s) {
    const std::size_t session = sessionsAt + s * kSessionBytes;
    const auto start = static_cast<std::int32_t>(LittleEndian(mds, session, 4));
    const auto end = static_cast<std::int32_t>(LittleEndian(mds, session + 4, 4));
    const unsigned blocks = mds[session + 10];
    const unsigned points = mds[session + 11];
    const auto firstTrack = static_cast<unsigned>(LittleEndian(mds, session + 12, 2));
    const auto lastTrack = static_cast<unsigned>(LittleEndian(mds, session + 14, 2));
    const std::uint64_t blocksAt = LittleEndian(mds, session + 20, 4);
    const std::string name = "session " + std::to_string(s + 1);
    if (LittleEndian(mds, session + 8, 2) != s + 1) {
      return Wrong(name + " is numbered " + std::to_string(LittleEndian(mds, session + 8, 2)));
    }
    if (end <= start || end > kMostDiscSectors) {
      return Wrong(name + " ends at sector " + std::to_string(end) + ", not after its start (" +
                   std::to_string(start) + ") on a disc");
    }
    if (firstTrack < 1 || lastTrack > 99 || firstTrack > lastTrack || points > blocks ||
        blocks - points != lastTrack - firstTrack + 1) {
      return Wrong(
          name + ": " + Counted(blocks - std::min(points, blocks), "track block", "track blocks") +
          " for tracks " + std::to_string(firstTrack) + " to " + std::to_string(lastTrack));
    }
    if (!Inside(mds, blocksAt, std::uint64_t{blocks} * kTrackBytes)) {
      return Wrong(name + ": its track blocks lie outside the descriptor");
    }
    if (auto wrong =
            ReadBlocks(mds, blocksAt, blocks, points, firstTrack, s, end, ownName, track, &found)) {
      return wrong;
    }
    if (found) {
      return std::nullopt;
    }
  }
  return Wrong("the descriptor has no data track");
}

}  // namespace cgvw::disc
