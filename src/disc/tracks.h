// The data track of a disc: a run of sectors read as 2048 bytes of user
// data each, whatever holds them. A track stored in an image file (plain
// or raw sectors, at any byte offset of the file) is an ImageTrack; a
// layout that stores sectors otherwise (compressed, say) implements
// SectorTrack itself and checks raw sectors with raw_sectors.h. Reads go
// through one TrackReader, which keeps the last sectors read.
//
// Sectors are numbered as on the disc (sector 0 at 00:02:00): a data track
// that follows audio tracks begins at a later sector, and the ISO 9660 file
// system in it addresses its sectors the same way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bytes.h"
#include "raw_sectors.h"

namespace cgvw::disc {

// Where, and why, sectors could not be read.
struct ReadFault {
  std::uint64_t sector = 0;  // the first that could not be read
  std::string why;           // "\"disc.bin\": sector 34 has no sync pattern", ...
};

class SectorTrack {
 public:
  virtual ~SectorTrack() = default;
  virtual std::uint64_t first() const = 0;  // the disc's number of its first sector
  virtual std::uint64_t count() const = 0;  // its sectors
  // Reads the user data of `count` sectors from disc sector `sector` on
  // into `out` (count x 2048 bytes); false, with `fault` filled, if one of
  // them cannot be read. `count` is at most TrackReader::kCachedSectors.
  virtual bool Read(std::uint64_t sector, std::size_t count, std::uint8_t* out,
                    ReadFault* fault) = 0;
};

// A track stored as sectors of one format in bytes (a file): sector
// `firstSector` of the disc at byte `firstByte`, the track ending at
// `endByte` (the end of the file, or where the next track begins).
class ImageTrack final : public SectorTrack {
 public:
  struct Layout {
    SectorFormat format;
    std::uint64_t firstByte = 0;
    std::uint64_t endByte = 0;
    std::uint64_t firstSector = 0;
  };
  ImageTrack(std::unique_ptr<ByteSource> bytes, const Layout& layout);

  std::uint64_t first() const override { return layout_.firstSector; }
  std::uint64_t count() const override { return count_; }
  bool Read(std::uint64_t sector, std::size_t count, std::uint8_t* out, ReadFault* fault) override;
  const ByteSource& bytes() const { return *bytes_; }

 private:
  bool Fail(ReadFault* fault, std::uint64_t sector, const std::string& why) const;

  std::unique_ptr<ByteSource> bytes_;
  Layout layout_;
  std::uint64_t count_;
  std::vector<std::uint8_t> raw_;  // the stored bytes of one read
};

// Reads user data from a track: the last kCachedSectors sectors read are
// kept (sector s in slot s mod kCachedSectors), and the sectors of a request
// that are not kept are read in runs, one read each.
class TrackReader {
 public:
  static constexpr std::size_t kCachedSectors = 64;

  explicit TrackReader(std::unique_ptr<SectorTrack> track);
  const SectorTrack& track() const { return *track_; }

  // The user data of `count` sectors from `sector` on.
  bool ReadSectors(std::uint64_t sector, std::size_t count, std::uint8_t* out, ReadFault* fault);
  // `dest.size()` bytes of user data from byte `offset` of the run of
  // sectors that begins at `sector`; `got` counts the bytes placed.
  bool ReadBytes(std::uint64_t sector, std::uint64_t offset, std::span<std::uint8_t> dest,
                 std::size_t* got, ReadFault* fault);

 private:
  bool ReadRun(std::uint64_t first, std::size_t count, std::uint8_t* out, ReadFault* fault);

  std::unique_ptr<SectorTrack> track_;
  std::array<std::uint64_t, kCachedSectors> tags_{};
  std::vector<std::uint8_t> cache_;
  std::vector<std::uint8_t> run_;    // the user data of one read of the track
  std::vector<std::uint8_t> chunk_;  // the sectors of one part of a byte request
};

}  // namespace cgvw::disc
