#include <new>
#include <vector>

#include "cgvw/disc_image.h"
#include "disc.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw {

Result<std::unique_ptr<DiscImageSource>> DiscImageSource::Open(const std::string& path,
                                                               std::error_code* error) noexcept {
  try {
    std::error_code why;
    std::shared_ptr<disc::DiscImage> image = disc::DiscImage::Open(path);
    if (!image) {
      switch (platform::KindOfPath(path)) {
        case platform::PathKind::kMissing:
          why = std::make_error_code(std::errc::no_such_file_or_directory);
          break;
        case platform::PathKind::kFolder:
        case platform::PathKind::kOther:
          why = platform::NotRegularFileError();
          break;
        case platform::PathKind::kRegularFile:
          why = platform::NoFileSystemError();
          break;
      }
      if (error != nullptr) {
        *error = why;
      }
      return Status::CannotOpen;
    }
    return std::make_unique<DiscImageSource>(std::move(image));
  } catch (const std::bad_alloc&) {
    return Status::NoMemory;
  }
}

DiscImageSource::DiscImageSource(std::shared_ptr<disc::DiscImage> image) noexcept
    : image_(std::move(image)) {}

DiscImageSource::~DiscImageSource() = default;

ReadResult DiscImageSource::Read(std::string_view name, std::uint64_t offset,
                                 std::span<std::uint8_t> dest) noexcept {
  ReadResult result;
  try {
    const std::lock_guard hold(lock_);
    const std::optional<disc::Entry> file = image_->Find(platform::SplitName(name));
    if (!file) {
      result.status = Status::CannotOpen;
      result.error = std::make_error_code(std::errc::no_such_file_or_directory);
      return result;
    }
    if (!image_->Read(*file, offset, dest, &result.got)) {
      result.status = Status::ReadFailed;
      result.error = std::make_error_code(std::errc::io_error);
    }
  } catch (const std::bad_alloc&) {
    result.status = Status::NoMemory;
  }
  return result;
}

}  // namespace cgvw
