#include "tracks.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "messages.h"

namespace cgvw::disc {

ImageTrack::ImageTrack(std::unique_ptr<ByteSource> bytes, const Layout& layout)
    : bytes_(std::move(bytes)),
      layout_(layout),
      count_(layout.endByte > layout.firstByte
                 ? (layout.endByte - layout.firstByte) / layout.format.bytes
                 : 0) {}

bool ImageTrack::Fail(ReadFault* fault, std::uint64_t sector, const std::string& why) const {
  if (fault != nullptr) {
    fault->sector = sector;
    fault->why = Quoted(bytes_->name()) + why;
  }
  return false;
}

bool ImageTrack::Read(std::uint64_t sector, std::size_t count, std::uint8_t* out,
                      ReadFault* fault) {
  const SectorFormat& format = layout_.format;
  if (sector < first()) {
    return Fail(fault, sector,
                ": sector " + std::to_string(sector) + " lies before the data track, which " +
                    "begins at sector " + std::to_string(first()));
  }
  const std::uint64_t inTrack = sector - first();
  const std::uint64_t available = inTrack < count_ ? count_ - inTrack : 0;
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, available));
  raw_.resize(wanted * format.bytes);
  const ByteRead read = bytes_->ReadAt(layout_.firstByte + inTrack * format.bytes, raw_);
  const std::size_t whole = read.got / format.bytes;
  for (std::size_t i = 0; i < whole; ++i) {
    const std::span<const std::uint8_t> bytes(&raw_[i * format.bytes], format.bytes);
    if (const SectorCheck check = CheckSector(format, bytes, sector + i);
        check.fault != SectorFault::kNone) {
      return Fail(fault, sector + i,
                  ": sector " + std::to_string(sector + i) + " " + SectorFaultText(check));
    }
    std::memcpy(out + i * kUserBytes, &bytes[format.dataOffset], kUserBytes);
  }
  if (read.error) {
    return Fail(fault, sector + whole,
                ": sector " + std::to_string(sector + whole) + ": " + read.error.message());
  }
  if (whole < count) {
    const bool fileEnds = layout_.endByte >= bytes_->size() || whole < wanted;
    return Fail(fault, sector + whole,
                std::string(fileEnds ? "" : ": the data track") + " ends before sector " +
                    std::to_string(sector + whole));
  }
  return true;
}

TrackReader::TrackReader(std::unique_ptr<SectorTrack> track)
    : track_(std::move(track)),
      cache_(kCachedSectors * kUserBytes),
      run_(kCachedSectors * kUserBytes),
      chunk_(kCachedSectors * kUserBytes) {
  tags_.fill(std::numeric_limits<std::uint64_t>::max());
}

// Reads `count` (at most kCachedSectors) sectors, each from the cache if it
// is there, the others in runs of one read.
bool TrackReader::ReadRun(std::uint64_t first, std::size_t count, std::uint8_t* out,
                          ReadFault* fault) {
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
    while (runEnd < end && tags_[runEnd % kCachedSectors] != runEnd) {
      ++runEnd;
    }
    const auto run = static_cast<std::size_t>(runEnd - sector);
    if (!track_->Read(sector, run, run_.data(), fault)) {
      return false;
    }
    for (std::size_t i = 0; i < run; ++i, ++sector) {
      const std::size_t at = sector % kCachedSectors;
      std::memcpy(&cache_[at * kUserBytes], &run_[i * kUserBytes], kUserBytes);
      tags_[at] = sector;
      std::memcpy(out + (sector - first) * kUserBytes, &run_[i * kUserBytes], kUserBytes);
    }
  }
  return true;
}

bool TrackReader::ReadSectors(std::uint64_t sector, std::size_t count, std::uint8_t* out,
                              ReadFault* fault) {
  for (std::size_t done = 0; done < count;) {
    const std::size_t part = std::min(count - done, kCachedSectors);
    if (!ReadRun(sector + done, part, out + done * kUserBytes, fault)) {
      return false;
    }
    done += part;
  }
  return true;
}

bool TrackReader::ReadBytes(std::uint64_t sector, std::uint64_t offset,
                            std::span<std::uint8_t> dest, std::size_t* got, ReadFault* fault) {
  *got = 0;
  while (*got < dest.size()) {
    const std::uint64_t position = offset + *got;
    const std::size_t within = position % kUserBytes;
    const std::size_t remaining = dest.size() - *got;
    const std::size_t count =
        std::min<std::size_t>(kCachedSectors, (within + remaining + kUserBytes - 1) / kUserBytes);
    if (!ReadRun(sector + position / kUserBytes, count, chunk_.data(), fault)) {
      return false;
    }
    const std::size_t take = std::min(remaining, count * kUserBytes - within);
    std::memcpy(dest.data() + *got, chunk_.data() + within, take);
    *got += take;
  }
  return true;
}

}  // namespace cgvw::disc
