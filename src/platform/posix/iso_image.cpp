// Disc images through libcdio: libiso9660 reads the file system of an image
// of 2048-byte sectors, libcdio's BIN/CUE driver that of a cue sheet's raw
// BIN file.
#include "iso_image.h"

#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/memory.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "drive_path.h"

namespace platform::posix {
namespace {

// Sectors read at once by a file read.
constexpr std::uint32_t kBlocksPerRead = 32;

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
         EqualIgnoringAsciiCase(path.substr(path.size() - kSuffix.size()), kSuffix);
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
  struct stat info {};
  return ::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

// The names a cue sheet's FILE and CDTEXTFILE lines give, as they stand
// (quoted or not). Reads at most the first 256 KiB: no real sheet is longer.
std::vector<std::string> NamesInCueSheet(const std::string& cuePath) {
  std::vector<std::string> names;
  const int fd = ::open(cuePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return names;
  }
  struct stat info {};
  std::string text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    text.resize(256 * 1024);
    const ssize_t got = ::read(fd, text.data(), text.size());
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  ::close(fd);
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
  const std::size_t slash = cuePath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : cuePath.substr(0, slash + 1);
  for (const std::string& name : NamesInCueSheet(cuePath)) {
    paths.push_back(name.front() == '/' ? name : folder + name);
  }
  return std::all_of(paths.begin(), paths.end(), AbsentOrRegular);
}

// Opens a cue sheet's image with its file system's volume descriptors
// read (Joliet ones too); null if either fails.
CdIo_t* OpenCueSheet(const std::string& path) {
  if (path.empty() || !CueSheetFilesAreRegular(path)) {
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
  struct stat info {};
  return ::stat(result.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? result : "";
}

struct Entry {
  std::string name;      // compared by lookups
  std::string recorded;  // as the directory records it, for paths below it
  std::int64_t lsn;      // first sector
  std::uint32_t size;    // bytes
  bool directory;
};

// An open image with its root directory read.
class DiscImage {
 public:
  DiscImage() = default;
  ~DiscImage() {
    if (iso_ != nullptr) {
      iso9660_close(iso_);
    }
    if (disc_ != nullptr) {
      cdio_destroy(disc_);
    }
  }
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  // Opens the image at a resolved path; null if it holds no readable ISO
  // 9660 file system.
  static std::shared_ptr<DiscImage> Open(const std::string& path) {
    SilenceLibrary();
    auto image = std::make_shared<DiscImage>();
    if (IsCueSheetName(path)) {
      image->disc_ = OpenCueSheet(path);
    } else {
      image->iso_ = iso9660_open_ext(path.c_str(), ISO_EXTENSION_ALL);
      if (image->iso_ == nullptr) {
        image->disc_ = OpenCueSheet(CueSheetBeside(path));
      }
    }
    if (image->iso_ == nullptr && image->disc_ == nullptr) {
      return nullptr;
    }
    auto root = image->List("/");
    if (!root) {
      return nullptr;
    }
    image->root_ = std::move(*root);
    return image;
  }

  const std::vector<Entry>& root() const { return root_; }

  // The cue sheet and BIN file that the image was read from, if any.
  std::vector<std::string> Sources() const {
    std::vector<std::string> sources;
    for (const char* key : {"cue", "source"}) {
      const char* name = disc_ != nullptr ? cdio_get_arg(disc_, key) : nullptr;
      if (name != nullptr) {
        sources.emplace_back(name);
      }
    }
    return sources;
  }

  // The entries of a directory given by its recorded path ("/" for the
  // root), without "." and ".."; nullopt if it cannot be read.
  std::optional<std::vector<Entry>> List(const std::string& path) const {
    CdioISO9660FileList_t* list = iso_ != nullptr ? iso9660_ifs_readdir(iso_, path.c_str())
                                                  : iso9660_fs_readdir(disc_, path.c_str());
    if (list == nullptr) {
      return std::nullopt;
    }
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
    iso9660_filelist_free(list);
    return entries;
  }

  // Reads `count` 2048-byte sectors from `lsn` on; false unless all of them
  // could be read.
  bool ReadBlocks(std::int64_t lsn, std::uint32_t count, std::uint8_t* out) const {
    if (lsn < 0 || lsn + count > std::numeric_limits<lsn_t>::max()) {
      return false;
    }
    const auto first = static_cast<lsn_t>(lsn);
    if (iso_ != nullptr) {
      return iso9660_iso_seek_read(iso_, out, first, count) ==
             static_cast<long>(count) * ISO_BLOCKSIZE;
    }
    return cdio_read_data_sectors(disc_, out, first, ISO_BLOCKSIZE, count) == DRIVER_OP_SUCCESS;
  }

 private:
  iso9660_t* iso_ = nullptr;  // an image of 2048-byte sectors
  CdIo_t* disc_ = nullptr;    // a cue sheet's image
  std::vector<Entry> root_;
};

// What identifies a file's contents well enough to notice that it changed.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  std::int64_t changedSeconds = 0;
  long changedNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> Identify(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return FileIdentity{info.st_dev,         info.st_ino,          info.st_size,
                      info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ctim.tv_sec,
                      info.st_ctim.tv_nsec};
}

// A conversion opens the same image several times per picture; the last
// image opened stays open while none of the files it was read from (the
// image, and the cue sheet and BIN file where one is used) changes.
class ImageCache {
 public:
  std::shared_ptr<DiscImage> Get(const std::string& path) {
    if (image_ && path == path_ && Unchanged()) {
      return image_;
    }
    image_.reset();
    sources_.clear();
    auto image = DiscImage::Open(path);
    if (image) {
      for (const std::string& source : image->Sources()) {
        sources_.emplace_back(source, Identify(source));
      }
      sources_.emplace_back(path, Identify(path));
      path_ = path;
      image_ = image;
    }
    return image;
  }

 private:
  bool Unchanged() const {
    return std::all_of(sources_.begin(), sources_.end(),
                       [](const auto& source) { return Identify(source.first) == source.second; });
  }

  std::shared_ptr<DiscImage> image_;
  std::string path_;
  std::vector<std::pair<std::string, std::optional<FileIdentity>>> sources_;
};

// A file of the image behind a handle: reads copy the sectors' bytes, never
// past the file's recorded size.
class ImageFile final : public FileObject {
 public:
  ImageFile(std::shared_ptr<const DiscImage> image, const Entry& entry)
      : image_(std::move(image)), lsn_(entry.lsn), size_(entry.size) {}

  bool Seek(std::int64_t offset) override {
    if (offset < 0) {
      return false;
    }
    position_ = offset;
    return true;
  }

  bool Read(void* buffer, std::size_t size, std::size_t* done) override {
    *done = 0;
    if (position_ >= size_) {
      return true;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::size_t wanted = std::min<std::uint64_t>(size, size_ - position_);
    std::vector<std::uint8_t> sectors;
    while (*done < wanted) {
      const std::int64_t block = position_ / ISO_BLOCKSIZE;
      const std::size_t within = static_cast<std::size_t>(position_ % ISO_BLOCKSIZE);
      const std::size_t remaining = wanted - *done;
      const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(
          kBlocksPerRead, (within + remaining + ISO_BLOCKSIZE - 1) / ISO_BLOCKSIZE));
      sectors.resize(static_cast<std::size_t>(count) * ISO_BLOCKSIZE);
      if (!image_->ReadBlocks(lsn_ + block, count, sectors.data())) {
        return false;  // the image ends inside the file, or cannot be read
      }
      const std::size_t take = std::min(remaining, sectors.size() - within);
      std::memcpy(out + *done, sectors.data() + within, take);
      *done += take;
      position_ += static_cast<std::int64_t>(take);
    }
    return true;
  }

  bool Write(const void* /*buffer*/, std::size_t /*size*/, std::size_t* done) override {
    *done = 0;
    return false;  // a disc is read-only
  }

  bool Close() override { return true; }  // the image stays open for the next file

 private:
  std::shared_ptr<const DiscImage> image_;
  std::int64_t lsn_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

}  // namespace

bool DiscImagesSupported() {
  return true;
}

std::unique_ptr<FileObject> OpenInImage(const std::string& imagePath,
                                        const std::vector<std::string>& components) {
  if (components.empty()) {
    return nullptr;
  }
  // The link's target, so that a cue sheet finds its BIN file beside it.
  char* resolved = ::realpath(imagePath.c_str(), nullptr);
  if (resolved == nullptr) {
    return nullptr;
  }
  const std::string path = resolved;
  std::free(resolved);

  static ImageCache cache;
  const std::shared_ptr<DiscImage> image = cache.Get(path);
  if (!image) {
    return nullptr;
  }

  std::optional<std::vector<Entry>> below;  // a listing below the root
  const std::vector<Entry>* entries = &image->root();
  std::string directory;
  for (std::size_t i = 0;; ++i) {
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (const Entry& entry : *entries) {
      names.push_back(entry.name);
    }
    const auto found = PickName(names, components[i]);
    if (!found) {
      return nullptr;
    }
    const Entry& entry = (*entries)[*found];
    if (i + 1 == components.size()) {
      if (entry.directory || entry.lsn < 0) {
        return nullptr;
      }
      return std::make_unique<ImageFile>(image, entry);
    }
    if (!entry.directory) {
      return nullptr;
    }
    directory += "/" + entry.recorded;
    below = image->List(directory);
    if (!below) {
      return nullptr;
    }
    entries = &*below;
  }
}

}  // namespace platform::posix
