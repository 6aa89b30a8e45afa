// Random-access bytes: what every disc layout is read from. A file opened
// by the program (platform/read_only_file.h), bytes in memory, and whatever
// else holds a disc image (a member of an archive, say) sit behind the one
// interface, so that a layout is read the same way from each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "platform/read_only_file.h"

namespace cgvw::disc {

// What one read gave: `got` bytes into the start of the destination; an
// error when the bytes could not be read (got then counts what came
// before it). Fewer bytes without an error: the end was reached.
struct ByteRead {
  std::size_t got = 0;
  std::error_code error;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes (of a file: when it was opened).
  virtual std::uint64_t size() const = 0;
  // Reads from `offset` until `dest` is full or the bytes end. Callers take
  // turns: one read at a time.
  virtual ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) = 0;
  // How messages name it: a sheet's FILE name, the path given, ...
  virtual const std::string& name() const = 0;
};

// A regular file kept open (never a pipe, device or folder).
class FileBytes final : public ByteSource {
 public:
  FileBytes(platform::ReadOnlyFile file, std::string name)
      : file_(std::move(file)), name_(std::move(name)) {}
  // Opens the regular file at `path`; null, with the reason, if it cannot.
  static std::unique_ptr<FileBytes> Open(const std::string& path, std::string name,
                                         std::error_code* error);

  std::uint64_t size() const override { return file_.size(); }
  ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override;
  const std::string& name() const override { return name_; }
  const platform::ReadOnlyFile& file() const { return file_; }

 private:
  platform::ReadOnlyFile file_;
  std::string name_;
};

// Bytes held in memory.
class MemoryBytes final : public ByteSource {
 public:
  MemoryBytes(std::vector<std::uint8_t> bytes, std::string name)
      : bytes_(std::move(bytes)), name_(std::move(name)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override;
  const std::string& name() const override { return name_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::string name_;
};

// The first `size` bytes (fewer if there are fewer); false on an error.
bool ReadHead(ByteSource& bytes, std::size_t size, std::vector<std::uint8_t>* out,
              std::error_code* error);

}  // namespace cgvw::disc
