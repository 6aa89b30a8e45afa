// How Windows paths map onto a POSIX file system.
//
// A drive path "X:\name" names the file `name` on drive X. Drive X is the
// directory $TVRCGCV_DRIVE_ROOT/x (the letter lower-cased; the root defaults
// to /mnt, where WSL mounts Windows drives), so a disc mounted or linked at
// /mnt/q is drive q. Any other path is a name relative to the current
// directory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

struct DrivePath {
  std::string drive;                    // the drive's directory (or image file)
  std::vector<std::string> components;  // the name split at backslashes
};

// The drive root directory in use: $TVRCGCV_DRIVE_ROOT, or /mnt.
std::string DriveRoot();

// Splits a drive path; nullopt for a path without a drive prefix. A name
// with an empty, "." or ".." component, or with a slash, cannot name a file
// on the drive and yields a DrivePath without components.
std::optional<DrivePath> ParseDrivePath(const char* path);

// Finds `name` in `directory` by the rule of platform/names.h. Returns the
// full path or nullopt.
std::optional<std::string> FindInDirectory(const std::string& directory, const std::string& name);

}  // namespace platform::posix
