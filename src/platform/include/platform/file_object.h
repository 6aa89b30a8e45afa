// An open file behind a HANDLE of the platform layer: a descriptor on
// POSIX, a system handle on Windows, or a file inside a disc image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class FileObject {
 public:
  virtual ~FileObject() = default;
  // Moves the position to the offset from the start; false if impossible.
  virtual bool Seek(std::int64_t offset) = 0;
  // Reads up to `size` bytes, fewer only at the end of the file. False on an
  // I/O error; `done` then counts the bytes read before it.
  virtual bool Read(void* buffer, std::size_t size, std::size_t* done) = 0;
  // Writes all `size` bytes; false if that failed (`done` says how many made it).
  virtual bool Write(const void* buffer, std::size_t size, std::size_t* done) = 0;
  // Closes the file; false when the system reports an error (a write that
  // could not be completed, say). The object is closed either way.
  virtual bool Close() = 0;
};

// A file read and written at offsets that it counts itself, so that a seek
// is only a number: the system's files and the files of a disc image.
class OffsetFile : public FileObject {
 public:
  bool Seek(std::int64_t offset) final {
    if (offset < 0) {
      return false;
    }
    position_ = static_cast<std::uint64_t>(offset);
    return true;
  }
  bool Read(void* buffer, std::size_t size, std::size_t* done) final {
    const bool ok = ReadAt(position_, static_cast<std::uint8_t*>(buffer), size, done);
    position_ += *done;
    return ok;
  }
  bool Write(const void* buffer, std::size_t size, std::size_t* done) final {
    const bool ok = WriteAt(position_, static_cast<const std::uint8_t*>(buffer), size, done);
    position_ += *done;
    return ok;
  }

 protected:
  // Reads up to `size` bytes at `offset`, fewer only at the end of the
  // file; false on an I/O error.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
                      std::size_t* done) = 0;
  virtual bool WriteAt(std::uint64_t offset, const std::uint8_t* buffer, std::size_t size,
                       std::size_t* done) = 0;

 private:
  std::uint64_t position_ = 0;
};

}  // namespace platform
