// The checks of raw sectors: sync, address, mode, form, EDC, and the ECC
// (raw_sectors.h holds the byte layouts).
#include "raw_sectors.h"

#include <algorithm>
#include <array>
#include <cstring>

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

// Eight elements of GF(2^8) at once, one a byte of the word, times alpha:
// each byte shifted left within itself, and 0x1D added where its top bit
// was set.
constexpr std::uint64_t TimesAlpha8(std::uint64_t a) {
  constexpr std::uint64_t kTopBits = 0x8080808080808080;
  return ((a & ~kTopBits) << 1) ^ (((a & kTopBits) >> 7) * 0x1D);
}

// The ECC's bytes (the sector from byte 12 on) as rows of 86 bytes, 43 words
// of the two planes: byte j of row r is word 43 r + j / 2, plane j % 2.
//   rows 0-23    the words that P and Q cover (sector bytes 12-2075)
//   rows 24, 25  P parity: first and second parity byte of each column's
//                code word (2076-2247)
//   then 104 bytes of Q parity: 52 of the first parity word of each of the
//   26 diagonals, byte 2 d + plane (2248-2299); 52 of the second (2300-51).
// P's code word of byte column j is rows 0-23 of that column. Q's code word
// of diagonal d (word (44 i + 43 d) mod 1118 for i < 43) takes element i
// from row (d + i) mod 26, bytes 2 i and 2 i + 1 for the two planes; it
// covers P's parity.
constexpr std::size_t kRowBytes = 86;
constexpr std::size_t kDataRows = 24;
constexpr std::size_t kRows = 26;
constexpr std::size_t kQColumns = 43;
constexpr std::size_t kQBytes = 52;
constexpr std::size_t kQParity = kRows * kRowBytes;  // 2236: Q's parity in the ECC's bytes

// The two sums of `Bytes` code words at once (a multiple of 8, the last
// ones unused), fed an element of each at a time: A, the elements weighted
// alpha^(k-1-i) (by Horner's rule), and B, their plain sum.
template <std::size_t Bytes>
class CodeSums {
 public:
  // Element i of each code word: `elements` holds Bytes bytes.
  void Add(const std::uint8_t* elements) {
    for (std::size_t w = 0; w < kWords; ++w) {
      std::uint64_t word;
      std::memcpy(&word, elements + 8 * w, 8);
      weighted_[w] = TimesAlpha8(weighted_[w] ^ word);
      sum_[w] ^= word;
    }
  }
  // The parity of the first `count` code words after all their elements:
  // p0 = (alpha A + B) / (alpha + 1) and p1 = p0 + B make both sums of each
  // code word zero. Compared with `first` and `second`, or written there.
  bool Parity(std::size_t count, std::uint8_t* first, std::uint8_t* second, bool check) const {
    std::array<std::uint8_t, Bytes> weighted;
    std::array<std::uint8_t, Bytes> sum;
    for (std::size_t w = 0; w < kWords; ++w) {
      const std::uint64_t shifted = TimesAlpha8(weighted_[w]);
      std::memcpy(&weighted[8 * w], &shifted, 8);
      std::memcpy(&sum[8 * w], &sum_[w], 8);
    }
    for (std::size_t j = 0; j < count; ++j) {
      const std::uint8_t p0 = kDivideByAlphaPlusOne[weighted[j] ^ sum[j]];
      const auto p1 = static_cast<std::uint8_t>(p0 ^ sum[j]);
      if (check && (first[j] != p0 || second[j] != p1)) {
        return false;
      }
      first[j] = p0;
      second[j] = p1;
    }
    return true;
  }

 private:
  static_assert(Bytes % 8 == 0);
  static constexpr std::size_t kWords = Bytes / 8;
  std::array<std::uint64_t, kWords> weighted_{};
  std::array<std::uint64_t, kWords> sum_{};
};

// P: the 86 columns a row at a time (a row's 88 bytes read: the last two
// belong to the next row and their sums are not used).
bool ParityP(std::uint8_t* ecc, bool check) {
  CodeSums<88> sums;
  for (std::size_t row = 0; row < kDataRows; ++row) {
    sums.Add(ecc + row * kRowBytes);
  }
  return sums.Parity(kRowBytes, ecc + kDataRows * kRowBytes, ecc + (kDataRows + 1) * kRowBytes,
                     check);
}

// Q: the 26 diagonals of both planes, element i of each gathered from its
// row: diagonal d from row (d + i) mod 26, that is rows i mod 26 to 25 for
// the first diagonals, then rows 0 on.
bool ParityQ(std::uint8_t* ecc, bool check) {
  CodeSums<56> sums;
  std::array<std::uint8_t, 56> elements{};
  for (std::size_t i = 0; i < kQColumns; ++i) {
    const std::uint8_t* column = ecc + 2 * i;
    const std::size_t firstRow = i % kRows;
    std::uint8_t* to = elements.data();
    for (std::size_t row = firstRow; row < kRows; ++row, to += 2) {
      std::memcpy(to, column + row * kRowBytes, 2);
    }
    for (std::size_t row = 0; row < firstRow; ++row, to += 2) {
      std::memcpy(to, column + row * kRowBytes, 2);
    }
    sums.Add(elements.data());
  }
  return sums.Parity(kQBytes, ecc + kQParity, ecc + kQParity + kQBytes, check);
}

// Computes (or, with `check`, compares) P, then Q (which covers P); Mode 2
// with its address taken as zeros.
bool Ecc(std::span<std::uint8_t, kRawBytes> sector, bool check) {
  static_assert(kQParity + 2 * kQBytes + 12 == kRawBytes);
  std::array<std::uint8_t, 3> address{};
  const bool mode2 = sector[15] == 2;
  if (mode2) {
    std::copy_n(sector.begin() + 12, 3, address.begin());
    std::fill_n(sector.begin() + 12, 4, 0);
  }
  std::uint8_t* ecc = sector.data() + 12;
  const bool matches = ParityP(ecc, check) && ParityQ(ecc, check);
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
