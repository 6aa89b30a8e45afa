// Cue sheets with the files they name (cue_sheet.h, cue_layout.h): the
// sheet is read whole and parsed, each file it names is looked at once
// when its size is needed and closed again, and only the data track's file
// stays open, from where the sheet says its track begins.
#include <cstring>

#include "containers.h"
#include "cue_layout.h"
#include "cue_sheet.h"
#include "messages.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

// No real sheet comes near this; a larger file is no cue sheet.
constexpr std::uint64_t kMostSheetBytes = 1 << 20;

bool HasCueName(std::string_view path) {
  constexpr std::string_view kSuffix = ".cue";
  return path.size() > kSuffix.size() &&
         platform::EqualIgnoringAsciiCase(path.substr(path.size() - kSuffix.size()), kSuffix);
}

// What is wrong with a sheet or the files it names: the sheet holds no file
// system that can be read (the system's reason only for the sheet itself).
bool Refuse(OpenFailure* failure, unsigned line, std::string text) {
  failure->error = failure->error ? failure->error : platform::NoFileSystemError();
  failure->line = line;
  failure->text = std::move(text);
  return false;
}

// Reads and parses the sheet.
bool ReadSheet(ByteSource& given, CueSheet* sheet, OpenFailure* failure) {
  if (given.size() > kMostSheetBytes) {
    return Refuse(failure, 0, "larger than 1 MiB, too large for a cue sheet");
  }
  std::vector<std::uint8_t> text;
  if (!ReadHead(given, kMostSheetBytes, &text, &failure->error)) {
    return Refuse(failure, 0, failure->error.message());
  }
  if (const auto wrong =
          ParseCueSheet({reinterpret_cast<const char*>(text.data()), text.size()}, sheet)) {
    if (wrong->outOfMemory) {
      failure->error = std::make_error_code(std::errc::not_enough_memory);
    }
    return Refuse(failure, wrong->line, wrong->what);
  }
  return true;
}

// The size of each file the sheet names (none for one that is not there),
// each looked at and closed again; false for one that cannot be used.
bool SizesOf(const CueSheet& sheet, Neighbours& neighbours,
             std::vector<std::optional<std::uint64_t>>* sizes, OpenFailure* failure) {
  for (const CueFile& named : sheet.files) {
    std::error_code error;
    const std::optional<std::uint64_t> size = neighbours.Size(named.name, &error);
    if (!size && error == GivenFileItselfError()) {
      return Refuse(failure, named.line, Quoted(named.name) + " is the sheet itself");
    }
    if (!size && error != std::errc::no_such_file_or_directory) {
      return Refuse(failure, named.line, Quoted(named.name) + ": " + error.message());
    }
    sizes->push_back(size);
  }
  return true;
}

// Whether sector 16 of the track is one of its format that starts a volume
// descriptor: the track's mode is the sheet's, and a file system is there.
bool HoldsFileSystem(ByteSource& file, const DataTrack& data) {
  const SectorFormat& format = data.format;
  std::vector<std::uint8_t> sector(format.bytes);
  const ByteRead read = file.ReadAt(data.firstByte + 16ull * format.bytes, sector);
  if (read.error || read.got < sector.size()) {
    return true;  // the reading of the file system says what is missing
  }
  const SectorFault fault = CheckSector(format, sector, data.firstSector + 16).fault;
  const bool formatFits = fault != SectorFault::kNoSync && fault != SectorFault::kWrongMode &&
                          fault != SectorFault::kForm2;
  return formatFits && std::memcmp(&sector[format.dataOffset + 1], "CD001", 5) == 0;
}

bool OpenSheet(std::unique_ptr<ByteSource> given, Neighbours& neighbours, OpenedTrack* opened,
               OpenFailure* failure) {
  CueSheet sheet;
  std::vector<std::optional<std::uint64_t>> sizes;
  if (!ReadSheet(*given, &sheet, failure) || !SizesOf(sheet, neighbours, &sizes, failure)) {
    return false;
  }
  given.reset();
  DataTrack data{};
  if (const auto located = LocateDataTrack(sheet, sizes, &data)) {
    return Refuse(failure, located->line, located->what);
  }
  const CueFile& named = sheet.files[data.file];
  const unsigned line = sheet.tracks[data.track].line;
  std::error_code error;
  std::unique_ptr<ByteSource> file = neighbours.Open(named.name, &error);
  if (!file) {
    return Refuse(failure, line, Quoted(named.name) + ": " + error.message());
  }
  if (!HoldsFileSystem(*file, data)) {
    return Refuse(failure, line,
                  Quoted(named.name) + " holds no ISO 9660 file system in " +
                      FormatName(data.format) + " sectors");
  }
  opened->files.push_back(neighbours.PathOf(named.name));
  const std::uint64_t end = std::min(data.endByte, file->size());
  opened->track = std::make_unique<ImageTrack>(
      std::move(file), ImageTrack::Layout{data.format, data.firstByte, end, data.firstSector});
  return true;
}

std::vector<std::string> NamesOf(ByteSource& given) {
  CueSheet sheet;
  OpenFailure ignored;
  std::vector<std::string> names;
  if (ReadSheet(given, &sheet, &ignored)) {
    for (const CueFile& file : sheet.files) {
      names.push_back(file.name);
    }
  }
  return names;
}

bool LooksLikeSheet(const Probe& probe) {
  return LooksLikeCueSheet({reinterpret_cast<const char*>(probe.head.data()), probe.head.size()}) ||
         HasCueName(probe.path);
}

}  // namespace

const Container kCueSheet = {"cue sheet", LooksLikeSheet, OpenSheet, NamesOf};

}  // namespace cgvw::disc
