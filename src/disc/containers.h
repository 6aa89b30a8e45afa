// The layouts a disc image comes in, each a small module that turns the
// given file (bytes already opened) into the disc's data track, told from
// the file's bytes, never its name (a name ending in ".cue" is taken as a
// sheet's, for sheets that begin with something else). One table lists
// them in the order they are tried; a layout is added by a line there.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bytes.h"
#include "tracks.h"

namespace cgvw::disc {

// The bytes that tell the layouts apart: enough for sector 16 in every
// format of sector (a volume descriptor is there).
// Raw sectors may carry 96 bytes of subcode each (2448 bytes).
inline constexpr std::size_t kHeadBytes = 17 * (kRawBytes + 96);

// Why an image cannot be opened: the system's reason or what the file is
// not, and in words what is wrong after the given path and, for a sheet,
// its line ("4: unknown keyword \"FOO\"" is shown as "disc.cue:4: ...").
struct OpenFailure {
  std::error_code error;
  unsigned line = 0;
  std::string text;
};

// Where a layout finds the files it names (a sheet's FILE lines): beside
// the given file, or, for a layout inside another, wherever that one keeps
// them. A file is opened only when it is needed and kept only while it is.
class Neighbours {
 public:
  virtual ~Neighbours() = default;
  // Opens the file a layout names; null, with the reason (no such file
  // for one that is not there), if it cannot.
  virtual std::unique_ptr<ByteSource> Open(std::string_view name, std::error_code* error) = 0;
  // Its size, without keeping it open.
  virtual std::optional<std::uint64_t> Size(std::string_view name, std::error_code* error) = 0;
  // Where it is, for the list of files an image was read from.
  virtual std::string PathOf(std::string_view name) const = 0;
  // The given file's own name (of the file a link points to), without its
  // folder: a descriptor names its image after it ("disc.ccd": "disc.img").
  virtual std::string GivenName() const = 0;
};

// What a layout is shown of the given file to recognise it.
struct Probe {
  ByteSource& bytes;
  std::span<const std::uint8_t> head;  // the first kHeadBytes (fewer if the file is shorter)
  std::string_view path;               // as given
};

// What opening a layout gives: the data track, and the files it is read
// from besides the given one.
struct OpenedTrack {
  std::unique_ptr<SectorTrack> track;
  std::vector<std::string> files;
};

struct Container {
  const char* name;  // "cue sheet", "raw image", ...
  bool (*recognise)(const Probe& probe);
  bool (*open)(std::unique_ptr<ByteSource> given, Neighbours& neighbours, OpenedTrack* opened,
               OpenFailure* failure);
  // The files it names (a sheet's FILE names), for telling which of a set
  // of files belong to one disc; null for a layout of one file.
  std::vector<std::string> (*names)(ByteSource& given);
};

// The layouts, in the order they are tried.
std::span<const Container* const> Containers();
// The layout of a file; null if it is none of them.
const Container* Recognise(const Probe& probe);

// The layouts of one file each: plain 2048-byte sectors, or raw 2352-byte
// sectors told from sector 16 (containers_images.cpp); and cue sheets
// (containers_sheet.cpp).
extern const Container kRawImage;
extern const Container kPlainImage;
extern const Container kCueSheet;
// Dumps of whole discs (containers_dumps.cpp, dumps.h): CloneCD and Alcohol
// descriptors, and Nero images.
extern const Container kCloneCd;
extern const Container kAlcohol;
extern const Container kNero;

// CHD files of CD-ROMs, version 5 (containers_chd.cpp, chd.h), in a build
// with the libraries of their codecs (cgvw::ReadsChdFiles()).
extern const Container kChd;
// The hunks a track of a CHD has decompressed so far (0 for another track).
std::uint64_t ChdHunksDecompressed(const SectorTrack& track);

// What a file that is none of the layouts is, if it is a kind of image
// that is not read (a CHD, a zip or 7z archive), with what to do instead;
// "" for any other file.
std::string UnreadKind(std::span<const std::uint8_t> head);

// The neighbours of a file in the local file system: names relative to the
// folder of `given` (links resolved), or whole paths. The file `given`
// itself is refused by its identity.
std::unique_ptr<Neighbours> LocalNeighbours(const platform::ReadOnlyFile& given);

// The reason for a neighbour that is the given file itself.
std::error_code GivenFileItselfError();

}  // namespace cgvw::disc
