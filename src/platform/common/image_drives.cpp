#include "platform/image_drives.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<ImageFileOpener> g_opener{nullptr};
}  // namespace

void InstallImageFileOpener(ImageFileOpener opener) noexcept {
  g_opener = opener;
}

ImageFileOpener InstalledImageFileOpener() noexcept {
  return g_opener;
}

}  // namespace platform
