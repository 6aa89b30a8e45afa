// Disc images: the files of the ISO 9660 file system in an image's data
// track. What can be opened, told from the file's bytes, never its name:
//
// - an image of plain 2048-byte sectors (.iso, .img);
// - a bare raw dump (.bin, .img): 2352-byte sectors with Mode 1 or Mode 2
//   form 1 headers, told from the sync pattern and mode byte of sector 16;
// - a cue sheet (text beginning with one of its keywords, or a file named
//   .cue), read by the strict reader of cue_sheet.h. Its FILE names are
//   relative to the sheet's own folder (links resolved). The first track
//   that is not audio holds the file system; it must be the disc's first
//   track, begin at the start of its file and be MODE1/2048, MODE1/2352 or
//   MODE2/2352. Audio files that are missing are no loss; any other file
//   that cannot be opened, a file that is no regular file (a folder, a
//   pipe, a device) or the sheet itself named as a FILE, and an index past
//   the end of its file, are errors naming the sheet's line.
//
// Every file is opened once, by the project, without waiting
// (platform/read_only_file.h). The sheet is read whole and closed, the
// files it names are checked and closed, and only the data track's file
// stays open while the image is open. libcdio lists the
// directories (ISO 9660, Joliet and Rock Ridge names), and only that: it is
// never handed a name from a user's sheet, only the name of the data
// track's file that the project opened and checked, through
// ReadOnlyFile::libraryPath() (on Linux the descriptor's own link). Plain
// sectors go to its ISO 9660 image reader; raw sectors to its cdrdao TOC
// reader, through a TOC file the project writes (one track, MODE1_RAW or
// MODE2_RAW, that one data file), since libcdio reads files only by name.
// The data of the files is read by the project itself, through its own
// descriptor: each sector once, whatever the order of the reads, as long as
// it is among the last 64 read; raw sectors are checked (sync pattern,
// header mode and address, form 1) before their data is used.
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

#include "track.h"

namespace cgvw::disc {

// A file or folder of an image's file system.
struct Entry {
  std::string name;      // compared by lookups
  std::string recorded;  // as the directory records it, for paths below it
  std::int64_t lsn;      // first sector
  std::uint32_t size;    // bytes
  bool directory;
};

// Why an image could not be opened.
struct OpenFailure {
  std::error_code error;  // the system's reason, or what the file is not
  std::string text;       // in words, naming the file (and a sheet's line) at fault
};

class DiscImage {
 public:
  DiscImage();
  ~DiscImage();
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  // Opens the image at `path`; null (with `failure` filled) if it is none
  // that can be read. May be called from several threads for different
  // images.
  static std::shared_ptr<DiscImage> Open(const std::string& path, OpenFailure* failure);

  // The file that `components` name below the root; nullopt if there is
  // none (or it is a folder). May be called from several threads.
  std::optional<Entry> Find(const std::vector<std::string>& components) const;

  // Reads up to dest.size() bytes of the file from `offset` on, never past
  // its recorded size; `got` counts the bytes read. False when a sector
  // cannot be read (the image ends before it, it is damaged, an I/O error);
  // `stop`, if given, then says which and why. May be called from several
  // threads.
  bool Read(const Entry& file, std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
            ReadStop* stop = nullptr) const;

  // The files the image was read from (the given file, and the data track's
  // file of a cue sheet), links resolved.
  std::vector<std::string> Sources() const;

 private:
  struct State;
  std::optional<std::vector<Entry>> List(const std::string& path) const;

  std::unique_ptr<State> state_;
  std::vector<Entry> root_;
  mutable std::mutex lock_;  // libcdio's handle and the sector cache
};

}  // namespace cgvw::disc
