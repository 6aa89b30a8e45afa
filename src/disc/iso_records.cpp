// Directory records, Rock Ridge names and the parsing of a directory
// (iso_records.h; the byte layouts are in iso9660.h).
#include "iso_records.h"

#include <algorithm>
#include <array>

namespace cgvw::disc::iso9660 {
namespace {

constexpr std::size_t kSectorBytes = 2048;
constexpr std::size_t kShortestRecord = 34;  // 33 bytes and a 1-byte identifier
constexpr int kMostContinuationAreas = 8;
constexpr std::size_t kLongestName = 1024;

bool Is(std::span<const std::uint8_t> entry, const char (&signature)[3]) {
  return entry[0] == static_cast<std::uint8_t>(signature[0]) &&
         entry[1] == static_cast<std::uint8_t>(signature[1]);
}

// A SUSP continuation area: where the entries go on.
struct Continuation {
  std::uint64_t sector;
  std::uint32_t offset;
  std::uint32_t length;
};

// Goes through one area's SUSP entries: the NM parts appended to `name`,
// the CE entry (if any) returned.
std::optional<Continuation> TakeEntries(std::span<const std::uint8_t> entries, std::string* name,
                                        bool* named) {
  std::optional<Continuation> next;
  for (std::size_t at = 0; at + 4 <= entries.size();) {
    const std::span<const std::uint8_t> entry = entries.subspan(at);
    const std::size_t length = entry[2];
    if (length < 4 || length > entry.size() || Is(entry, "ST")) {
      break;
    }
    if (Is(entry, "CE") && length >= 28) {
      next = Continuation{Le32(entry, 4), Le32(entry, 12), Le32(entry, 20)};
    } else if (Is(entry, "NM") && length >= 5) {
      const std::uint8_t flags = entry[4];
      *named = true;
      if ((flags & 0x06) != 0) {
        *name = (flags & 0x02) != 0 ? "." : "..";
      } else {
        name->append(entry.begin() + 5, entry.begin() + static_cast<std::ptrdiff_t>(length));
      }
    }
    at += length;
  }
  return next;
}

}  // namespace

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::optional<Record> ParseRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kShortestRecord) {
    return std::nullopt;
  }
  const std::size_t length = bytes[0];
  const std::size_t identifier = bytes[32];
  if (length < kShortestRecord || length > bytes.size() || identifier == 0 ||
      33 + identifier > length) {
    return std::nullopt;
  }
  Record record;
  record.length = static_cast<std::uint8_t>(length);
  record.extent = std::uint64_t{Le32(bytes, 2)} + bytes[1];
  record.size = Le32(bytes, 10);
  record.flags = bytes[25];
  record.identifier = bytes.subspan(33, identifier);
  const std::size_t systemUse = 33 + identifier + (identifier % 2 == 0 ? 1 : 0);
  if (systemUse < length) {
    record.systemUse = bytes.subspan(systemUse, length - systemUse);
  }
  return record;
}

std::optional<std::uint8_t> SuspSkip(std::span<const std::uint8_t> systemUse) {
  if (systemUse.size() >= 7 && Is(systemUse, "SP") && systemUse[2] >= 7 && systemUse[4] == 0xBE &&
      systemUse[5] == 0xEF) {
    return systemUse[6];
  }
  return std::nullopt;
}

std::optional<std::string> RockRidgeName(std::span<const std::uint8_t> systemUse, std::uint8_t skip,
                                         const Volume& volume) {
  std::string name;
  bool named = false;
  std::array<std::uint8_t, kSectorBytes> area{};
  std::span<const std::uint8_t> entries =
      systemUse.size() > skip ? systemUse.subspan(skip) : std::span<const std::uint8_t>();
  for (int areas = 0;; ++areas) {
    const std::optional<Continuation> next = TakeEntries(entries, &name, &named);
    // A continuation area lies inside one sector of the volume.
    if (!next || areas == kMostContinuationAreas || next->length == 0 ||
        next->offset >= kSectorBytes || next->length > kSectorBytes - next->offset ||
        next->sector >= volume.sectors ||
        !volume.reader.ReadSectors(next->sector, 1, area.data(), nullptr)) {
      break;
    }
    entries = std::span<const std::uint8_t>(area).subspan(next->offset, next->length);
  }
  if (!named || name.empty() || name.size() > kLongestName) {
    return std::nullopt;
  }
  return name;
}

}  // namespace cgvw::disc::iso9660
