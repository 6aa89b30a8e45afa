// Disc images through libcdio: libiso9660 reads the file system of an image
// of 2048-byte sectors (.iso), libcdio's BIN/CUE driver that of a raw BIN
// file through its cue sheet. What is opened:
//
// - a file whose name ends in ".cue" (any case) is a cue sheet: the raw BIN
//   file beside it with the same stem (disc.cue and disc.bin; the driver
//   goes by that name, not by the sheet's FILE line) holds the file system
//   in its first track;
// - any other file is an image of 2048-byte sectors or, if it is not, a
//   raw BIN file whose cue sheet lies beside it, read as above. A raw dump
//   without its sheet is not read: libcdio's reader for raw sectors without
//   a sheet returns wrong bytes for reads longer than one sector.
//
// Names are looked up by the rule of platform/names.h, using the Joliet
// names where the image has them, else the Rock Ridge names, else the ISO
// 9660 names without their ";1" version and a trailing '.'. An image that
// cannot be read as one of these, or whose file system is damaged, opens
// nothing; a file whose sectors lie beyond the end of a truncated image
// opens, but reading them fails as an I/O error does. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cgvw::disc {

// A file or folder of an image's file system.
struct Entry {
  std::string name;      // compared by lookups
  std::string recorded;  // as the directory records it, for paths below it
  std::int64_t lsn;      // first sector
  std::uint32_t size;    // bytes
  bool directory;
};

class DiscImage {
 public:
  DiscImage();
  ~DiscImage();
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  // Opens the image at `path`; null if it holds no readable ISO 9660 file
  // system. Not safe to use from two threads at once.
  static std::shared_ptr<DiscImage> Open(const std::string& path);

  // The file that `components` name below the root; nullopt if there is
  // none (or it is a folder).
  std::optional<Entry> Find(const std::vector<std::string>& components) const;

  // Reads up to dest.size() bytes of the file from `offset` on, never past
  // its recorded size; `got` counts the bytes read. False when the sectors
  // cannot be read (the image ends inside the file, or an I/O error).
  bool Read(const Entry& file, std::uint64_t offset, std::span<std::uint8_t> dest,
            std::size_t* got) const;

  // The cue sheet and BIN file that the image was read from, if any.
  std::vector<std::string> Sources() const;

 private:
  struct Handles;
  std::optional<std::vector<Entry>> List(const std::string& path) const;
  bool ReadBlocks(std::int64_t lsn, std::uint32_t count, std::uint8_t* out) const;

  std::unique_ptr<Handles> handles_;
  std::vector<Entry> root_;
};

}  // namespace cgvw::disc
