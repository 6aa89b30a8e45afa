// Sectors of a CD data track as image files store them, and the checks of
// a raw sector. Byte layouts (offsets within the sector as stored):
//
// - plain (.iso, MODE1/2048): the 2048 bytes of user data alone.
// - MODE1/2352, raw:
//     0-11     sync pattern: 00, ten FF, 00
//     12-14    address: minutes, seconds, frames in BCD, sector 0 of the
//              disc at 00:02:00 (address = (m x 60 + s) x 75 + f - 150)
//     15       mode byte, 1
//     16-2063  user data
//     2064-67  EDC, little-endian: a CRC-32 (polynomial x^32 + x^31 + x^16
//              + x^15 + x^4 + x^3 + x + 1, least significant bit first, no
//              start value or final inversion) over bytes 0-2063
//     2068-75  zeros
//     2076-2247  ECC, P parity (172 bytes), then 2248-2351 Q parity (104)
// - MODE2/2352, raw (CD-ROM XA): sync and address as above, mode byte 2,
//     16-23    subheader: file, channel, submode, coding, twice; submode
//              bit 5 set in a form 2 sector
//   form 1: 24-2071 user data, 2072-75 EDC over bytes 16-2071, 2076-2351
//           ECC as above, computed with the four address bytes taken as 0
//   form 2: 24-2347 data, 2348-51 EDC over 16-2347, or 0 where none was
//           written (form 2 holds no file system data, so it is refused).
// - MODE2/2336: a MODE2/2352 sector without its 16 bytes of sync and
//   address (the subheader at byte 0).
//
// ECC (after ECMA-130, annex A): bytes 12-2351 are 1170 two-byte words, word
// n at bytes 12 + 2n and 13 + 2n; each of the two bytes of a word belongs to
// one of two planes, coded alike. Over GF(2^8) with x^8 + x^4 + x^3 + x^2 +
// 1, alpha = x, each code word V_0 .. V_(k-1) satisfies sum V_i = 0 and sum
// alpha^(k-1-i) V_i = 0:
// - P: 43 columns c of k = 26 words: V_i = word 43 i + c (i < 24), the
//   parity words 1032 + c and 1075 + c;
// - Q: 26 diagonals d of k = 45 words: V_i = word (44 i + 43 d) mod 1118
//   (i < 43, reaching the P parity), the parity words 1118 + d and 1144 + d.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cgvw::disc {

inline constexpr std::uint32_t kUserBytes = 2048;
inline constexpr std::uint32_t kRawBytes = 2352;
// The address of sector 0 of the disc: 00:02:00.
inline constexpr std::uint32_t kAddressOfSectorZero = 150;

struct SectorFormat {
  std::uint32_t bytes;       // a sector's size in the file
  std::uint32_t dataOffset;  // where its user data begins
  std::uint8_t mode;         // 1 or 2; 0 for plain sectors (no header, nothing to check)
  bool operator==(const SectorFormat&) const = default;
};
inline constexpr SectorFormat kPlainSectors{2048, 0, 0};
inline constexpr SectorFormat kMode1Raw{2352, 16, 1};
inline constexpr SectorFormat kMode2Raw{2352, 24, 2};
inline constexpr SectorFormat kMode2Headerless{2336, 8, 2};

// As a cue sheet names the format: "MODE1/2048", "MODE2/2352", ...
std::string FormatName(const SectorFormat& format);

// What is wrong with a sector read as user data of a track.
enum class SectorFault : std::uint8_t {
  kNone,
  kNoSync,        // not the sync pattern
  kWrongMode,     // a header of another mode
  kWrongAddress,  // the address of another sector
  kForm2,         // a Mode 2 form 2 sector
  kBadEdc,        // the EDC does not match the bytes
};
struct SectorCheck {
  SectorFault fault = SectorFault::kNone;
  std::int64_t address = 0;  // kWrongAddress: the sector the header names (-1: no BCD)
  bool operator==(const SectorCheck&) const = default;
};

// Checks the stored bytes of sector `sector` of the disc (sector 0 at
// 00:02:00) in `format`: sync pattern, address and mode, form, EDC. Plain
// sectors have nothing to check. `bytes` holds format.bytes bytes.
SectorCheck CheckSector(const SectorFormat& format, std::span<const std::uint8_t> bytes,
                        std::uint64_t sector);
// "has no sync pattern", "fails its EDC check", ...: what follows
// "sector N " in a message.
std::string SectorFaultText(const SectorCheck& check);

// The EDC of `bytes` (the CRC-32 above).
std::uint32_t Edc(std::span<const std::uint8_t> bytes);

// Writes the P and Q parity of a raw 2352-byte sector of mode 1 or mode 2
// form 1 whose other bytes are in place; ECC of mode 2 is computed with the
// address taken as zeros, as the sector stores it.
void WriteEcc(std::span<std::uint8_t, kRawBytes> sector);
// Whether the stored P and Q parity are those of the sector's bytes.
bool EccMatches(std::span<const std::uint8_t, kRawBytes> sector);

// A sector's address as its header stores it (BCD minutes, seconds, frames),
// and back; nullopt for a header that is no BCD address.
std::optional<std::int64_t> HeaderSector(std::span<const std::uint8_t, 3> address);
void PutHeaderAddress(std::int64_t sector, std::span<std::uint8_t, 3> address);

}  // namespace cgvw::disc
