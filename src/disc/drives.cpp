// Classic drives that are disc images (POSIX): a drive whose path is an
// image file (or a link to one) is read through the image's file system. A
// conversion opens the same image several times per picture, so the last
// image opened stays open while none of the files it was read from (the
// image, or the cue sheet and its data track's file) changes.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

#include "cgvw/disc_image.h"
#include "platform/image_drives.h"

namespace cgvw {
namespace {

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

class ImageCache {
 public:
  std::shared_ptr<DiscImageSource> Get(const std::string& path) {
    const std::lock_guard hold(lock_);
    if (image_ && path == path_ && Unchanged()) {
      return image_;
    }
    image_.reset();
    sources_.clear();
    // The drive's reads give the open failure, whatever the reason.
    auto opened = DiscImageSource::Open(path);
    std::shared_ptr<DiscImageSource> image;
    if (opened) {
      image = std::move(*opened);
      for (const std::string& source : image->Files()) {
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

  std::mutex lock_;
  std::shared_ptr<DiscImageSource> image_;
  std::string path_;
  std::vector<std::pair<std::string, std::optional<FileIdentity>>> sources_;
};

// A file of the image behind a handle, read through the image's source.
class ImageFile final : public platform::OffsetFile {
 public:
  ImageFile(std::shared_ptr<DiscImageSource> image, std::string name)
      : image_(std::move(image)), name_(std::move(name)) {}

  bool Close() override { return true; }  // the image stays open for the next file

 private:
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
              std::size_t* done) override {
    const ReadResult read = image_->Read(name_, offset, {buffer, size});
    *done = read.got;
    return read.status == Status::Ok;  // a failure reads like an I/O error
  }
  bool WriteAt(std::uint64_t /*offset*/, const std::uint8_t* /*buffer*/, std::size_t /*size*/,
               std::size_t* done) override {
    *done = 0;
    return false;  // a disc is read-only
  }

  std::shared_ptr<DiscImageSource> image_;
  std::string name_;
};

std::unique_ptr<platform::FileObject> OpenImageFile(const std::string& path,
                                                    const std::vector<std::string>& components) {
  static ImageCache cache;
  std::shared_ptr<DiscImageSource> image = cache.Get(path);
  if (!image) {
    return nullptr;
  }
  std::string name;
  for (const std::string& component : components) {
    name.append(name.empty() ? "" : "/").append(component);
  }
  // Opening a file that is not there fails as a missing file does.
  if (image->Read(name, 0, {}).status != Status::Ok) {
    return nullptr;
  }
  return std::make_unique<ImageFile>(std::move(image), std::move(name));
}

}  // namespace

void EnableImageDrives() noexcept {
  platform::InstallImageFileOpener(OpenImageFile);
}

}  // namespace cgvw
