// Files inside a disc image. A drive whose path is a regular file, or a link
// to one, is a CD-ROM image instead of a directory, and its files are read
// from the ISO 9660 file system inside it. What the link points at decides
// how the image is read:
//
// - a file whose name ends in ".cue" (any case) is a cue sheet, read by
//   libcdio's BIN/CUE driver: the raw BIN file beside it with the same stem
//   (disc.cue and disc.bin; the driver goes by that name, not by the sheet's
//   FILE line) holds the file system in its first track;
// - any other file is an image of 2048-byte sectors (.iso) or, if it is
//   not, a raw BIN file whose cue sheet lies beside it (disc.bin and
//   disc.cue), read as above. A raw dump without its sheet is not read:
//   libcdio's reader for raw sectors without a sheet returns wrong bytes
//   for any read longer than one sector, directories included.
//
// Names are looked up as on a directory drive (the exact name, else the
// first in byte order of those that equal it ignoring ASCII case), using the
// Joliet names where the image has them, else the Rock Ridge names, else the
// ISO 9660 names without their ";1" version and a trailing '.'. An image
// that cannot be read as one of these, or whose file system is damaged,
// opens nothing; a file whose sectors lie beyond the end of a truncated
// image opens, but reading them fails as an I/O error does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "file_object.h"

namespace platform::posix {

// False when the program was built without an ISO 9660 reader; every image
// drive then fails to open.
bool DiscImagesSupported();

// Opens the file that `components` names below the root directory of the
// file system in the image at `imagePath`, for reading; null if it cannot
// be opened.
std::unique_ptr<FileObject> OpenInImage(const std::string& imagePath,
                                        const std::vector<std::string>& components);

}  // namespace platform::posix
