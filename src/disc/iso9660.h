// The ISO 9660 file system of a data track, read over the track's sectors
// and bounded by construction: a volume descriptor set of at most 32
// sectors, directories of at most 4 MiB (refused before anything is
// allocated for them), every extent checked against the volume, Rock Ridge
// continuation areas at most 8 per record and inside one sector each.
//
// Byte layouts (ECMA-119; all numbers both-endian, the little-endian half
// read: a 32-bit number at N is little-endian at N and big-endian at N+4):
//
// Volume descriptor (2048 bytes, from sector 16 of the track on, until a
// terminator):
//   0       type: 1 primary, 2 supplementary, 255 terminator (0 boot, 3 partition)
//   1-5     "CD001"
//   6       version
//   80      volume space size, sectors (32-bit)
//   88-90   supplementary: escape sequence "%/@", "%/C" or "%/E": Joliet
//   128     logical block size (16-bit): 2048
//   156-189 the root directory's record
//
// Directory record (directories are runs of records; a record never
// crosses a sector, a length byte of 0 ends the records of a sector):
//   0       length of the record
//   1       length of the extended attribute record (sectors before the data)
//   2       extent: the first sector of the data (32-bit)
//   10      data length, bytes (32-bit)
//   25      flags: bit 1 directory, bit 2 associated file, bit 7 the file
//           goes on in the next record (a file of several extents)
//   32      length of the identifier, L
//   33      identifier: 0x00 "." (the first record), 0x01 ".." (the second),
//           else the name: d-characters with ";1" (ISO 9660), UCS-2
//           big-endian (Joliet)
//   33+L    a pad byte if L is even, then the system use area (SUSP)
//
// SUSP entries (in the system use area, after SP's skip count; in
// continuation areas): 2-byte signature, length, version, data:
//   SP  (in the root's "." record) 0xBE 0xEF, then the bytes to skip
//   CE  continuation area: sector (32-bit), offset (32-bit), length (32-bit)
//   NM  Rock Ridge name: flags (bit 0 continues in the next NM, bit 1 ".",
//       bit 2 ".."), then a part of the name
//   ST  the end of the entries
//
// Names: the Joliet tree where the volume has one, else the Rock Ridge
// names (NM) where the root's "." record starts SUSP, else the ISO 9660
// names; Joliet and ISO 9660 names without their ";1" version and the "."
// that ends a name without extension.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tracks.h"

namespace cgvw::disc::iso9660 {

inline constexpr std::uint64_t kMostDirectoryBytes = 4 << 20;

// A part of a file's data: `bytes` bytes from sector `sector` of the disc.
struct Extent {
  std::uint64_t sector;
  std::uint32_t bytes;
};

// A file or folder of the file system.
struct Entry {
  std::string name;  // compared by lookups
  bool directory = false;
  std::uint64_t size = 0;  // bytes
  std::vector<Extent> extents;
  bool beyondVolume = false;  // an extent lies outside the volume: the data cannot be read
};

// How the names of a tree are recorded.
struct Names {
  bool joliet = false;
  bool rockRidge = false;     // SUSP in use: NM entries give the names
  std::uint8_t suspSkip = 0;  // bytes of a system use area before its SUSP entries
};

class FileSystem {
 public:
  // Reads the volume descriptors and the root directory; nullopt, with
  // `why` saying what is wrong, if there is no file system to read.
  static std::optional<FileSystem> Read(TrackReader& reader, std::string* why);

  const std::vector<Entry>& root() const { return root_; }
  // Where the volume ends: every extent lies before this sector.
  std::uint64_t volumeSectors() const { return volumeSectors_; }
  // The entries of a directory; false, with `why`, if it cannot be read.
  bool List(TrackReader& reader, const Entry& directory, std::vector<Entry>* entries,
            std::string* why) const;

 private:
  bool Parse(TrackReader& reader, const Entry& directory, std::span<const std::uint8_t> bytes,
             std::vector<Entry>* entries, std::string* why) const;

  Names names_;
  std::uint64_t volumeSectors_ = 0;
  std::vector<Entry> root_;
};

// The name a lookup compares with, from a recorded ISO 9660 or Joliet name
// (already UTF-8): without its ";1" version and the '.' that ends a name
// without extension.
std::string LookupName(std::string recorded);
// A Joliet name (UCS-2 or UTF-16, big-endian) in UTF-8.
std::string JolietName(std::span<const std::uint8_t> recorded);

}  // namespace cgvw::disc::iso9660
