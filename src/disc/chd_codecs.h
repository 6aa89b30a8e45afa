// The codecs of CHD hunks (chd.h), through Debian's libraries: zlib (raw
// deflate), liblzma (raw LZMA), libFLAC, and libzstd where the build has
// it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cgvw::disc::chd {

// Whether this build decompresses hunks of a codec ("cdlz", ...).
bool CodecRead(std::uint32_t tag);

// Whether the codecs' libraries can be used (a dynamically linked program
// loads them now, once); if not, why.
bool CodecsReady(std::string* why);

// Buffers kept from one hunk to the next.
struct CodecScratch {
  std::vector<std::uint8_t> sectors;  // a hunk's sector data
  std::vector<std::uint8_t> subcode;  // and its subcode
};

// Decompresses a hunk (`out` holds the hunk's bytes, a whole number of
// frames) compressed with the codec `tag`; what is wrong otherwise.
std::optional<std::string> Decompress(std::uint32_t tag, std::span<const std::uint8_t> in,
                                      std::span<std::uint8_t> out, CodecScratch* scratch);

}  // namespace cgvw::disc::chd
