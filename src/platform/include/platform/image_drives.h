// Drives that are disc images (POSIX). A drive whose path is a regular file
// is read through the reader of disc images installed here, if any; the
// tvrcgcv::discimage library provides one (cgvw::EnableImageDrives).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_object.h"

namespace platform {

// Opens the file that `components` name below the root of the image at
// `imagePath`; null if it cannot.
using ImageFileOpener = std::unique_ptr<FileObject> (*)(const std::string& imagePath,
                                                        const std::vector<std::string>& components);

// Installs the reader (one for the whole process; null removes it).
void InstallImageFileOpener(ImageFileOpener opener) noexcept;
ImageFileOpener InstalledImageFileOpener() noexcept;

}  // namespace platform
