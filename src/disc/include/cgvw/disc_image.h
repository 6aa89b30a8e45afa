// Disc images as sources of bytes (the tvrcgcv::disc library, also known as
// tvrcgcv::discimage): an image of 2048-byte sectors (.iso), a bare raw
// dump of 2352-byte sectors (.bin), or a cue sheet (.cue) with the files it
// names, one for all tracks or one per track, or the whole-disc dumps of
// CloneCD, Alcohol and Nero; built with libarchive, also a zip or 7z archive
// holding one disc in any of these, read as it is. The ISO 9660 file system is
// read by the library itself, with its Joliet and Rock Ridge names; raw
// sectors are checked (sync pattern, address, mode, form and EDC) before
// their data is used.
#pragma once

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cgvw/decode.h"

namespace cgvw {

namespace disc {
class DiscImage;
}  // namespace disc

// Why a disc image could not be opened.
struct ImageProblem {
  std::error_code error;  // the system's reason, or what the file is not
  // The whole reason in words, naming the file at fault and, for a cue
  // sheet, the line: "disc.cue:4: unknown keyword \"FOO\"".
  std::string text;
};

// The files of the file system in a disc image, looked up as Windows does
// (the exact name, else one that differs only in the case of ASCII
// letters). Reads may come from several threads; they take turns.
class DiscImageSource final : public Source {
 public:
  // Opens the image at `path` (UTF-8), told by its bytes, whatever its name
  // or the name of a link to it: an image of 2048-byte sectors, a bare raw
  // dump (Mode 1 or Mode 2 form 1 sectors), or a cue sheet. Each file is
  // opened once and never a pipe, device or folder; nothing waits.
  // CannotOpen when the path is missing, no regular file, a sheet that is
  // not understood or names files that are not there, or no readable ISO
  // 9660 file system; `problem` then says which.
  static Result<std::unique_ptr<DiscImageSource>> Open(const std::string& path,
                                                       ImageProblem* problem) noexcept;
  static Result<std::unique_ptr<DiscImageSource>> Open(const std::string& path,
                                                       std::error_code* error = nullptr) noexcept;

  explicit DiscImageSource(std::shared_ptr<disc::DiscImage> image) noexcept;
  ~DiscImageSource() override;
  ReadResult Read(std::string_view name, std::uint64_t offset,
                  std::span<std::uint8_t> dest) noexcept override;

  // Where the data of the file `name` stops being readable, for a message:
  // "\"disc.bin\" ends before sector 3001" or "\"disc.bin\": sector 17 has
  // no sync pattern" (or "fails its EDC check: ..."), with the sectors the
  // file's data spans; empty if all of it can be read (or there is no such
  // file).
  std::string Damage(std::string_view name) noexcept;

  // The files the image was read from (the given file, and the data
  // track's file of a cue sheet), links resolved.
  std::vector<std::string> Files() const;

 private:
  std::shared_ptr<disc::DiscImage> image_;
};

// The files among `paths` (UTF-8) that are discs, told from their bytes:
// each cue sheet, and each image file that no cue sheet among them names
// (a sheet's track files are part of its disc). Folders, pipes and other
// files are left out. More than one: several discs were given; none: the
// files are a disc's files themselves.
std::vector<std::string> FindDiscImages(const std::vector<std::string>& paths);
// What to say when several were: "several discs were given (\"a.iso\",
// \"b.iso\"): give one at a time".
std::string SeveralDiscsText(const std::vector<std::string>& discs);

// Whether this build reads CHD files (MAME's compressed hunks of data) of
// CD-ROMs; where it does not, opening one says so.
bool ReadsChdFiles() noexcept;
// Whether this build reads disc images inside zip and 7z archives
// (libarchive).
bool ReadsArchives() noexcept;

// Lets the classic drives (platform/win_api.h on POSIX) be disc images: a
// drive whose path is an image file is then read through the image's file
// system. Called once, before the first read; without it an image drive
// cannot be opened. On Windows, which mounts images itself, it does nothing.
void EnableImageDrives() noexcept;

}  // namespace cgvw
