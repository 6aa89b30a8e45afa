// Zip and 7z archives as a layout (containers.h): an archive holding one
// disc in any layout that is read (a cue sheet with its files, an .iso, a
// bare raw dump, a whole-disc dump) is read as it is, each member through
// libarchive (archive_stream.h) without unpacking anything.
//
// The archive is gone through once: each member's first bytes tell what it
// is, and small descriptors (a sheet) are kept whole. A member whose end
// would have to be read to tell it (a Nero image's footer) is decompressed
// for that only when nothing else recognises it, and only if no sheet
// names it. A member's bytes are then read in order, as its compression
// demands: its first MiB stays in memory, and 16 MiB of what was read
// last; a read further back begins the member's data again (counted by
// ArchiveRestarts()). Memory is bounded whatever the member's size.
#pragma once

#include <cstdint>

#include "containers.h"

namespace cgvw::disc {

extern const Container kArchive;

// How many times, in this process, a member's data was begun again for a
// read that lay behind where its stream stood.
std::uint64_t ArchiveRestarts();

}  // namespace cgvw::disc
