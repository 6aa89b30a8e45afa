#include <algorithm>
#include <new>
#include <vector>

#include "cgvw/disc_image.h"
#include "disc.h"
#include "platform/names.h"

namespace cgvw {

Result<std::unique_ptr<DiscImageSource>> DiscImageSource::Open(const std::string& path,
                                                               ImageProblem* problem) noexcept {
  try {
    disc::OpenFailure failure;
    std::shared_ptr<disc::DiscImage> image = disc::DiscImage::Open(path, &failure);
    if (!image) {
      if (problem != nullptr) {
        problem->error = failure.error;
        problem->text = std::move(failure.text);
      }
      return Status::CannotOpen;
    }
    return std::make_unique<DiscImageSource>(std::move(image));
  } catch (const std::bad_alloc&) {
    return Status::NoMemory;
  }
}

Result<std::unique_ptr<DiscImageSource>> DiscImageSource::Open(const std::string& path,
                                                               std::error_code* error) noexcept {
  ImageProblem problem;
  auto opened = Open(path, &problem);
  if (!opened && error != nullptr) {
    *error = problem.error;
  }
  return opened;
}

DiscImageSource::DiscImageSource(std::shared_ptr<disc::DiscImage> image) noexcept
    : image_(std::move(image)) {}

DiscImageSource::~DiscImageSource() = default;

ReadResult DiscImageSource::Read(std::string_view name, std::uint64_t offset,
                                 std::span<std::uint8_t> dest) noexcept {
  ReadResult result;
  try {
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

std::string DiscImageSource::Damage(std::string_view name) noexcept {
  try {
    const std::optional<disc::Entry> file = image_->Find(platform::SplitName(name));
    if (!file || file->size == 0) {
      return "";
    }
    std::vector<std::uint8_t> buffer(std::min<std::uint32_t>(file->size, 1u << 20));
    disc::ReadStop stop;
    for (std::uint64_t offset = 0; offset < file->size; offset += buffer.size()) {
      std::size_t got = 0;
      if (!image_->Read(*file, offset, buffer, &got, &stop)) {
        const std::uint64_t last = file->lsn + (file->size - 1) / 2048;
        return stop.why + " (the file's data is in sectors " + std::to_string(file->lsn) + " to " +
               std::to_string(last) + ")";
      }
    }
  } catch (const std::bad_alloc&) {
    // nothing more to say than the failed read itself
  }
  return "";
}

std::vector<std::string> DiscImageSource::Files() const {
  return image_->Sources();
}

}  // namespace cgvw
