// Disc images: the files of the ISO 9660 file system in an image's data
// track. The layout of the given file is told from its bytes
// (containers.h); its data track is read through one TrackReader
// (tracks.h), each sector checked before its data is used; the file system
// is read over it (iso9660.h). Nothing is written anywhere, and nothing but
// regular files is opened (platform/read_only_file.h).
//
// Names are looked up by the rule of platform/names.h, using the Joliet
// names where the image has them, else the Rock Ridge names, else the ISO
// 9660 names without their ";1" version and a trailing '.'. Paths are
// UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "iso9660.h"
#include "tracks.h"

namespace cgvw::disc {

using iso9660::Entry;

// Why an image could not be opened.
struct OpenProblem {
  std::error_code error;  // the system's reason, or what the file is not
  std::string text;       // in words, naming the file (and a sheet's line) at fault
};

class DiscImage {
 public:
  DiscImage(std::unique_ptr<TrackReader> reader, iso9660::FileSystem files,
            std::vector<std::string> sources);
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  // Opens the image at `path`; null (with `problem` filled) if it is none
  // that can be read. May be called from several threads for different
  // images.
  static std::shared_ptr<DiscImage> Open(const std::string& path, OpenProblem* problem);

  // The file that `components` name below the root; nullopt if there is
  // none (or it is a folder). May be called from several threads.
  std::optional<Entry> Find(const std::vector<std::string>& components) const;

  // Reads up to dest.size() bytes of the file from `offset` on, never past
  // its recorded size; `got` counts the bytes read. False when a sector
  // cannot be read (the image ends before it, it is damaged, an I/O error);
  // `fault`, if given, then says which and why. May be called from several
  // threads; they take turns.
  bool Read(const Entry& file, std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
            ReadFault* fault = nullptr) const;

  // The files the image was read from (the given file, and the data track's
  // file of a cue sheet), links resolved.
  const std::vector<std::string>& Sources() const { return sources_; }

 private:
  mutable std::mutex lock_;  // the reader and its cache
  std::unique_ptr<TrackReader> reader_;
  iso9660::FileSystem files_;
  std::vector<std::string> sources_;
};

}  // namespace cgvw::disc
