// The header, map and track metadata of CHD files (chd.h).
#include "chd.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dumps.h"

namespace cgvw::disc::chd {
namespace {

constexpr std::string_view kMagic = "MComprHD";

// Bits read most significant first; past the end, zeros (the map's CRC
// then tells whether the bits were all there).
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint32_t Read(unsigned count) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
      value = value << 1 | Bit(position_ + i);
    }
    position_ += count;
    return value;
  }
  std::uint32_t Peek(unsigned count) const {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
      value = value << 1 | Bit(position_ + i);
    }
    return value;
  }
  void Skip(unsigned count) { position_ += count; }

 private:
  std::uint32_t Bit(std::uint64_t at) const {
    const std::uint64_t byte = at / 8;
    return byte < bytes_.size() ? (bytes_[byte] >> (7 - at % 8)) & 1u : 0u;
  }
  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
};

// The Huffman code of the map's kinds: 16 symbols of at most 8 bits.
class KindCode {
 public:
  static constexpr unsigned kSymbols = 16;
  static constexpr unsigned kMostBits = 8;

  std::optional<std::string> Import(BitReader& bits) {
    std::array<unsigned, kSymbols> lengths{};
    unsigned symbol = 0;
    while (symbol < kSymbols) {
      unsigned length = bits.Read(4);
      unsigned repeat = 1;
      if (length == 1) {
        length = bits.Read(4);
        if (length != 1) {
          repeat = bits.Read(4) + 3;
        }
      }
      if (symbol + repeat > kSymbols) {
        return "map's code names more than 16 symbols";
      }
      if (length > kMostBits) {
        return "map's code has a code longer than 8 bits";
      }
      std::fill_n(lengths.begin() + symbol, repeat, length);
      symbol += repeat;
    }
    // Codes to the longest lengths first, counting up.
    std::array<std::uint32_t, kMostBits + 1> count{};
    for (const unsigned length : lengths) {
      ++count[length];
    }
    std::array<std::uint32_t, kMostBits + 1> next{};
    std::uint32_t start = 0;
    for (unsigned length = kMostBits; length > 0; --length) {
      const std::uint32_t sum = start + count[length];
      if (length != 1 && sum % 2 != 0) {
        return "map's code is not a whole code";
      }
      next[length] = start;
      start = sum / 2;
    }
    table_.fill(Entry{});
    for (unsigned s = 0; s < kSymbols; ++s) {
      const unsigned length = lengths[s];
      if (length == 0) {
        continue;
      }
      const std::uint32_t code = next[length]++;
      const std::uint32_t first = code << (kMostBits - length);
      const std::uint32_t end = (code + 1) << (kMostBits - length);
      if (end > table_.size()) {
        return "map's code is not a whole code";
      }
      for (std::uint32_t i = first; i < end; ++i) {
        table_[i] = Entry{static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(length)};
      }
    }
    return std::nullopt;
  }

  // The next symbol; nullopt for bits that are no code.
  std::optional<unsigned> Decode(BitReader& bits) const {
    const Entry entry = table_[bits.Peek(kMostBits)];
    if (entry.length == 0) {
      return std::nullopt;
    }
    bits.Skip(entry.length);
    return entry.symbol;
  }

 private:
  struct Entry {
    std::uint8_t symbol = 0;
    std::uint8_t length = 0;
  };
  std::array<Entry, 1u << kMostBits> table_{};
};

// The map's kinds beyond those of a hunk.
enum : std::uint8_t {
  kRunSmall = 7,
  kRunLarge = 8,
  kSelfSame = 9,
  kSelfNext = 10,
  kParentSelf = 11,
  kParentSame = 12,
  kParentNext = 13,
};

void PutBig(std::uint8_t* out, std::uint64_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i) {
    out[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
  }
}

std::string Hunk(std::uint64_t hunk) {
  return "hunk " + std::to_string(hunk);
}

}  // namespace

bool Header::HasParent() const {
  return std::any_of(parentSha1.begin(), parentSha1.end(), [](std::uint8_t b) { return b != 0; });
}

std::string TagName(std::uint32_t tag) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<char>((tag >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[11];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(tag));
      return hex;
    }
    text += c;
  }
  return text;
}

std::optional<std::string> ParseHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                       Header* header) {
  if (head.size() < 16 || std::memcmp(head.data(), kMagic.data(), kMagic.size()) != 0) {
    return std::string("header is cut short");
  }
  header->version = static_cast<std::uint32_t>(BigEndian(head, 12, 4));
  if (header->version != 5) {
    return "version is " + std::to_string(header->version) +
           ", and only version 5 is read (chdman copy writes a version 5 file of it)";
  }
  if (head.size() < kHeaderBytes || BigEndian(head, 8, 4) != kHeaderBytes) {
    return std::string("header is cut short or of the wrong length");
  }
  for (std::size_t i = 0; i < 4; ++i) {
    header->codecs[i] = static_cast<std::uint32_t>(BigEndian(head, 16 + 4 * i, 4));
  }
  header->logicalBytes = BigEndian(head, 32, 8);
  header->mapOffset = BigEndian(head, 40, 8);
  header->metadataOffset = BigEndian(head, 48, 8);
  header->hunkBytes = static_cast<std::uint32_t>(BigEndian(head, 56, 4));
  header->unitBytes = static_cast<std::uint32_t>(BigEndian(head, 60, 4));
  std::copy_n(head.begin() + 104, 20, header->parentSha1.begin());
  if (header->unitBytes != kFrameBytes) {
    return "units are of " + std::to_string(header->unitBytes) +
           " bytes, not the 2448 of a CD's frames: it is not a CD-ROM's CHD";
  }
  if (header->hunkBytes == 0 || header->hunkBytes % kFrameBytes != 0 ||
      header->hunkBytes > kMostHunkBytes) {
    return "hunks are of " + std::to_string(header->hunkBytes) +
           " bytes, not a whole number of frames up to 8 MiB";
  }
  constexpr std::uint64_t kMostFrames = kMostDiscSectors + 4 * 99;
  if (header->logicalBytes > kMostFrames * kFrameBytes) {
    return "data takes " + std::to_string(header->logicalBytes) + " bytes, more than a CD holds";
  }
  header->hunkCount = (header->logicalBytes + header->hunkBytes - 1) / header->hunkBytes;
  if (header->mapOffset < kHeaderBytes || header->mapOffset >= fileSize) {
    return "map lies at byte " + std::to_string(header->mapOffset) + ", outside the file (" +
           std::to_string(fileSize) + " bytes): the file is cut short or damaged";
  }
  return std::nullopt;
}

namespace {

// The kind of each hunk, runs expanded.
std::optional<std::string> DecodeKinds(BitReader& bits, const KindCode& code,
                                       std::vector<std::uint8_t>* kinds) {
  std::uint8_t last = 0;
  std::uint64_t repeat = 0;
  for (std::size_t hunk = 0; hunk < kinds->size(); ++hunk) {
    if (repeat > 0) {
      (*kinds)[hunk] = last;
      --repeat;
      continue;
    }
    const auto symbol = code.Decode(bits);
    if (!symbol) {
      return "map's kinds hold a code that is not one, at " + Hunk(hunk);
    }
    if (*symbol == kRunSmall || *symbol == kRunLarge) {
      const auto more = code.Decode(bits);
      const auto low = *symbol == kRunLarge ? code.Decode(bits) : std::optional<unsigned>(0);
      if (!more || !low) {
        return "map's kinds hold a code that is not one, at " + Hunk(hunk);
      }
      repeat = *symbol == kRunSmall ? 2 + *more : 2 + 16 + (*more << 4) + *low;
      (*kinds)[hunk] = last;
    } else {
      (*kinds)[hunk] = last = static_cast<std::uint8_t>(*symbol);
    }
  }
  return std::nullopt;
}

// What the map's bits give each hunk besides its kind.
struct MapFields {
  std::uint64_t offset;  // of the next hunk stored in the file
  unsigned lengthBits;
  unsigned selfBits;
  unsigned parentBits;
  std::uint64_t lastSelf = 0;
  std::uint64_t lastParent = 0;
};

// The entry of a hunk of `kind` (pseudo-kinds resolved), and its 12 bytes
// as decoded in `raw`; false for an unknown kind.
bool DecodeEntry(BitReader& bits, std::uint8_t kind, std::uint64_t hunk, const Header& header,
                 MapFields& fields, MapEntry* entry, std::uint8_t* raw) {
  const std::uint64_t unitsPerHunk = header.hunkBytes / header.unitBytes;
  std::uint64_t at = 0;
  std::uint32_t stored = 0;
  std::uint16_t sum = 0;
  switch (kind) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
      stored = kind == 4 ? header.hunkBytes : bits.Read(fields.lengthBits);
      at = fields.offset;
      fields.offset += stored;
      sum = static_cast<std::uint16_t>(bits.Read(16));
      entry->crc = sum;
      break;
    case 5:
      at = fields.lastSelf = bits.Read(fields.selfBits);
      break;
    case 6:
      at = fields.lastParent = bits.Read(fields.parentBits);
      break;
    case kSelfNext:
    case kSelfSame:
      fields.lastSelf += kind == kSelfNext ? 1 : 0;
      kind = 5;
      at = fields.lastSelf;
      break;
    case kParentSelf:
      kind = 6;
      at = fields.lastParent = hunk * unitsPerHunk;
      break;
    case kParentNext:
    case kParentSame:
      fields.lastParent += kind == kParentNext ? unitsPerHunk : 0;
      kind = 6;
      at = fields.lastParent;
      break;
    default:
      return false;
  }
  raw[0] = kind;
  PutBig(raw + 1, stored, 3);
  PutBig(raw + 4, at, 6);
  PutBig(raw + 10, sum, 2);
  entry->kind = static_cast<HunkKind>(kind);
  entry->codec = kind < 4 ? kind : 0;
  entry->length = stored;
  entry->offset = at;
  return true;
}

// Every stored hunk within the file, of a codec the header names; every
// copy of an earlier hunk.
std::optional<std::string> CheckEntries(const std::vector<MapEntry>& map, const Header& header,
                                        std::uint64_t fileSize) {
  for (std::size_t hunk = 0; hunk < map.size(); ++hunk) {
    const MapEntry& entry = map[hunk];
    if (entry.kind <= HunkKind::kStored) {
      if (entry.kind != HunkKind::kStored && header.codecs[entry.codec] == 0) {
        return "map gives " + Hunk(hunk) + " a codec the header does not name";
      }
      if (entry.offset > fileSize || entry.length > fileSize - entry.offset) {
        return Hunk(hunk) + " lies beyond the end of the file (" + std::to_string(fileSize) +
               " bytes): the file is cut short";
      }
    } else if (entry.kind == HunkKind::kSelf && entry.offset >= hunk) {
      return "map makes " + Hunk(hunk) + " a copy of " + Hunk(entry.offset) +
             ", which does not come before it";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ParseCompressedMap(std::span<const std::uint8_t> bytes,
                                              const Header& header, std::uint64_t fileSize,
                                              std::vector<MapEntry>* map) {
  if (bytes.size() < kMapHeaderBytes) {
    return std::string("map is cut short");
  }
  const std::uint64_t length = BigEndian(bytes, 0, 4);
  MapFields fields{BigEndian(bytes, 4, 6), bytes[12], bytes[13], bytes[14]};
  const auto crc = static_cast<std::uint16_t>(BigEndian(bytes, 10, 2));
  if (length > bytes.size() - kMapHeaderBytes) {
    return "map takes " + std::to_string(length) +
           " bytes, more than the file holds: the file is cut short";
  }
  if (fields.lengthBits > 32 || fields.selfBits > 32 || fields.parentBits > 32) {
    return std::string("map's field widths are over 32 bits");
  }
  BitReader bits(bytes.subspan(kMapHeaderBytes, static_cast<std::size_t>(length)));
  KindCode code;
  const auto count = static_cast<std::size_t>(header.hunkCount);
  std::vector<std::uint8_t> kinds(count);
  if (auto wrong = code.Import(bits)) {
    return wrong;
  }
  if (auto wrong = DecodeKinds(bits, code, &kinds)) {
    return wrong;
  }
  std::vector<std::uint8_t> raw(count * 12);
  map->assign(count, MapEntry{});
  for (std::size_t hunk = 0; hunk < count; ++hunk) {
    if (!DecodeEntry(bits, kinds[hunk], hunk, header, fields, &(*map)[hunk], &raw[hunk * 12])) {
      return "map gives " + Hunk(hunk) + " the unknown kind " + std::to_string(kinds[hunk]);
    }
  }
  if (Crc16(raw) != crc) {
    return std::string("map fails its CRC check: the file is damaged");
  }
  return CheckEntries(*map, header, fileSize);
}

}  // namespace cgvw::disc::chd
