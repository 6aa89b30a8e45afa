// Disc images (disc.h): the layout told from the bytes, the data track
// read through one reader, the file system read over it.
#include "disc.h"

#include <algorithm>
#include <new>

#include "containers.h"
#include "messages.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

std::shared_ptr<DiscImage> Refuse(OpenProblem* problem, std::error_code error, std::string text) {
  problem->error = error;
  problem->text = std::move(text);
  return nullptr;
}

// The layout of the given file, from its bytes (or, for a sheet that
// begins otherwise, its name or the name of the file a link points to).
// `unread` says what a file of a kind that is not read is.
const Container* LayoutOf(FileBytes& given, const std::string& path, std::error_code* error,
                          std::string* unread) {
  std::vector<std::uint8_t> head;
  if (!ReadHead(given, kHeadBytes, &head, error)) {
    return nullptr;
  }
  const Container* found = Recognise({given, head, path});
  if (found == nullptr) {
    found = Recognise({given, head, given.file().resolvedPath()});
  }
  if (found == nullptr) {
    *error = platform::NoFileSystemError();
    *unread = UnreadKind(head);
  }
  return found;
}

}  // namespace

DiscImage::DiscImage(std::unique_ptr<TrackReader> reader, iso9660::FileSystem files,
                     std::vector<std::string> sources)
    : reader_(std::move(reader)), files_(std::move(files)), sources_(std::move(sources)) {}

std::shared_ptr<DiscImage> DiscImage::Open(const std::string& path, OpenProblem* problem) {
  const std::string shown = Shown(path);
  std::error_code error;
  std::unique_ptr<FileBytes> given = FileBytes::Open(path, path, &error);
  std::string unread;
  const Container* layout = given ? LayoutOf(*given, path, &error, &unread) : nullptr;
  if (layout == nullptr) {
    return Refuse(problem, error, shown + ": " + (unread.empty() ? error.message() : unread));
  }
  std::vector<std::string> sources = {given->file().resolvedPath()};
  const std::unique_ptr<Neighbours> neighbours = LocalNeighbours(given->file());
  OpenedTrack opened;
  OpenFailure failure;
  if (!layout->open(std::move(given), *neighbours, &opened, &failure)) {
    std::string text = shown;
    if (failure.line != 0) {
      text.append(":").append(std::to_string(failure.line));
    }
    return Refuse(problem, failure.error, text.append(": ").append(failure.text));
  }
  sources.insert(sources.end(), opened.files.begin(), opened.files.end());
  auto reader = std::make_unique<TrackReader>(std::move(opened.track));
  std::string why;
  std::optional<iso9660::FileSystem> files = iso9660::FileSystem::Read(*reader, &why);
  if (!files) {
    return Refuse(problem, platform::NoFileSystemError(),
                  shown + ": " + platform::NoFileSystemError().message() + ": " + why);
  }
  return std::make_shared<DiscImage>(std::move(reader), std::move(*files), std::move(sources));
}

std::optional<Entry> DiscImage::Find(const std::vector<std::string>& components) const {
  if (components.empty()) {
    return std::nullopt;
  }
  std::vector<Entry> below;  // a listing below the root
  const std::vector<Entry>* entries = &files_.root();
  for (std::size_t i = 0;; ++i) {
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (const Entry& entry : *entries) {
      names.push_back(entry.name);
    }
    const auto found = platform::PickName(names, components[i]);
    if (!found) {
      return std::nullopt;
    }
    Entry entry = (*entries)[*found];
    if (i + 1 == components.size()) {
      return entry.directory ? std::nullopt : std::optional(std::move(entry));
    }
    std::string ignored;
    const std::lock_guard hold(lock_);
    if (!entry.directory || !files_.List(*reader_, entry, &below, &ignored)) {
      return std::nullopt;
    }
    entries = &below;
  }
}

bool DiscImage::Read(const Entry& file, std::uint64_t offset, std::span<std::uint8_t> dest,
                     std::size_t* got, ReadFault* fault) const {
  *got = 0;
  if (offset >= file.size) {
    return true;
  }
  if (file.beyondVolume) {
    if (fault != nullptr) {
      fault->sector = file.extents.front().sector;
      fault->why = "its directory record places its data beyond the end of the volume (" +
                   std::to_string(files_.volumeSectors()) + " sectors)";
    }
    return false;
  }
  dest = dest.first(
      static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), file.size - offset)));
  const std::lock_guard hold(lock_);
  for (const iso9660::Extent& extent : file.extents) {
    if (offset >= extent.bytes) {
      offset -= extent.bytes;
      continue;
    }
    const auto part = static_cast<std::size_t>(
        std::min<std::uint64_t>(dest.size() - *got, extent.bytes - offset));
    std::size_t placed = 0;
    const bool read =
        reader_->ReadBytes(extent.sector, offset, dest.subspan(*got, part), &placed, fault);
    *got += placed;
    if (!read || *got == dest.size()) {
      return read;
    }
    offset = 0;
  }
  return true;
}

}  // namespace cgvw::disc
