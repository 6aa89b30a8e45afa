// CHD files (MAME's "compressed hunks of data") of CD-ROMs, version 5, as
// `chdman createcd` writes them. All numbers are big-endian.
//
// The file begins with a header of 124 bytes:
//     0   "MComprHD"             8   header length, 124    12  version, 5
//    16   four codecs, each a four-letter tag ("cdlz", "cdzl", "cdfl", ...)
//         or 0 for none (all four 0: the hunks are stored as they are)
//    32   logical bytes (64 bits)  40  map offset (64)  48  metadata offset (64)
//    56   hunk bytes (32)          60  unit bytes (32; 2448 for a CD)
//    64   SHA-1 of the data, 84 SHA-1 of data and metadata, 104 SHA-1 of the
//         parent file (all zeros: the file has no parent)
//
// The logical bytes are the disc's frames, each 2352 bytes of sector data
// and 96 of subcode (2448), cut into hunks of equal size. Each track begins
// at a frame that is a multiple of 4 (the frames between are padding); the
// tracks are described by metadata entries (16 bytes each: tag, flags,
// 24-bit length, offset of the next entry; then the text), tag "CHT2":
// "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:3538 PREGAP:0 PGTYPE:MODE1
// PGSUB:NONE POSTGAP:0", FRAMES counting the pregap where PGTYPE begins
// with "V" (the pregap is stored), or the older "CHTR" without the pregap.
//
// The map says where each hunk is. Without codecs it is 4 bytes a hunk: the
// hunk's offset divided by the hunk bytes (0: a hunk of zeros, or the
// parent's). Otherwise it is compressed: a header of 16 bytes (length of
// the bits that follow, 32; offset of the first hunk, 48; CRC-16 of the
// map as decoded, 16; then the widths of a compressed length, a hunk
// number and a parent unit number, one byte each, and one unused byte),
// then bits, most significant first:
//   - a Huffman code of 16 symbols, at most 8 bits long, as code lengths of
//     4 bits each; a length of 1 is an escape: the next 4 bits are either 1
//     (a length of 1) or a length to repeat 3 + (the next 4 bits) times.
//     Codes are given to the longest lengths first, counting up.
//   - one coded symbol per hunk: its kind (0-3: a codec of the header; 4:
//     stored as it is; 5: a copy of another hunk; 6: a part of the parent;
//     9: a copy of the last hunk copied, 10: of the one after it; 11-13:
//     parent parts as in the header's order), or 7 (the last kind repeated
//     for this hunk and 2 + the next symbol more) or 8 (for this hunk and
//     2 + 16 + 16 x the next symbol + the one after it more);
//   - then for each hunk in turn: a codec's compressed length (its width)
//     and CRC-16 (16 bits); a stored hunk's CRC-16; a copy's hunk number.
//     Hunks lie one after the other from the first hunk's offset on.
// The map as decoded is 12 bytes a hunk (kind, 24-bit length, 48-bit
// offset, CRC-16), over which the map's CRC-16 is computed. CRC-16 here is
// the CCITT one (polynomial 0x1021, start 0xFFFF, most significant bit
// first), of a hunk's bytes after decompression.
//
// The CD codecs compress a hunk's sector data (its frames' 2352 bytes, one
// after the other) apart from its subcode (their 96 bytes):
//   - cdlz, cdzl, cdzs: a bit per frame (bit n % 8 of byte n / 8) set where
//     the frame's sync pattern and ECC were left out (zeros) and are to be
//     written again, then the length of the compressed sector data (2
//     bytes, 3 if a hunk has 65536 bytes or more), the sector data (raw
//     LZMA with lc 3, lp 0, pb 2; raw deflate; zstd), then the subcode (raw
//     deflate; zstd for cdzs).
//   - cdfl: the sector data as FLAC frames (stereo, 16-bit samples stored
//     big-endian, no stream header), then the subcode as raw deflate.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "raw_sectors.h"

namespace cgvw::disc::chd {

inline constexpr std::size_t kHeaderBytes = 124;
inline constexpr std::uint32_t kFrameBytes = kRawBytes + 96;  // sector data and subcode
// The largest hunk read: chdman's hunks are far smaller (19,584 bytes by
// default).
inline constexpr std::uint32_t kMostHunkBytes = 8u << 20;
// The most metadata entries walked, and the largest text of a track read.
inline constexpr unsigned kMostMetadataEntries = 1024;
inline constexpr std::uint32_t kMostTrackText = 1024;

constexpr std::uint32_t Tag(const char (&text)[5]) {
  return std::uint32_t{static_cast<std::uint8_t>(text[0])} << 24 |
         std::uint32_t{static_cast<std::uint8_t>(text[1])} << 16 |
         std::uint32_t{static_cast<std::uint8_t>(text[2])} << 8 |
         std::uint32_t{static_cast<std::uint8_t>(text[3])};
}

struct Header {
  std::uint32_t version = 0;
  std::array<std::uint32_t, 4> codecs{};
  std::uint64_t logicalBytes = 0;
  std::uint64_t mapOffset = 0;
  std::uint64_t metadataOffset = 0;
  std::uint32_t hunkBytes = 0;
  std::uint32_t unitBytes = 0;
  std::array<std::uint8_t, 20> parentSha1{};
  std::uint64_t hunkCount = 0;
  bool HasParent() const;
};

// The header of a file of `fileSize` bytes from its first bytes; what is
// wrong in words otherwise ("version 4", ...: after "the CHD's ").
std::optional<std::string> ParseHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                       Header* header);

enum class HunkKind : std::uint8_t {
  kCodec0 = 0,  // ... kCodec3 = 3
  kStored = 4,
  kSelf = 5,
  kParent = 6,
  kZeros = 7,  // (the uncompressed map's 0 in a file without a parent)
};

struct MapEntry {
  HunkKind kind = HunkKind::kStored;
  std::uint8_t codec = 0;    // kind as 0-3
  std::uint32_t length = 0;  // compressed bytes
  std::uint64_t offset = 0;  // in the file; a hunk number for kSelf; a unit for kParent
  std::optional<std::uint16_t> crc;
};

// The compressed map: `bytes` from the map offset on (its 16-byte header and
// the bits). Every entry is checked to lie in a file of `fileSize` bytes,
// and a copy to name an earlier hunk.
std::optional<std::string> ParseCompressedMap(std::span<const std::uint8_t> bytes,
                                              const Header& header, std::uint64_t fileSize,
                                              std::vector<MapEntry>* map);
// The map of a file without codecs: 4 bytes a hunk.
std::optional<std::string> ParseStoredMap(std::span<const std::uint8_t> bytes, const Header& header,
                                          std::uint64_t fileSize, std::vector<MapEntry>* map);
// The bytes the compressed map takes at most to read (its header's length,
// bounded by the file).
inline constexpr std::size_t kMapHeaderBytes = 16;

// A track of the disc as the metadata describes it.
struct Track {
  unsigned number = 0;
  std::string type;  // "MODE1_RAW", "AUDIO", ...
  std::uint64_t frames = 0;
  std::uint64_t pregap = 0;
  bool pregapStored = false;  // PGTYPE begins with "V"
  std::uint64_t postgap = 0;
};
// A "CHT2" or "CHTR" text (a trailing NUL allowed).
std::optional<std::string> ParseTrack(std::string_view text, Track* track);

// Where the data track (the first that is not audio) lies: its first frame
// in the file's frames, its sectors, their format in a frame (2448 bytes),
// and the disc's number of its first sector.
struct DataTrack {
  std::uint64_t firstFrame = 0;
  std::uint64_t sectors = 0;
  SectorFormat format;
  std::uint64_t firstSector = 0;
};
std::optional<std::string> FindDataTrack(std::span<const Track> tracks, DataTrack* data);

// CRC-16 (CCITT) of bytes.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

// "cdlz", or "0x12345678" for a tag that is no text.
std::string TagName(std::uint32_t tag);

}  // namespace cgvw::disc::chd
