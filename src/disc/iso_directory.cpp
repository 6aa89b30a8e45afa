// A directory's records as entries, and their names (iso_records.h).
#include <algorithm>

#include "iso_records.h"

namespace cgvw::disc::iso9660 {
namespace {

constexpr std::uint64_t kSectorBytes = 2048;

void AppendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The name of a record as the tree records it.
std::string NameOf(const Record& record, const Names& names, const Volume& volume) {
  if (names.joliet) {
    return LookupName(JolietName(record.identifier));
  }
  if (names.rockRidge) {
    if (auto name = RockRidgeName(record.systemUse, names.suspSkip, volume)) {
      return *name;
    }
  }
  return LookupName(std::string(record.identifier.begin(), record.identifier.end()));
}

bool Within(const Extent& extent, std::uint64_t volumeSectors) {
  const std::uint64_t sectors = (extent.bytes + kSectorBytes - 1) / kSectorBytes;
  return extent.sector <= volumeSectors && sectors <= volumeSectors - extent.sector;
}

}  // namespace

std::string LookupName(std::string name) {
  const std::size_t semicolon = name.rfind(';');
  if (semicolon != std::string::npos &&
      std::all_of(name.begin() + static_cast<std::ptrdiff_t>(semicolon) + 1, name.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    name.erase(semicolon);
  }
  if (name.size() > 1 && name.back() == '.') {
    name.pop_back();
  }
  return name;
}

std::string JolietName(std::span<const std::uint8_t> recorded) {
  std::string name;
  for (std::size_t i = 0; i + 1 < recorded.size(); i += 2) {
    std::uint32_t code = (recorded[i] << 8) | recorded[i + 1];
    if (code >= 0xD800 && code < 0xDC00 && i + 3 < recorded.size()) {
      const std::uint32_t low = (recorded[i + 2] << 8) | recorded[i + 3];
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(code >= 0xD800 && code < 0xE000 ? 0xFFFD : code, &name);
  }
  return name;
}

bool ParseDirectory(std::span<const std::uint8_t> bytes, std::uint64_t size, const Names& names,
                    const Volume& volume, std::vector<Entry>* entries, std::string* why) {
  bool continues = false;  // the last record's file goes on in this one
  for (std::uint64_t at = 0; at < size;) {
    const std::uint64_t sectorEnd = (at / kSectorBytes + 1) * kSectorBytes;
    if (bytes[at] == 0) {
      at = sectorEnd;
      continue;
    }
    const std::optional<Record> record = ParseRecord(bytes.subspan(at, sectorEnd - at));
    if (!record) {
      *why = "a damaged record at byte " + std::to_string(at);
      return false;
    }
    at += record->length;
    const bool self = record->identifier.size() == 1 && record->identifier[0] <= 1;
    if (self || (record->flags & kAssociatedFlag) != 0) {
      continues = false;
      continue;
    }
    const Extent extent{record->extent, record->size};
    if (continues && !entries->empty()) {
      entries->back().extents.push_back(extent);
      entries->back().size += extent.bytes;
    } else {
      entries->push_back({NameOf(*record, names, volume),
                          (record->flags & kDirectoryFlag) != 0,
                          extent.bytes,
                          {extent},
                          false});
    }
    entries->back().beyondVolume |= !Within(extent, volume.sectors);
    continues = (record->flags & kMoreExtentsFlag) != 0;
  }
  return true;
}

}  // namespace cgvw::disc::iso9660
