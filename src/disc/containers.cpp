// The table of layouts and the local files a layout names (containers.h).
#include "containers.h"

#include <algorithm>
#include <array>

#include "cgvw/disc_image.h"
#include "platform/folder_files.h"
#if TVRCGCV_WITH_ARCHIVES
#include "archives.h"
#endif

namespace cgvw::disc {
namespace {

// Raw images first: their sector 16 could also pass for plain sectors' at
// another offset only by chance, never the other way round. A Nero image
// is told by its end, whatever its sectors are; the descriptors by their
// first bytes. A CHD and an archive are told by their first bytes, in a
// build that reads them.
constexpr const Container* kContainers[] = {
#if TVRCGCV_CHD
    &kChd,
#endif
#if TVRCGCV_WITH_ARCHIVES
    &kArchive,
#endif
    &kNero,    &kRawImage, &kPlainImage, &kCloneCd, &kAlcohol, &kCueSheet};

class ItselfCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "tvrcgcv disc layout"; }
  std::string message(int /*condition*/) const override { return "is the given file itself"; }
};

// A file's folder in its path, with the separator: "" for a bare name.
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

class LocalFiles final : public Neighbours {
 public:
  explicit LocalFiles(const platform::ReadOnlyFile& given)
      : folder_(FolderOf(given.resolvedPath())),
        name_(given.resolvedPath().substr(folder_.size())),
        given_(given.identity()) {}

  std::unique_ptr<ByteSource> Open(std::string_view name, std::error_code* error) override {
    platform::ReadOnlyFile file = OpenFile(name, error);
    if (!file) {
      return nullptr;
    }
    return std::make_unique<FileBytes>(std::move(file), std::string(name));
  }

  std::optional<std::uint64_t> Size(std::string_view name, std::error_code* error) override {
    const platform::ReadOnlyFile file = OpenFile(name, error);
    return file ? std::optional(file.size()) : std::nullopt;
  }

  std::string PathOf(std::string_view name) const override {
    return platform::IsAbsolutePath(name) ? std::string(name) : folder_ + std::string(name);
  }

  std::string GivenName() const override { return name_; }

 private:
  platform::ReadOnlyFile OpenFile(std::string_view name, std::error_code* error) const {
    platform::ReadOnlyFile file = platform::ReadOnlyFile::Open(PathOf(name), error);
    if (file && file.identity() == given_) {
      *error = GivenFileItselfError();
      return {};
    }
    if (!file && *error == std::errc::not_a_directory) {
      *error = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    return file;
  }

  std::string folder_;
  std::string name_;
  platform::FileIdentity given_;
};

}  // namespace

std::span<const Container* const> Containers() {
  return kContainers;
}

const Container* Recognise(const Probe& probe) {
  for (const Container* container : kContainers) {
    if (container->recognise(probe)) {
      return container;
    }
  }
  return nullptr;
}

std::string UnreadKind(std::span<const std::uint8_t> head) {
  const auto begins = [&](std::string_view magic) {
    return head.size() >= magic.size() &&
           std::equal(magic.begin(), magic.end(), head.begin(),
                      [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
  };
  if (begins("MComprHD")) {
    return "a CHD (MAME's compressed hunks of data), which this build does not read: chdman "
           "extractcd makes a cue sheet and raw image of it";
  }
  // Read where the build has libarchive (archives.h).
  if (begins(std::string_view("PK\x03\x04", 4))) {
    return "a zip archive, which this build does not read: unpack the disc image it holds";
  }
  if (begins(std::string_view("7z\xBC\xAF\x27\x1C", 6))) {
    return "a 7z archive, which this build does not read: unpack the disc image it holds";
  }
  return "";
}

#if !TVRCGCV_CHD
std::uint64_t ChdHunksDecompressed(const SectorTrack& /*track*/) {
  return 0;
}
#endif

std::unique_ptr<Neighbours> LocalNeighbours(const platform::ReadOnlyFile& given) {
  return std::make_unique<LocalFiles>(given);
}

std::error_code GivenFileItselfError() {
  static const ItselfCategory category;
  return {1, category};
}

}  // namespace cgvw::disc

bool cgvw::ReadsChdFiles() noexcept {
  return TVRCGCV_CHD != 0;
}

bool cgvw::ReadsArchives() noexcept {
  return TVRCGCV_WITH_ARCHIVES != 0;
}
