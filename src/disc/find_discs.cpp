#include "find_discs.h"

#include <algorithm>

#include "containers.h"

namespace cgvw::disc {
namespace {

struct Found {
  std::string path;
  platform::FileIdentity identity;
  bool sheet;
};

// The layout of one file, if it is a disc; the identities of the files a
// sheet names go to `named`.
std::optional<Found> Look(const std::string& path, std::vector<platform::FileIdentity>* named) {
  std::error_code error;
  std::unique_ptr<FileBytes> file = FileBytes::Open(path, path, &error);
  std::vector<std::uint8_t> head;
  if (!file || !ReadHead(*file, kHeadBytes, &head, &error)) {
    return std::nullopt;
  }
  const Container* layout = Recognise({*file, head, path});
  if (layout == nullptr) {
    return std::nullopt;
  }
  const bool sheet = layout->names != nullptr;
  if (sheet) {
    const std::unique_ptr<Neighbours> neighbours = LocalNeighbours(file->file());
    for (const std::string& name : layout->names(*file)) {
      const platform::ReadOnlyFile track =
          platform::ReadOnlyFile::Open(neighbours->PathOf(name), &error);
      if (track) {
        named->push_back(track.identity());
      }
    }
  }
  return Found{path, file->file().identity(), sheet};
}

}  // namespace

std::vector<std::string> FindDiscs(const std::vector<std::string>& paths) {
  std::vector<Found> found;
  std::vector<platform::FileIdentity> named;
  for (const std::string& path : paths) {
    if (std::optional<Found> disc = Look(path, &named)) {
      found.push_back(std::move(*disc));
    }
  }
  std::vector<std::string> discs;
  for (const Found& disc : found) {
    if (disc.sheet || std::find(named.begin(), named.end(), disc.identity) == named.end()) {
      discs.push_back(disc.path);
    }
  }
  return discs;
}

}  // namespace cgvw::disc
