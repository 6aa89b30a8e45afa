// Disc images through libcdio (disc.h).
#include "disc.h"

#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/memory.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

// libcdio reports through one process-wide handler, whose default prints
// warnings on standard output and ends the process on an error. A damaged
// image must do neither: the reader's failure is its only report.
void DiscardLibraryMessage(cdio_log_level_t /*level*/, const char /*message*/[]) {}

void SilenceLibrary() {
  static const bool silenced = (cdio_log_set_handler(DiscardLibraryMessage), true);
  static_cast<void>(silenced);
}

bool IsCueSheetName(std::string_view path) {
  constexpr std::string_view kSuffix = ".cue";
  return path.size() > kSuffix.size() &&
         platform::EqualIgnoringAsciiCase(path.substr(path.size() - kSuffix.size()), kSuffix);
}

// The name a lookup compares with. Rock Ridge names are the files' real
// names; ISO 9660 names (and Joliet names, which some mastering programs
// give one too) end in a ";1" version, and a name without an extension in
// a '.', neither of which is part of the name on the source disc.
std::string LookupName(const char* recorded, bool rockRidge) {
  std::string name = recorded;
  if (rockRidge) {
    return name;
  }
  const std::size_t semicolon = name.rfind(';');
  if (semicolon != std::string::npos &&
      std::all_of(name.begin() + static_cast<std::ptrdiff_t>(semicolon) + 1, name.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    name.erase(semicolon);
  }
  if (name.size() > 1 && name.back() == '.') {
    name.pop_back();
  }
  return name;
}

// True unless `path` names something that exists and is not a regular
// file (links followed).
bool AbsentOrRegular(const std::string& path) {
  const platform::PathKind kind = platform::KindOfPath(path);
  return kind == platform::PathKind::kMissing || kind == platform::PathKind::kRegularFile;
}

bool IsRegularFile(const std::string& path) {
  return platform::KindOfPath(path) == platform::PathKind::kRegularFile;
}

// Where a file's folder ends in its path: after the last '/' (or '\' on
// Windows); 0 for a bare name.
std::size_t FolderLength(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? 0 : slash + 1;
}

// The names a cue sheet's FILE and CDTEXTFILE lines give, as they stand
// (quoted or not). Reads at most the first 256 KiB: no real sheet is longer.
std::vector<std::string> NamesInCueSheet(const std::string& cuePath) {
  std::string text(256 * 1024, '\0');
  const std::size_t folder = FolderLength(cuePath);
  const platform::RangeRead read = platform::ReadFolderFile(
      folder == 0 ? "." : cuePath.substr(0, folder), cuePath.substr(folder), 0,
      std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
  text.resize(read.outcome == platform::RangeRead::Outcome::kRead ? read.got : 0);
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
    const std::size_t keywordEnd = std::min(line.size(), line.find_first_of(" \t"));
    const std::string_view keyword = line.substr(0, keywordEnd);
    if (keyword != "FILE" && keyword != "CDTEXTFILE") {
      continue;
    }
    // The name runs to the next quote, tab or line end, as libcdio reads it.
    std::string_view rest = line.substr(keywordEnd);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t\"")));
    rest = rest.substr(0, rest.find_first_of("\"\t"));
    if (!rest.empty()) {
      names.emplace_back(rest);
    }
  }
  return names;
}

// libcdio opens, on a cue sheet's behalf, the BIN file beside it and the
// files its lines name; a pipe or a device there would block it inside
// fopen, or worse. All of them must be regular files (or absent, which
// libcdio reports itself) before the sheet is handed over.
bool CueSheetFilesAreRegular(const std::string& cuePath) {
  std::vector<std::string> paths;
  if (char* bin = cdio_is_cuefile(cuePath.c_str())) {
    paths.emplace_back(bin);
    cdio_free(bin);
  }
  const std::string folder = cuePath.substr(0, FolderLength(cuePath));
  for (const std::string& name : NamesInCueSheet(cuePath)) {
    paths.push_back(platform::IsAbsolutePath(name) ? name : folder + name);
  }
  return std::all_of(paths.begin(), paths.end(), AbsentOrRegular);
}

// Opens a cue sheet's image with its file system's volume descriptors
// read (Joliet ones too); null if either fails.
CdIo_t* OpenCueSheet(const std::string& path) {
  if (path.empty() || !IsRegularFile(path) || !CueSheetFilesAreRegular(path)) {
    return nullptr;
  }
  CdIo_t* disc = cdio_open_cue(path.c_str());
  if (disc != nullptr && !iso9660_fs_read_superblock(disc, ISO_EXTENSION_ALL)) {
    cdio_destroy(disc);
    return nullptr;
  }
  return disc;
}

// The cue sheet of a BIN file ("disc.bin" has "disc.cue"), if there is one.
std::string CueSheetBeside(const std::string& path) {
  char* sheet = cdio_is_binfile(path.c_str());
  if (sheet == nullptr) {
    return "";
  }
  std::string result = sheet;
  cdio_free(sheet);
  return IsRegularFile(result) ? result : "";
}

// Sectors read at once by a file read.
constexpr std::uint32_t kBlocksPerRead = 32;

}  // namespace

struct DiscImage::Handles {
  iso9660_t* iso = nullptr;  // an image of 2048-byte sectors
  CdIo_t* disc = nullptr;    // a cue sheet's image
};

DiscImage::DiscImage() : handles_(std::make_unique<Handles>()) {}

DiscImage::~DiscImage() {
  if (handles_->iso != nullptr) {
    iso9660_close(handles_->iso);
  }
  if (handles_->disc != nullptr) {
    cdio_destroy(handles_->disc);
  }
}

std::shared_ptr<DiscImage> DiscImage::Open(const std::string& path) {
  SilenceLibrary();
  if (!IsRegularFile(path)) {
    return nullptr;
  }
  auto image = std::make_shared<DiscImage>();
  Handles& handles = *image->handles_;
  if (IsCueSheetName(path)) {
    handles.disc = OpenCueSheet(path);
  } else {
    handles.iso = iso9660_open_ext(path.c_str(), ISO_EXTENSION_ALL);
    if (handles.iso == nullptr) {
      handles.disc = OpenCueSheet(CueSheetBeside(path));
    }
  }
  if (handles.iso == nullptr && handles.disc == nullptr) {
    return nullptr;
  }
  auto root = image->List("/");
  if (!root) {
    return nullptr;
  }
  image->root_ = std::move(*root);
  return image;
}

std::vector<std::string> DiscImage::Sources() const {
  std::vector<std::string> sources;
  for (const char* key : {"cue", "source"}) {
    const char* name = handles_->disc != nullptr ? cdio_get_arg(handles_->disc, key) : nullptr;
    if (name != nullptr) {
      sources.emplace_back(name);
    }
  }
  return sources;
}

std::optional<std::vector<Entry>> DiscImage::List(const std::string& path) const {
  CdioISO9660FileList_t* list = handles_->iso != nullptr
                                    ? iso9660_ifs_readdir(handles_->iso, path.c_str())
                                    : iso9660_fs_readdir(handles_->disc, path.c_str());
  if (list == nullptr) {
    return std::nullopt;
  }
  const std::unique_ptr<CdioISO9660FileList_t, void (*)(CdioISO9660FileList_t*)> owned(
      list, iso9660_filelist_free);
  std::vector<Entry> entries;
  for (CdioListNode_t* node = _cdio_list_begin(list); node != nullptr;
       node = _cdio_list_node_next(node)) {
    const auto* stat = static_cast<const iso9660_stat_t*>(_cdio_list_node_data(node));
    if (stat == nullptr || std::strcmp(stat->filename, ".") == 0 ||
        std::strcmp(stat->filename, "..") == 0) {
      continue;
    }
    entries.push_back({LookupName(stat->filename, stat->rr.b3_rock == yep), stat->filename,
                       stat->lsn, stat->size, stat->type == iso9660_stat_t::_STAT_DIR});
  }
  return entries;
}

std::optional<Entry> DiscImage::Find(const std::vector<std::string>& components) const {
  if (components.empty()) {
    return std::nullopt;
  }
  std::optional<std::vector<Entry>> below;  // a listing below the root
  const std::vector<Entry>* entries = &root_;
  std::string directory;
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
    const Entry& entry = (*entries)[*found];
    if (i + 1 == components.size()) {
      if (entry.directory || entry.lsn < 0) {
        return std::nullopt;
      }
      return entry;
    }
    if (!entry.directory) {
      return std::nullopt;
    }
    directory += "/" + entry.recorded;
    below = List(directory);
    if (!below) {
      return std::nullopt;
    }
    entries = &*below;
  }
}

bool DiscImage::ReadBlocks(std::int64_t lsn, std::uint32_t count, std::uint8_t* out) const {
  if (lsn < 0 || lsn + count > std::numeric_limits<lsn_t>::max()) {
    return false;
  }
  const auto first = static_cast<lsn_t>(lsn);
  if (handles_->iso != nullptr) {
    return iso9660_iso_seek_read(handles_->iso, out, first, count) ==
           static_cast<long>(count) * ISO_BLOCKSIZE;
  }
  return cdio_read_data_sectors(handles_->disc, out, first, ISO_BLOCKSIZE, count) ==
         DRIVER_OP_SUCCESS;
}

bool DiscImage::Read(const Entry& file, std::uint64_t offset, std::span<std::uint8_t> dest,
                     std::size_t* got) const {
  *got = 0;
  if (offset >= file.size) {
    return true;
  }
  const std::size_t wanted = std::min<std::uint64_t>(dest.size(), file.size - offset);
  std::vector<std::uint8_t> sectors;
  std::uint64_t position = offset;
  while (*got < wanted) {
    const std::uint64_t block = position / ISO_BLOCKSIZE;
    const std::size_t within = static_cast<std::size_t>(position % ISO_BLOCKSIZE);
    const std::size_t remaining = wanted - *got;
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(
        kBlocksPerRead, (within + remaining + ISO_BLOCKSIZE - 1) / ISO_BLOCKSIZE));
    sectors.resize(static_cast<std::size_t>(count) * ISO_BLOCKSIZE);
    if (!ReadBlocks(file.lsn + static_cast<std::int64_t>(block), count, sectors.data())) {
      return false;  // the image ends inside the file, or cannot be read
    }
    const std::size_t take = std::min(remaining, sectors.size() - within);
    std::memcpy(dest.data() + *got, sectors.data() + within, take);
    *got += take;
    position += take;
  }
  return true;
}

}  // namespace cgvw::disc
