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

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  static const std::array<std::uint16_t, 256> table = [] {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
      for (int bit = 0; bit < 8; ++bit) {
        crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
      }
      t[i] = crc;
    }
    return t;
  }();
  std::uint16_t crc = 0xFFFF;
  for (const std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ byte) & 0xFF]);
  }
  return crc;
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

std::optional<std::string> ParseCompressedMap(std::span<const std::uint8_t> bytes,
                                              const Header& header, std::uint64_t fileSize,
                                              std::vector<MapEntry>* map) {
  if (bytes.size() < kMapHeaderBytes) {
    return std::string("map is cut short");
  }
  const std::uint64_t length = BigEndian(bytes, 0, 4);
  std::uint64_t offset = BigEndian(bytes, 4, 6);
  const auto crc = static_cast<std::uint16_t>(BigEndian(bytes, 10, 2));
  const unsigned lengthBits = bytes[12];
  const unsigned selfBits = bytes[13];
  const unsigned parentBits = bytes[14];
  if (length > bytes.size() - kMapHeaderBytes) {
    return "map takes " + std::to_string(length) +
           " bytes, more than the file holds: the file is cut short";
  }
  if (lengthBits > 32 || selfBits > 32 || parentBits > 32) {
    return std::string("map's field widths are over 32 bits");
  }
  BitReader bits(bytes.subspan(kMapHeaderBytes, static_cast<std::size_t>(length)));
  KindCode code;
  if (auto wrong = code.Import(bits)) {
    return wrong;
  }
  const auto count = static_cast<std::size_t>(header.hunkCount);
  std::vector<std::uint8_t> kinds(count);
  std::uint8_t last = 0;
  std::uint64_t repeat = 0;
  for (std::size_t hunk = 0; hunk < count; ++hunk) {
    if (repeat > 0) {
      kinds[hunk] = last;
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
      kinds[hunk] = last;
    } else {
      kinds[hunk] = last = static_cast<std::uint8_t>(*symbol);
    }
  }
  std::vector<std::uint8_t> raw(count * 12);
  map->assign(count, MapEntry{});
  std::uint64_t lastSelf = 0;
  std::uint64_t lastParent = 0;
  const std::uint64_t unitsPerHunk = header.hunkBytes / header.unitBytes;
  for (std::size_t hunk = 0; hunk < count; ++hunk) {
    MapEntry& entry = (*map)[hunk];
    std::uint8_t kind = kinds[hunk];
    std::uint64_t at = 0;
    std::uint32_t stored = 0;
    std::uint16_t sum = 0;
    switch (kind) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
        stored = kind == 4 ? header.hunkBytes : bits.Read(lengthBits);
        at = offset;
        offset += stored;
        sum = static_cast<std::uint16_t>(bits.Read(16));
        break;
      case 5:
        at = lastSelf = bits.Read(selfBits);
        break;
      case 6:
        at = lastParent = bits.Read(parentBits);
        break;
      case kSelfNext:
        ++lastSelf;
        [[fallthrough]];
      case kSelfSame:
        kind = 5;
        at = lastSelf;
        break;
      case kParentSelf:
        kind = 6;
        at = lastParent = hunk * unitsPerHunk;
        break;
      case kParentNext:
        lastParent += unitsPerHunk;
        [[fallthrough]];
      case kParentSame:
        kind = 6;
        at = lastParent;
        break;
      default:
        return "map gives " + Hunk(hunk) + " the unknown kind " + std::to_string(kind);
    }
    std::uint8_t* out = &raw[hunk * 12];
    out[0] = kind;
    PutBig(out + 1, stored, 3);
    PutBig(out + 4, at, 6);
    PutBig(out + 10, sum, 2);
    entry.kind = static_cast<HunkKind>(kind);
    entry.codec = kind < 4 ? kind : 0;
    entry.length = stored;
    entry.offset = at;
    if (kind <= 4) {
      entry.crc = sum;
    }
  }
  if (Crc16(raw) != crc) {
    return std::string("map fails its CRC check: the file is damaged");
  }
  for (std::size_t hunk = 0; hunk < count; ++hunk) {
    const MapEntry& entry = (*map)[hunk];
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

std::optional<std::string> ParseStoredMap(std::span<const std::uint8_t> bytes, const Header& header,
                                          std::uint64_t fileSize, std::vector<MapEntry>* map) {
  const auto count = static_cast<std::size_t>(header.hunkCount);
  if (bytes.size() / 4 < count) {
    return std::string("map is cut short: the file is cut short");
  }
  map->assign(count, MapEntry{});
  for (std::size_t hunk = 0; hunk < count; ++hunk) {
    MapEntry& entry = (*map)[hunk];
    const std::uint64_t place = BigEndian(bytes, 4 * hunk, 4);
    if (place == 0) {
      entry.kind = header.HasParent() ? HunkKind::kParent : HunkKind::kZeros;
      entry.offset = hunk * (header.hunkBytes / header.unitBytes);
      continue;
    }
    entry.kind = HunkKind::kStored;
    entry.length = header.hunkBytes;
    entry.offset = place * header.hunkBytes;
    if (entry.offset > fileSize || entry.length > fileSize - entry.offset) {
      return Hunk(hunk) + " lies beyond the end of the file (" + std::to_string(fileSize) +
             " bytes): the file is cut short";
    }
  }
  return std::nullopt;
}

std::optional<std::string> ParseTrack(std::string_view text, Track* track) {
  while (!text.empty() && text.back() == '\0') {
    text.remove_suffix(1);
  }
  bool haveNumber = false;
  bool haveType = false;
  bool haveFrames = false;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) {
      continue;
    }
    const std::size_t colon = word.find(':');
    if (colon == std::string_view::npos) {
      return "track text has the word \"" + std::string(word.substr(0, 40)) + "\" without a value";
    }
    const std::string_view key = word.substr(0, colon);
    const std::string_view value = word.substr(colon + 1);
    const auto number = [&](std::uint64_t* out) {
      if (value.empty() || value.size() > 9 ||
          !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
      }
      *out = 0;
      for (const char c : value) {
        *out = *out * 10 + static_cast<unsigned>(c - '0');
      }
      return true;
    };
    std::uint64_t n = 0;
    bool good = true;
    if (key == "TRACK") {
      good = number(&n) && n >= 1 && n <= 99;
      track->number = static_cast<unsigned>(n);
      haveNumber = good;
    } else if (key == "TYPE") {
      track->type = std::string(value);
      haveType = !value.empty();
    } else if (key == "FRAMES") {
      good = number(&track->frames) && track->frames <= kMostDiscSectors;
      haveFrames = good;
    } else if (key == "PREGAP") {
      good = number(&track->pregap) && track->pregap <= kMostDiscSectors;
    } else if (key == "POSTGAP") {
      good = number(&track->postgap) && track->postgap <= kMostDiscSectors;
    } else if (key == "PGTYPE") {
      track->pregapStored = !value.empty() && value.front() == 'V';
    }
    if (!good) {
      return "track text has " + std::string(key) + " " + std::string(value.substr(0, 40)) +
             ", which is no number of a disc";
    }
  }
  if (!haveNumber || !haveType || !haveFrames) {
    return std::string("track text lacks its TRACK, TYPE or FRAMES");
  }
  return std::nullopt;
}

std::optional<std::string> FindDataTrack(std::span<const Track> tracks, DataTrack* data) {
  if (tracks.empty()) {
    return std::string("metadata describes no track of a CD");
  }
  std::uint64_t frame = 0;   // in the file
  std::uint64_t sector = 0;  // on the disc, sector 0 at 00:02:00 (the first track's pregap is
                             // before it)
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const Track& track = tracks[i];
    if (track.number != i + 1) {
      return "metadata gives track " + std::to_string(track.number) + " where track " +
             std::to_string(i + 1) + " belongs";
    }
    const std::uint64_t storedPregap = track.pregapStored ? track.pregap : 0;
    if (storedPregap > track.frames) {
      return "track " + std::to_string(track.number) + " has a pregap longer than itself";
    }
    if (i > 0) {
      sector += track.pregap;
    }
    if (track.type != "AUDIO") {
      static constexpr struct {
        std::string_view type;
        SectorFormat format;
      } kTypes[] = {
          {"MODE1", {kFrameBytes, 0, 0}},
          {"MODE1_RAW", {kFrameBytes, kMode1Raw.dataOffset, 1}},
          {"MODE2_RAW", {kFrameBytes, kMode2Raw.dataOffset, 2}},
          {"MODE2_FORM1", {kFrameBytes, 0, 0}},
      };
      for (const auto& known : kTypes) {
        if (known.type == track.type) {
          data->format = known.format;
          data->firstFrame = frame + storedPregap;
          data->sectors = track.frames - storedPregap;
          data->firstSector = sector;
          return std::nullopt;
        }
      }
      return "track " + std::to_string(track.number) + " is of the type " +
             std::string(track.type.substr(0, 40)) + ", which holds no data read here";
    }
    frame += (track.frames + 3) / 4 * 4;
    sector += track.frames - storedPregap + track.postgap;
  }
  return std::string("tracks are all audio: the disc has no data track");
}

}  // namespace cgvw::disc::chd
