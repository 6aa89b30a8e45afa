#include "drive_path.h"

#include "platform/folder_files.h"
#include "platform/names.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace platform::posix {
namespace {

bool IsUsableComponent(const std::string& component) {
  return !component.empty() && component != "." && component != ".." &&
         component.find('/') == std::string::npos;
}

}  // namespace

std::string DriveRoot() {
  const char* root = std::getenv("TVRCGCV_DRIVE_ROOT");
  return (root != nullptr && root[0] != '\0') ? root : "/mnt";
}

std::optional<DrivePath> ParseDrivePath(const char* path) {
  if (path == nullptr || path[0] == '\0' || path[1] != ':' || path[2] != '\\') {
    return std::nullopt;
  }
  DrivePath result;
  result.drive = DriveRoot() + "/" + LowerAscii(path[0]);
  if (path[0] == '.' || path[0] == '/') {
    return result;  // would name the drive root itself, which is no drive
  }
  std::vector<std::string> components;
  std::string current;
  for (const char* p = path + 3;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!IsUsableComponent(current)) {
        return result;  // no components: nothing can be opened
      }
      components.push_back(current);
      current.clear();
      if (*p == '\0') {
        break;
      }
    } else {
      current += *p;
    }
  }
  result.components = std::move(components);
  return result;
}

std::optional<std::string> FindInDirectory(const std::string& directory, const std::string& name) {
  const std::string exact = directory + "/" + name;
  struct stat info {};
  if (::lstat(exact.c_str(), &info) == 0) {
    return exact;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
  if (!dir) {
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    names.emplace_back(entry->d_name);
  }
  const auto found = platform::PickName(names, name);
  if (!found) {
    return std::nullopt;
  }
  return directory + "/" + names[*found];
}

}  // namespace platform::posix

namespace platform {

std::string DriveFolder(char letter) {
  return posix::DriveRoot() + "/" + LowerAscii(letter);
}

}  // namespace platform
