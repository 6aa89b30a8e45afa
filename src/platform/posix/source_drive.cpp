#include "source_drive.h"

#include <sys/stat.h>

#include "iso_image.h"

namespace platform::posix {

std::unique_ptr<FileObject> OpenOnDrive(const DrivePath& path) {
  if (path.components.empty()) {
    return nullptr;
  }
  struct stat info {};
  if (::stat(path.drive.c_str(), &info) != 0) {
    return nullptr;  // no such drive
  }
  if (S_ISDIR(info.st_mode)) {
    return OpenInDirectory(path.drive, path.components);
  }
  if (S_ISREG(info.st_mode)) {
    return OpenInImage(path.drive, path.components);  // a disc image
  }
  return nullptr;  // neither a directory nor an image
}

}  // namespace platform::posix
