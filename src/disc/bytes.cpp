#include "bytes.h"

#include <algorithm>
#include <cstring>

namespace cgvw::disc {

std::unique_ptr<FileBytes> FileBytes::Open(const std::string& path, std::string name,
                                           std::error_code* error) {
  platform::ReadOnlyFile file = platform::ReadOnlyFile::Open(path, error);
  if (!file) {
    return nullptr;
  }
  return std::make_unique<FileBytes>(std::move(file), std::move(name));
}

ByteRead FileBytes::ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) {
  ByteRead read;
  // Never past the size it was opened with: a file that grew since reads
  // as it was.
  const std::uint64_t left = offset < size() ? size() - offset : 0;
  dest = dest.first(static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), left)));
  file_.ReadAt(offset, dest, &read.got, &read.error);
  return read;
}

ByteRead MemoryBytes::ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) {
  ByteRead read;
  if (offset < bytes_.size() && !dest.empty()) {  // an empty span may have no data()
    read.got = static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), size() - offset));
    std::memcpy(dest.data(), bytes_.data() + offset, read.got);
  }
  return read;
}

bool ReadHead(ByteSource& bytes, std::size_t size, std::vector<std::uint8_t>* out,
              std::error_code* error) {
  out->resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes.size())));
  const ByteRead read = bytes.ReadAt(0, *out);
  out->resize(read.got);
  *error = read.error;
  return !read.error;
}

}  // namespace cgvw::disc
