// Disc images (disc.h): the data track found and checked by the project,
// its directories listed by libcdio, its sectors read by the project.
#include "disc.h"

#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>

#include "cue_sheet.h"
#include "platform/folder_files.h"
#include "platform/names.h"
#include "platform/read_only_file.h"
#include "sectors.h"

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

// No real sheet comes near this; a larger file is no cue sheet.
constexpr std::uint64_t kMaxSheetBytes = 1 << 20;

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

bool HasCueName(std::string_view path) {
  constexpr std::string_view kSuffix = ".cue";
  return path.size() > kSuffix.size() &&
         platform::EqualIgnoringAsciiCase(path.substr(path.size() - kSuffix.size()), kSuffix);
}

// A file's folder in its path, with the separator: "" for a bare name.
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The first `size` bytes of the file (fewer if it is shorter); false on an
// I/O error.
bool ReadStart(const platform::ReadOnlyFile& file, std::size_t size, std::vector<std::uint8_t>* out,
               std::error_code* error) {
  out->resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, file.size())));
  std::size_t got = 0;
  const bool read = file.ReadAt(0, *out, &got, error);
  out->resize(got);
  return read;
}

// The name of the data file as a TOC file gives it to libcdio. libcdio's
// TOC reader takes only a name that begins with '/' for a whole path: on
// Windows it makes "/x/..." into "x:/..." itself, and takes "//server/..."
// as it stands.
std::string TocName(const std::string& path) {
#ifdef _WIN32
  std::string name = path;
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.size() >= 3 && name[1] == ':' && name[2] == '/') {
    name = std::string{'/', name[0]} + name.substr(2);
  }
  return name;
#else
  return path;
#endif
}

// Fills in why the image cannot be opened; false.
bool Refuse(OpenFailure* failure, std::error_code error, std::string text) {
  failure->error = error;
  failure->text = std::move(text);
  return false;
}

}  // namespace

struct DiscImage::State {
  ~State() {
    if (iso != nullptr) {
      iso9660_close(iso);
    }
    if (disc != nullptr) {
      cdio_destroy(disc);
    }
  }

  // libcdio: the ISO 9660 reader of plain sectors, or a TOC's image.
  iso9660_t* iso = nullptr;
  CdIo_t* disc = nullptr;
  DataTrackFile track;
  std::vector<std::string> sources;

  bool OpenSheet(const std::string& path, platform::ReadOnlyFile sheet, OpenFailure* failure);
  bool OpenFileSystem(const std::string& path, OpenFailure* failure);
};

namespace {

// The files a sheet names, each opened once, and their sizes (none for a
// file that is not there); false, with the error, for one that cannot be
// used at all.
bool OpenNamedFiles(const CueSheet& cue, const platform::ReadOnlyFile& sheet,
                    std::vector<platform::ReadOnlyFile>* files,
                    std::vector<std::optional<std::uint64_t>>* sizes, CueError* wrong) {
  const std::string folder = FolderOf(sheet.resolvedPath());
  for (const CueFile& named : cue.files) {
    const std::string path =
        platform::IsAbsolutePath(named.name) ? named.name : folder + named.name;
    std::error_code error;
    platform::ReadOnlyFile file = platform::ReadOnlyFile::Open(path, &error);
    const bool missing = !file && (error == std::errc::no_such_file_or_directory ||
                                   error == std::errc::not_a_directory);
    if (!file && !missing) {
      *wrong = {named.line, "\"" + named.name + "\": " + error.message()};
      return false;
    }
    if (file && file.identity() == sheet.identity()) {
      *wrong = {named.line, "\"" + named.name + "\" is the sheet itself"};
      return false;
    }
    sizes->push_back(file ? std::optional(file.size()) : std::nullopt);
    files->push_back(std::move(file));
  }
  return true;
}

// The data track of a sheet in the file that holds it, checked to be one
// that libcdio can list: at the start of its file, of 2048 or 2352 bytes a
// sector, with a file system in those sectors.
std::optional<CueError> CheckDataTrack(const CueSheet& cue, const DataTrack& data,
                                       const platform::ReadOnlyFile& file) {
  const unsigned line = cue.tracks[data.track].line;
  const std::string& name = cue.files[data.file].name;
  if (data.firstByte != 0) {
    return CueError{line, "the data track does not begin at the start of its file"};
  }
  if (data.format == kMode2Headerless) {
    return CueError{line, "a data track of MODE2/2336 sectors cannot be read"};
  }
  std::vector<std::uint8_t> head;
  std::error_code error;
  if (!ReadStart(file, kHeadBytes, &head, &error)) {
    return CueError{line, "\"" + name + "\": " + error.message()};
  }
  if (SniffImage(head) != data.format) {
    return CueError{line, "\"" + name + "\" holds no ISO 9660 file system in " +
                              FormatName(data.format) + " sectors"};
  }
  return std::nullopt;
}

}  // namespace

// Reads the sheet, opens each file it names once, and keeps the data
// track's file open.
bool DiscImage::State::OpenSheet(const std::string& path, platform::ReadOnlyFile sheet,
                                 OpenFailure* failure) {
  const auto sheetError = [&](const CueError& wrong) {
    std::string text = path;
    if (wrong.line != 0) {
      text.append(":").append(std::to_string(wrong.line));
    }
    return Refuse(failure, platform::NoFileSystemError(), text.append(": ").append(wrong.what));
  };
  if (sheet.size() > kMaxSheetBytes) {
    return sheetError({0, "larger than 1 MiB, too large for a cue sheet"});
  }
  std::vector<std::uint8_t> text;
  std::error_code error;
  if (!ReadStart(sheet, kMaxSheetBytes, &text, &error)) {
    return Refuse(failure, error, path + ": " + error.message());
  }
  CueSheet cue;
  if (const auto wrong =
          ParseCueSheet({reinterpret_cast<const char*>(text.data()), text.size()}, &cue)) {
    return sheetError(*wrong);
  }
  std::vector<platform::ReadOnlyFile> files;
  std::vector<std::optional<std::uint64_t>> sizes;
  CueError wrong;
  if (!OpenNamedFiles(cue, sheet, &files, &sizes, &wrong)) {
    return sheetError(wrong);
  }
  DataTrack data{};
  if (const auto located = LocateDataTrack(cue, sizes, &data)) {
    return sheetError(*located);
  }
  if (const auto unusable = CheckDataTrack(cue, data, files[data.file])) {
    return sheetError(*unusable);
  }
  sources = {sheet.resolvedPath(), files[data.file].resolvedPath()};
  track.Use(std::move(files[data.file]), cue.files[data.file].name, data.format, data.firstByte,
            data.endByte);
  return true;
}

// Hands the data track's file to libcdio, by the name that reaches only it.
bool DiscImage::State::OpenFileSystem(const std::string& path, OpenFailure* failure) {
  const std::string& name = track.file().libraryPath();
  if (name.empty() || name.size() > 400 || name.find_first_of("\"\t\r\n") != std::string::npos) {
    // The TOC reader takes a name of at most a line of 512 bytes, quoted.
    return Refuse(
        failure, platform::NoFileSystemError(),
        path + ": the path of \"" + track.name() + "\" cannot be handed to the ISO 9660 reader");
  }
  if (track.format() == kPlainSectors) {
    iso = iso9660_open_ext(name.c_str(), ISO_EXTENSION_ALL);
  } else {
    const std::string toc = std::string(track.format().mode == 1 ? "CD_ROM\nTRACK MODE1_RAW\n"
                                                                 : "CD_ROM_XA\nTRACK MODE2_RAW\n") +
                            "DATAFILE \"" + TocName(name) + "\"\n";
    platform::TemporaryFile tocFile;
    std::error_code error;
    if (!tocFile.Create(".toc", toc, &error)) {
      return Refuse(failure, error,
                    path + ": a temporary file for the ISO 9660 reader: " + error.message());
    }
    disc = cdio_open(tocFile.path().c_str(), DRIVER_CDRDAO);
    if (disc != nullptr && !iso9660_fs_read_superblock(disc, ISO_EXTENSION_ALL)) {
      cdio_destroy(disc);
      disc = nullptr;
    }
  }
  if (iso == nullptr && disc == nullptr) {
    return Refuse(failure, platform::NoFileSystemError(),
                  path + ": " + platform::NoFileSystemError().message());
  }
  return true;
}

DiscImage::DiscImage() : state_(std::make_unique<State>()) {}
DiscImage::~DiscImage() = default;

std::shared_ptr<DiscImage> DiscImage::Open(const std::string& path, OpenFailure* failure) {
  SilenceLibrary();
  std::error_code error;
  platform::ReadOnlyFile given = platform::ReadOnlyFile::Open(path, &error);
  if (!given) {
    Refuse(failure, error, path + ": " + error.message());
    return nullptr;
  }
  std::vector<std::uint8_t> head;
  if (!ReadStart(given, kHeadBytes, &head, &error)) {
    Refuse(failure, error, path + ": " + error.message());
    return nullptr;
  }
  auto image = std::make_shared<DiscImage>();
  State& state = *image->state_;
  if (const std::optional<SectorFormat> format = SniffImage(head)) {
    state.sources = {given.resolvedPath()};
    const std::uint64_t size = given.size();
    state.track.Use(std::move(given), path, *format, 0, size);
  } else if (LooksLikeCueSheet({reinterpret_cast<const char*>(head.data()), head.size()}) ||
             HasCueName(path) || HasCueName(given.resolvedPath())) {
    if (!state.OpenSheet(path, std::move(given), failure)) {
      return nullptr;
    }
  } else {
    Refuse(failure, platform::NoFileSystemError(),
           path + ": " + platform::NoFileSystemError().message());
    return nullptr;
  }
  if (!state.OpenFileSystem(path, failure)) {
    return nullptr;
  }
  auto root = image->List("/");
  if (!root) {
    Refuse(failure, platform::NoFileSystemError(),
           path + ": " + platform::NoFileSystemError().message());
    return nullptr;
  }
  image->root_ = std::move(*root);
  return image;
}

std::vector<std::string> DiscImage::Sources() const {
  return state_->sources;
}

std::optional<std::vector<Entry>> DiscImage::List(const std::string& path) const {
  CdioISO9660FileList_t* list = state_->iso != nullptr
                                    ? iso9660_ifs_readdir(state_->iso, path.c_str())
                                    : iso9660_fs_readdir(state_->disc, path.c_str());
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
    {
      const std::lock_guard hold(lock_);
      below = List(directory);
    }
    if (!below) {
      return std::nullopt;
    }
    entries = &*below;
  }
}

bool DiscImage::Read(const Entry& file, std::uint64_t offset, std::span<std::uint8_t> dest,
                     std::size_t* got, ReadStop* stop) const {
  *got = 0;
  if (offset >= file.size) {
    return true;
  }
  if (file.lsn < 0) {
    return false;
  }
  const std::size_t wanted = std::min<std::uint64_t>(dest.size(), file.size - offset);
  const std::lock_guard hold(lock_);
  return state_->track.Read(static_cast<std::uint64_t>(file.lsn) * kUserBytes + offset,
                            dest.first(wanted), got, stop);
}

}  // namespace cgvw::disc
