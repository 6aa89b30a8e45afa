// The volume descriptors and directories of an ISO 9660 file system
// (iso9660.h holds the byte layouts).
#include "iso9660.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "iso_records.h"
#include "messages.h"

namespace cgvw::disc::iso9660 {
namespace {

constexpr std::uint64_t kSectorBytes = 2048;
constexpr std::uint64_t kFirstDescriptor = 16;
constexpr std::uint64_t kMostDescriptors = 32;
constexpr std::size_t kRootRecord = 156;

using Sector = std::array<std::uint8_t, kSectorBytes>;

// The descriptors that name a tree: the primary one, and a Joliet one.
struct Descriptors {
  std::optional<Sector> primary;
  std::optional<Sector> joliet;
};

bool IsJoliet(const Sector& descriptor) {
  return descriptor[88] == '%' && descriptor[89] == '/' &&
         (descriptor[90] == '@' || descriptor[90] == 'C' || descriptor[90] == 'E');
}

// Reads the volume descriptor set from sector 16 of the track on, up to
// its terminator (or the first sector that is no volume descriptor).
bool ReadDescriptors(TrackReader& reader, Descriptors* found, std::string* why) {
  Sector sector{};
  for (std::uint64_t i = 0; i < kMostDescriptors; ++i) {
    ReadFault fault;
    if (!reader.ReadSectors(reader.track().first() + kFirstDescriptor + i, 1, sector.data(),
                            &fault)) {
      *why = fault.why;
      return false;
    }
    if (std::memcmp(&sector[1], "CD001", 5) != 0 || sector[0] == 255) {
      break;
    }
    if (sector[0] == 1 && !found->primary) {
      found->primary = sector;
    } else if (sector[0] == 2 && !found->joliet && IsJoliet(sector)) {
      found->joliet = sector;
    }
  }
  if (!found->primary) {
    *why = "no primary volume descriptor in sectors 16 to 47 of the data track";
    return false;
  }
  return true;
}

// Reads the whole of a directory's sectors, once its size is known to be
// that of a directory.
bool ReadDirectory(TrackReader& reader, const Entry& directory, std::uint64_t volumeSectors,
                   std::vector<std::uint8_t>* bytes, std::string* why) {
  const std::string where =
      "the directory in sector " +
      std::to_string(directory.extents.empty() ? 0 : directory.extents[0].sector);
  if (directory.extents.size() != 1 || directory.size == 0) {
    *why = where + " is recorded in " + Counted(directory.extents.size(), "extent", "extents");
    return false;
  }
  if (directory.size > kMostDirectoryBytes) {
    *why = where + " claims " + std::to_string(directory.size) +
           " bytes: a directory of more than 4 MiB is refused";
    return false;
  }
  if (directory.beyondVolume) {
    *why = where + " lies beyond the end of the volume (" + std::to_string(volumeSectors) +
           " sectors)";
    return false;
  }
  const std::uint64_t sectors = (directory.size + kSectorBytes - 1) / kSectorBytes;
  const SectorTrack& track = reader.track();
  const std::uint64_t start = directory.extents[0].sector;
  if (start < track.first() || start - track.first() + sectors > track.count()) {
    *why = where + " lies outside the data track (sectors " + std::to_string(track.first()) +
           " to " + std::to_string(track.first() + track.count() - 1) + ")";
    return false;
  }
  bytes->resize(sectors * kSectorBytes);
  ReadFault fault;
  if (!reader.ReadSectors(directory.extents[0].sector, sectors, bytes->data(), &fault)) {
    *why = fault.why;
    return false;
  }
  return true;
}

}  // namespace

std::optional<FileSystem> FileSystem::Read(TrackReader& reader, std::string* why) {
  Descriptors found;
  if (!ReadDescriptors(reader, &found, why)) {
    return std::nullopt;
  }
  const Sector& primary = *found.primary;
  const std::uint32_t blockSize = primary[128] | (primary[129] << 8);
  if (blockSize != kSectorBytes) {
    *why = "logical blocks of " + Counted(blockSize, "byte", "bytes") + ", not 2048";
    return std::nullopt;
  }
  FileSystem system;
  // The volume's end: its size counted from the disc's sector 0, or (as
  // some writers of a session that follows audio count it) from the track's
  // first sector; the later of the two bounds every extent.
  system.volumeSectors_ = reader.track().first() + Le32(primary, 80);
  const Sector& tree = found.joliet ? *found.joliet : primary;
  const std::optional<Record> root =
      ParseRecord(std::span<const std::uint8_t>(tree).subspan(kRootRecord, 34));
  if (!root || (root->flags & kDirectoryFlag) == 0) {
    *why = "the root directory's record is damaged";
    return std::nullopt;
  }
  system.names_.joliet = found.joliet.has_value();
  Entry directory{"", true, root->size, {{root->extent, root->size}}, false};
  directory.beyondVolume =
      root->extent > system.volumeSectors_ ||
      (root->size + kSectorBytes - 1) / kSectorBytes > system.volumeSectors_ - root->extent;
  std::vector<std::uint8_t> bytes;
  if (!ReadDirectory(reader, directory, system.volumeSectors_, &bytes, why)) {
    return std::nullopt;
  }
  // SUSP (and with it Rock Ridge) is in use where the root's first record,
  // its ".", starts with SP; only a primary tree has it.
  const auto self = ParseRecord(std::span<const std::uint8_t>(bytes).first(kSectorBytes));
  if (const auto skip = self && !system.names_.joliet ? SuspSkip(self->systemUse) : std::nullopt) {
    system.names_.rockRidge = true;
    system.names_.suspSkip = *skip;
  }
  if (!system.Parse(reader, directory, bytes, &system.root_, why)) {
    return std::nullopt;
  }
  return system;
}

bool FileSystem::List(TrackReader& reader, const Entry& directory, std::vector<Entry>* entries,
                      std::string* why) const {
  std::vector<std::uint8_t> bytes;
  return ReadDirectory(reader, directory, volumeSectors_, &bytes, why) &&
         Parse(reader, directory, bytes, entries, why);
}

bool FileSystem::Parse(TrackReader& reader, const Entry& directory,
                       std::span<const std::uint8_t> bytes, std::vector<Entry>* entries,
                       std::string* why) const {
  entries->clear();
  if (!ParseDirectory(bytes, directory.size, names_, {reader, volumeSectors_}, entries, why)) {
    *why =
        "the directory in sector " + std::to_string(directory.extents[0].sector) + " has " + *why;
    return false;
  }
  return true;
}

}  // namespace cgvw::disc::iso9660
