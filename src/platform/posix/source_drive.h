// Opening a file on a source drive.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive_path.h"
#include "file_object.h"

namespace platform::posix {

// Opens the file that a drive path names, for reading; null if it cannot be
// opened. The drive is a directory, or a disc image file (iso_image.h).
std::unique_ptr<FileObject> OpenOnDrive(const DrivePath& path);

// Opens a regular file below a directory, each component looked up as
// FindInDirectory does.
std::unique_ptr<FileObject> OpenInDirectory(const std::string& directory,
                                            const std::vector<std::string>& components);

}  // namespace platform::posix
