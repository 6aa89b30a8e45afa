// The checks of raw sectors: sync, address, mode, form, EDC, and the ECC
// (raw_sectors.h holds the byte layouts).
#include "raw_sectors.h"

#include <algorithm>
#include <array>

namespace cgvw::disc {
namespace {

constexpr std::array<std::uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::uint8_t kForm2 = 0x20;  // in a Mode 2 subheader's submode

// The EDC's polynomial with its bits reversed, as it is applied least
// significant bit first: x^0 at bit 31 ... x^31 at bit 0.
constexpr std::uint32_t kEdcPolynomial = 0xD8018001;

// Tables for sixteen bytes at a time: table[0][b] is the EDC register after
// byte b went in; table[k][b] the same b followed by k zero bytes.
using EdcTables = std::array<std::array<std::uint32_t, 256>, 16>;
constexpr EdcTables MakeEdcTables() {
  EdcTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t value = byte;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value >> 1) ^ ((value & 1) != 0 ? kEdcPolynomial : 0);
    }
    tables[0][byte] = value;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
      const std::uint32_t before = tables[k - 1][byte];
      tables[k][byte] = (before >> 8) ^ tables[0][before & 0xFF];
    }
  }
  return tables;
}
constexpr EdcTables kEdcTables = MakeEdcTables();

// GF(2^8) modulo x^8 + x^4 + x^3 + x^2 + 1: times alpha, and divided by
// alpha + 1.
constexpr std::uint8_t TimesAlpha(std::uint8_t a) {
  return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) != 0 ? 0x1D : 0));
}
constexpr std::array<std::uint8_t, 256> DivideByAlphaPlusOneTable() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned a = 0; a < 256; ++a) {
    const auto byte = static_cast<std::uint8_t>(a);
    table[static_cast<std::uint8_t>(TimesAlpha(byte) ^ byte)] = byte;
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> kDivideByAlphaPlusOne = DivideByAlphaPlusOneTable();

// One family of code words (P or Q): `count` words of data per code word;
// data word i of code word c is word (step i + start c) mod `wrap`; the two
// parity words are at `parity` + c and `parity` + `words` + c.
struct Family {
  unsigned words;  // code words per plane
  unsigned count;
  unsigned step;
  unsigned start;
  unsigned wrap;
  unsigned parity;
};
constexpr Family kP{43, 24, 43, 1, 1032, 1032};
constexpr Family kQ{26, 43, 44, 43, 1118, 1118};

// The two parity bytes of code word `c` of `family` in one plane: with A the
// data weighted alpha^(k-1-i) and B their sum, p0 = (A + B) / (alpha + 1)
// and p1 = p0 + B make both sums of the code word zero.
std::array<std::uint8_t, 2> Parity(const Family& family, std::span<const std::uint8_t> words,
                                   unsigned c, unsigned plane) {
  std::uint8_t weighted = 0;
  std::uint8_t sum = 0;
  unsigned word = (family.start * c) % family.wrap;
  for (unsigned i = 0; i < family.count; ++i) {
    const std::uint8_t byte = words[2 * word + plane];
    weighted = TimesAlpha(weighted ^ byte);
    sum ^= byte;
    word += family.step;
    word -= word >= family.wrap ? family.wrap : 0;
  }
  weighted = TimesAlpha(weighted);
  const std::uint8_t first = kDivideByAlphaPlusOne[weighted ^ sum];
  return {first, static_cast<std::uint8_t>(first ^ sum)};
}

// Computes (or, with `check`, compares) the parity of a family; `words` is
// the sector from byte 12 on.
bool ParityOf(const Family& family, std::span<std::uint8_t> words, bool check) {
  for (unsigned c = 0; c < family.words; ++c) {
    for (unsigned plane = 0; plane < 2; ++plane) {
      const auto parity = Parity(family, words, c, plane);
      std::uint8_t& first = words[2 * (family.parity + c) + plane];
      std::uint8_t& second = words[2 * (family.parity + family.words + c) + plane];
      if (check && (first != parity[0] || second != parity[1])) {
        return false;
      }
      first = parity[0];
      second = parity[1];
    }
  }
  return true;
}

// P, then Q (which covers P); Mode 2 with its address taken as zeros.
bool Ecc(std::span<std::uint8_t, kRawBytes> sector, bool check) {
  std::array<std::uint8_t, 3> address{};
  const bool mode2 = sector[15] == 2;
  if (mode2) {
    std::copy_n(sector.begin() + 12, 3, address.begin());
    std::fill_n(sector.begin() + 12, 4, 0);
  }
  const std::span<std::uint8_t> words = sector.subspan(12);
  const bool matches = ParityOf(kP, words, check) && ParityOf(kQ, words, check);
  if (mode2) {
    std::copy(address.begin(), address.end(), sector.begin() + 12);
    sector[15] = 2;
  }
  return matches;
}

std::uint32_t StoredLe32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// Whether the EDC stored after the user data (which starts at `data`: 16 or
// 24 in a raw sector, 8 in a headerless one) is that of everything before
// it, from the sync pattern (mode 1) or the subheader (mode 2) on.
bool EdcMatches(std::span<const std::uint8_t> sector, std::size_t data) {
  const std::size_t from = data == kMode1Raw.dataOffset ? 0 : data - 8;
  const std::size_t end = data + kUserBytes;
  return Edc(sector.subspan(from, end - from)) == StoredLe32(sector, end);
}

}  // namespace

std::string FormatName(const SectorFormat& format) {
  return std::string(format.mode == 2 ? "MODE2/" : "MODE1/") + std::to_string(format.bytes);
}

std::uint32_t Edc(std::span<const std::uint8_t> bytes) {
  const auto& t = kEdcTables;
  std::uint32_t value = 0;
  std::size_t at = 0;
  for (; at + 16 <= bytes.size(); at += 16) {  // sixteen bytes a step
    const std::uint32_t words[4] = {value ^ StoredLe32(bytes, at), StoredLe32(bytes, at + 4),
                                    StoredLe32(bytes, at + 8), StoredLe32(bytes, at + 12)};
    value = 0;
    for (std::size_t w = 0; w < 4; ++w) {
      const std::size_t k = 15 - 4 * w;  // zero bytes that follow this word's first byte
      value ^= t[k][words[w] & 0xFF] ^ t[k - 1][(words[w] >> 8) & 0xFF] ^
               t[k - 2][(words[w] >> 16) & 0xFF] ^ t[k - 3][words[w] >> 24];
    }
  }
  for (; at < bytes.size(); ++at) {
    value = (value >> 8) ^ t[0][(value ^ bytes[at]) & 0xFF];
  }
  return value;
}

void WriteEcc(std::span<std::uint8_t, kRawBytes> sector) {
  Ecc(sector, false);
}

bool EccMatches(std::span<const std::uint8_t, kRawBytes> sector) {
  std::array<std::uint8_t, kRawBytes> copy;
  std::copy(sector.begin(), sector.end(), copy.begin());
  return Ecc(copy, true);
}

std::optional<std::int64_t> HeaderSector(std::span<const std::uint8_t, 3> address) {
  std::int64_t value = 0;
  constexpr std::array<int, 3> kRadix = {1, 60, 75};  // minutes, then seconds, then frames
  for (std::size_t i = 0; i < 3; ++i) {
    const unsigned high = address[i] >> 4;
    const unsigned low = address[i] & 0x0F;
    if (high > 9 || low > 9) {
      return std::nullopt;
    }
    value = value * kRadix[i] + high * 10 + low;
  }
  return value - kAddressOfSectorZero;
}

void PutHeaderAddress(std::int64_t sector, std::span<std::uint8_t, 3> address) {
  const std::int64_t value = sector + kAddressOfSectorZero;
  const std::array<std::int64_t, 3> parts = {value / 75 / 60, value / 75 % 60, value % 75};
  for (std::size_t i = 0; i < 3; ++i) {
    address[i] = static_cast<std::uint8_t>((parts[i] / 10 % 10) << 4 | parts[i] % 10);
  }
}

SectorCheck CheckSector(const SectorFormat& format, std::span<const std::uint8_t> bytes,
                        std::uint64_t sector) {
  if (format.mode == 0) {
    return {};
  }
  const bool headerless = format.bytes == kMode2Headerless.bytes;
  if (!headerless) {
    if (!std::equal(kSync.begin(), kSync.end(), bytes.begin())) {
      return {SectorFault::kNoSync};
    }
    if (bytes[15] != format.mode) {
      return {SectorFault::kWrongMode};
    }
    const auto address = HeaderSector(bytes.subspan<12, 3>());
    if (!address || *address != static_cast<std::int64_t>(sector)) {
      return {SectorFault::kWrongAddress, address.value_or(-1)};
    }
  }
  const std::size_t data = format.dataOffset;
  const bool form2 = format.mode == 2 && (bytes[data - 6] & kForm2) != 0;
  if (form2) {
    return {SectorFault::kForm2};
  }
  if (!EdcMatches(bytes, data)) {
    return {SectorFault::kBadEdc};
  }
  return {};
}

std::string SectorFaultText(const SectorCheck& check) {
  switch (check.fault) {
    case SectorFault::kNone:
      return "is good";
    case SectorFault::kNoSync:
      return "has no sync pattern";
    case SectorFault::kWrongMode:
      return "has a header of another mode";
    case SectorFault::kWrongAddress:
      return check.address < 0
                 ? "has no valid address in its header"
                 : "has the address of sector " + std::to_string(check.address) + " in its header";
    case SectorFault::kForm2:
      return "is a form 2 sector, which holds no file system data";
    case SectorFault::kBadEdc:
      return "fails its EDC check: its bytes are damaged";
  }
  return "?";
}

}  // namespace cgvw::disc
