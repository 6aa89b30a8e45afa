// The data track of a disc image, read by the program itself: its file
// (opened once), the format of its sectors, and where sector 0 is and
// where the track ends in the file. Each sector is read once as long as it
// is among the last 64 read; raw sectors are checked (sync pattern, header
// mode and address, form 1) before their user data is used.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/read_only_file.h"
#include "sectors.h"

namespace cgvw::disc {

// Where, and why, a file's data could not be read in full.
struct ReadStop {
  std::uint64_t sector = 0;  // of the data track: the first that could not be read
  std::string why;           // "\"disc.bin\" ends before sector 3001", ...
};

class DataTrackFile {
 public:
  // The sectors the cache keeps, and the most that one read of the file asks for.
  static constexpr std::size_t kCachedSectors = 64;

  DataTrackFile() = default;
  // Takes the open file; `name` is how messages name it.
  void Use(platform::ReadOnlyFile file, std::string name, const SectorFormat& format,
           std::uint64_t firstByte, std::uint64_t endByte);

  const platform::ReadOnlyFile& file() const { return file_; }
  const std::string& name() const { return name_; }
  const SectorFormat& format() const { return format_; }

  // Reads `size` bytes of user data from byte `offset` of the track's data
  // (sector 0's first byte is 0) into `dest`; false, with `stop` filled,
  // when a sector cannot be read. `got` counts the bytes placed.
  bool Read(std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got, ReadStop* stop);

 private:
  bool ReadSectors(std::uint64_t first, std::size_t count, std::uint8_t* out, ReadStop* stop);
  bool Stop(ReadStop* stop, std::uint64_t sector, std::string why) const;

  platform::ReadOnlyFile file_;
  std::string name_;
  SectorFormat format_ = kPlainSectors;
  std::uint64_t firstByte_ = 0;
  std::uint64_t endByte_ = 0;
  // The sectors read last: slot s % kCachedSectors holds sector s's user
  // data if tags_[slot] == s. The raw bytes of one file read go to raw_,
  // the user data of one request's sectors to chunk_.
  std::array<std::uint64_t, kCachedSectors> tags_{};
  std::vector<std::uint8_t> cache_;
  std::vector<std::uint8_t> raw_;
  std::vector<std::uint8_t> chunk_;
};

}  // namespace cgvw::disc
