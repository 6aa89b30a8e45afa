#include <algorithm>
#include <new>
#include <vector>

#include "cgvw/disc_image.h"
#include "disc.h"
#include "find_discs.h"
#include "messages.h"
#include "platform/names.h"

namespace cgvw {

Result<std::unique_ptr<DiscImageSource>> DiscImageSource::Open(const std::string& path,
                                                               ImageProblem* problem) noexcept {
  try {
    disc::OpenProblem failure;
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
    std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(file->size, 1u << 20));
    disc::ReadFault fault;
    for (std::uint64_t offset = 0; offset < file->size; offset += buffer.size()) {
      std::size_t got = 0;
      if (!image_->Read(*file, offset, buffer, &got, &fault)) {
        const disc::iso9660::Extent& last = file->extents.back();
        return fault.why + " (the file's data is in sectors " +
               std::to_string(file->extents.front().sector) + " to " +
               std::to_string(last.sector + (std::max<std::uint32_t>(last.bytes, 1) - 1) / 2048) +
               ")";
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

std::vector<std::string> FindDiscImages(const std::vector<std::string>& paths) {
  try {
    return disc::FindDiscs(paths);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string SeveralDiscsText(const std::vector<std::string>& discs) {
  std::string text = "several discs were given (";
  for (std::size_t i = 0; i < discs.size(); ++i) {
    text += (i == 0 ? "" : ", ") + disc::Quoted(discs[i]);
  }
  return text + "): give one at a time";
}

}  // namespace cgvw
