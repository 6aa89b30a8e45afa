// The descriptors of whole-disc dumps as CD copying programs write them,
// each read strictly: an entry that is unknown, or that does not agree
// with the others, is refused with what is wrong (and, in a text, its
// line). Each gives where the disc's data track (the first track that is
// not audio) lies in the file holding the sectors.
//
// - CloneCD: a text descriptor (`disc.ccd`, sections of `key=value`
//   lines) beside `disc.img`, every sector of the disc from sector 0 on,
//   raw (2352 bytes); `disc.sub` holds the subcode and is not needed.
// - Alcohol: a binary descriptor (`disc.mds`, "MEDIA DESCRIPTOR", version
//   1) beside the sectors (`disc.mdf`), each track at a byte offset the
//   descriptor gives, its sectors of the size it gives (raw or not, with
//   or without 96 bytes of subcode each).
// - Nero: one file (`disc.nrg`), the tracks' sectors first, then chunks
//   that describe them, found from the file's last bytes: "NER5" and a
//   64-bit offset of the first chunk, or in older files "NERO" and a
//   32-bit one (both big-endian, as are the chunks' fields).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tracks.h"

namespace cgvw::disc {

// Where a descriptor places the data track.
struct DumpTrack {
  std::string file;  // the file of its sectors, named as the descriptor does ("": itself)
  ImageTrack::Layout layout;
};

// What is wrong with a descriptor: in words, and for a text its line.
struct DumpError {
  unsigned line = 0;
  std::string what;
};

// The last disc sector a descriptor may name: 99 minutes of sectors.
inline constexpr std::int64_t kMostDiscSectors = 99 * 60 * 75;
// The largest descriptor read: no real one comes near it.
inline constexpr std::uint64_t kMostDescriptorBytes = 4 << 20;

// A CloneCD descriptor's text; `ownName` is the descriptor's own file name,
// whose stem names the image ("disc.ccd": "disc.img").
std::optional<DumpError> ParseCloneCd(std::string_view text, std::string_view ownName,
                                      DumpTrack* track);
// Whether the bytes begin as a CloneCD descriptor does ("[CloneCD]").
bool LooksLikeCloneCd(std::span<const std::uint8_t> head);

// An Alcohol descriptor's bytes; `ownName` as above ("*.mdf": "disc.mdf").
std::optional<DumpError> ParseAlcohol(std::span<const std::uint8_t> mds, std::string_view ownName,
                                      DumpTrack* track);
inline constexpr std::string_view kAlcoholSignature = "MEDIA DESCRIPTOR";

// A Nero image's footer: the file's last 12 bytes (fewer if it is
// shorter). The offset of its first chunk if it is one, else nullopt.
std::optional<std::uint64_t> NeroChunksAt(std::span<const std::uint8_t> last12);
// A Nero image's chunks and footer: `tail` is the file's bytes from the
// first chunk (`chunksAt`, from NeroChunksAt) to its end.
std::optional<DumpError> ParseNero(std::span<const std::uint8_t> tail, std::uint64_t chunksAt,
                                   DumpTrack* track);

// The stem of a file name (without its last extension) with `extension`.
std::string WithExtension(std::string_view name, std::string_view extension);

// Text of descriptors: ASCII in lower case; without the spaces, tabs (and a
// CR) around it; a number, decimal (a sign allowed) or hexadecimal after
// "0x", of at most 2^40.
std::string Lower(std::string_view text);
std::string_view Trim(std::string_view text);
std::optional<std::int64_t> Number(std::string_view text);

// Multi-byte fields; each reads inside `bytes` (at + width <= size).
std::uint64_t LittleEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width);
std::uint64_t BigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width);

}  // namespace cgvw::disc
