// The parts of the ISO 9660 reader (iso9660.h holds the byte layouts):
// directory records, their Rock Ridge names, and the parsing of a
// directory's bytes into entries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "iso9660.h"
#include "tracks.h"

namespace cgvw::disc::iso9660 {

inline constexpr std::uint8_t kDirectoryFlag = 0x02;
inline constexpr std::uint8_t kAssociatedFlag = 0x04;
inline constexpr std::uint8_t kMoreExtentsFlag = 0x80;

// One directory record, its lengths checked against its bytes.
struct Record {
  std::span<const std::uint8_t> identifier;
  std::span<const std::uint8_t> systemUse;
  std::uint64_t extent = 0;  // the first sector of the data (after an extended attribute record)
  std::uint32_t size = 0;
  std::uint8_t flags = 0;
  std::uint8_t length = 0;  // of the whole record
};
// The record at the start of `bytes` (the rest of its sector); nullopt if
// its lengths do not fit.
std::optional<Record> ParseRecord(std::span<const std::uint8_t> bytes);
std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at);

// Where the volume's sectors are read from, for SUSP continuation areas.
struct Volume {
  TrackReader& reader;
  std::uint64_t sectors;
};

// The skip count of SUSP if the system use area (of the root's "." record)
// starts with an SP entry; nullopt otherwise.
std::optional<std::uint8_t> SuspSkip(std::span<const std::uint8_t> systemUse);
// The Rock Ridge name of a record (its NM entries, through CE areas);
// nullopt if it has none or they cannot be read.
std::optional<std::string> RockRidgeName(std::span<const std::uint8_t> systemUse, std::uint8_t skip,
                                         const Volume& volume);

// The entries of a directory whose bytes (whole sectors) are `bytes`, of
// which `size` are its records; false, with `why`, if a record is damaged.
bool ParseDirectory(std::span<const std::uint8_t> bytes, std::uint64_t size, const Names& names,
                    const Volume& volume, std::vector<Entry>* entries, std::string* why);

}  // namespace cgvw::disc::iso9660
