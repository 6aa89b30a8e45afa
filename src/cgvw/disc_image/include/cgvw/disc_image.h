// Disc images as sources of bytes (the tvrcgcv::discimage library, which
// needs libcdio): an ISO 9660 image (.iso, Joliet and Rock Ridge names
// included) or a raw BIN file with its cue sheet (.cue).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "cgvw/decode.h"

namespace cgvw {

namespace disc {
class DiscImage;
struct Entry;
}  // namespace disc

// The files of the file system in a disc image, looked up as Windows does
// (the exact name, else one that differs only in the case of ASCII
// letters). Reads may come from several threads; they take turns.
class DiscImageSource final : public Source {
 public:
  // Opens the image at `path` (UTF-8): a .cue sheet, a .bin file with its
  // .cue beside it, or an image of 2048-byte sectors. CannotOpen when the
  // path is missing, no regular file, or holds no readable ISO 9660 file
  // system; `error` then says which.
  static Result<std::unique_ptr<DiscImageSource>> Open(const std::string& path,
                                                       std::error_code* error = nullptr) noexcept;

  explicit DiscImageSource(std::shared_ptr<disc::DiscImage> image) noexcept;
  ~DiscImageSource() override;
  ReadResult Read(std::string_view name, std::uint64_t offset,
                  std::span<std::uint8_t> dest) noexcept override;

 private:
  std::mutex lock_;
  std::shared_ptr<disc::DiscImage> image_;
};

// Lets the classic drives (platform/win_api.h on POSIX) be disc images: a
// drive whose path is an image file is then read through the image's file
// system. Called once, before the first read; without it an image drive
// cannot be opened. On Windows, which mounts images itself, it does nothing.
void EnableImageDrives() noexcept;

}  // namespace cgvw
