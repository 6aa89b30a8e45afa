#include "drive_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace platform::posix {
namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsUsableComponent(const std::string& component) {
  return !component.empty() && component != "." && component != ".." &&
         component.find('/') == std::string::npos;
}

}  // namespace

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

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
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) {
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  const auto found = PickName(names, name);
  if (!found) {
    return std::nullopt;
  }
  return directory + "/" + names[*found];
}

std::optional<std::size_t> PickName(const std::vector<std::string>& names,
                                    const std::string& name) {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) {
      return i;
    }
    if (EqualIgnoringAsciiCase(names[i], name) && (!best || names[i] < names[*best])) {
      best = i;
    }
  }
  return best;
}

}  // namespace platform::posix
