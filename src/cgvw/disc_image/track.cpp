#include "track.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace cgvw::disc {

void DataTrackFile::Use(platform::ReadOnlyFile file, std::string name, const SectorFormat& format,
                        std::uint64_t firstByte, std::uint64_t endByte) {
  file_ = std::move(file);
  name_ = std::move(name);
  format_ = format;
  firstByte_ = firstByte;
  endByte_ = endByte;
  cache_.assign(kCachedSectors * kUserBytes, 0);
  chunk_.assign(kCachedSectors * kUserBytes, 0);
  tags_.fill(std::numeric_limits<std::uint64_t>::max());
}

bool DataTrackFile::Stop(ReadStop* stop, std::uint64_t sector, std::string why) const {
  if (stop != nullptr) {
    stop->sector = sector;
    stop->why = "\"" + name_ + "\"" + why;
  }
  return false;
}

// Reads the user data of `count` sectors from `first` on into `out`, each
// sector from the cache if it is there, the others in runs of one read.
bool DataTrackFile::ReadSectors(std::uint64_t first, std::size_t count, std::uint8_t* out,
                                ReadStop* stop) {
  const std::uint64_t inTrack = (endByte_ - firstByte_) / format_.bytes;
  std::uint64_t sector = first;
  const std::uint64_t end = first + count;
  while (sector < end) {
    const std::size_t slot = sector % kCachedSectors;
    if (tags_[slot] == sector) {
      std::memcpy(out + (sector - first) * kUserBytes, &cache_[slot * kUserBytes], kUserBytes);
      ++sector;
      continue;
    }
    std::uint64_t runEnd = sector + 1;  // the run that the cache does not hold
    while (runEnd < end && runEnd - sector < kCachedSectors &&
           tags_[runEnd % kCachedSectors] != runEnd) {
      ++runEnd;
    }
    runEnd = std::min(runEnd, inTrack);
    if (sector >= runEnd) {
      return Stop(stop, sector, " ends before sector " + std::to_string(sector));
    }
    raw_.resize(static_cast<std::size_t>(runEnd - sector) * format_.bytes);
    std::size_t got = 0;
    std::error_code error;
    const bool read = file_.ReadAt(firstByte_ + sector * format_.bytes, raw_, &got, &error);
    for (std::uint64_t i = 0; i < got / format_.bytes; ++i, ++sector) {
      const std::span<const std::uint8_t> bytes(&raw_[i * format_.bytes], format_.bytes);
      if (const SectorFault fault = CheckSector(format_, bytes, sector);
          fault != SectorFault::kNone) {
        return Stop(stop, sector,
                    ": sector " + std::to_string(sector) + " has " + SectorFaultText(fault));
      }
      const std::size_t at = sector % kCachedSectors;
      std::memcpy(&cache_[at * kUserBytes], &bytes[format_.dataOffset], kUserBytes);
      tags_[at] = sector;
      std::memcpy(out + (sector - first) * kUserBytes, &bytes[format_.dataOffset], kUserBytes);
    }
    if (!read) {
      return Stop(stop, sector, ": sector " + std::to_string(sector) + ": " + error.message());
    }
    if (sector < runEnd) {
      return Stop(stop, sector, " ends before sector " + std::to_string(sector));
    }
  }
  return true;
}

bool DataTrackFile::Read(std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
                         ReadStop* stop) {
  *got = 0;
  while (*got < dest.size()) {
    const std::uint64_t position = offset + *got;
    const std::size_t within = position % kUserBytes;
    const std::size_t remaining = dest.size() - *got;
    const std::size_t count =
        std::min<std::size_t>(kCachedSectors, (within + remaining + kUserBytes - 1) / kUserBytes);
    if (!ReadSectors(position / kUserBytes, count, chunk_.data(), stop)) {
      return false;
    }
    const std::size_t take = std::min(remaining, count * kUserBytes - within);
    std::memcpy(dest.data() + *got, chunk_.data() + within, take);
    *got += take;
  }
  return true;
}

}  // namespace cgvw::disc
