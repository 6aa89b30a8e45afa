// Files kept open for reading at offsets (read_only_file.h).
#include "platform/read_only_file.h"

#include <new>
#include <utility>

#include "backend.h"
#include "platform/faults.h"

namespace platform {

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept {
  *this = std::move(other);
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    Close();
    open_ = std::exchange(other.open_, false);
    native_ = other.native_;
    size_ = other.size_;
    identity_ = other.identity_;
    resolvedPath_ = std::move(other.resolvedPath_);
  }
  return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

void ReadOnlyFile::Close() noexcept {
  if (open_) {
    // Only read from: a close error cannot touch the bytes already read.
    backend::CloseFile(native_);
    open_ = false;
  }
}

ReadOnlyFile ReadOnlyFile::Open(const std::string& path, std::error_code* error) noexcept {
  ReadOnlyFile file;
  if (faults::ShouldFail(faults::Point::FileOpen)) {
    *error = std::make_error_code(std::errc::io_error);
    return file;
  }
  try {
    backend::RegularFileFacts facts;
    const auto native = backend::OpenRegularFile(path, &facts, error);
    if (native) {
      file.open_ = true;
      file.native_ = *native;
      file.size_ = facts.size;
      file.identity_ = facts.identity;
      file.resolvedPath_ = std::move(facts.resolvedPath);
    }
  } catch (const std::bad_alloc&) {
    *error = std::make_error_code(std::errc::not_enough_memory);
    file = ReadOnlyFile();
  }
  return file;
}

bool ReadOnlyFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest, std::size_t* got,
                          std::error_code* error) const noexcept {
  *got = 0;
  if (!open_) {
    *error = std::make_error_code(std::errc::bad_file_descriptor);
    return false;
  }
  if (faults::ShouldFail(faults::Point::FileRead)) {
    *error = std::make_error_code(std::errc::io_error);
    return false;
  }
  return backend::ReadAt(native_, offset, dest, got, error);
}

}  // namespace platform
