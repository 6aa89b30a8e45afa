#include <string>

#include "platform/folder_files.h"

namespace platform {
namespace {

enum class FileKind { kNotRegular = 1, kNoFileSystem };

class FileKindCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "tvrcgcv file kind"; }
  std::string message(int condition) const override {
    return condition == static_cast<int>(FileKind::kNoFileSystem)
               ? "no readable ISO 9660 file system (not a CD image, or a damaged one)"
               : "not a regular file (a folder, a pipe or a device)";
  }
};

std::error_code ErrorOf(FileKind kind) {
  static const FileKindCategory category;
  return {static_cast<int>(kind), category};
}

}  // namespace

std::error_code NotRegularFileError() noexcept {
  return ErrorOf(FileKind::kNotRegular);
}

std::error_code NoFileSystemError() noexcept {
  return ErrorOf(FileKind::kNoFileSystem);
}

}  // namespace platform
