// Disc images in a build without libcdio: an image drive opens nothing.
#include "iso_image.h"

namespace platform::posix {

bool DiscImagesSupported() {
  return false;
}

std::unique_ptr<FileObject> OpenInImage(const std::string& /*imagePath*/,
                                        const std::vector<std::string>& /*components*/) {
  return nullptr;
}

}  // namespace platform::posix
