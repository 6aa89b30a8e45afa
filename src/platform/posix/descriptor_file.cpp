// A file descriptor behind a handle. The file position is kept here and
// every transfer names it (pread, pwrite), so a seek costs no system call.
#include <unistd.h>

#include <cerrno>

#include "platform/file_object.h"

namespace platform::posix {

std::unique_ptr<FileObject> MakeDescriptorFile(int fd);
namespace {

class DescriptorFile final : public FileObject {
 public:
  explicit DescriptorFile(int fd) : fd_(fd) {}
  ~DescriptorFile() override { Close(); }
  DescriptorFile(const DescriptorFile&) = delete;
  DescriptorFile& operator=(const DescriptorFile&) = delete;

  bool Seek(std::int64_t offset) override {
    if (offset < 0) {
      return false;
    }
    position_ = offset;
    return true;
  }

  bool Read(void* buffer, std::size_t size, std::size_t* done) override {
    auto* bytes = static_cast<char*>(buffer);
    *done = 0;
    while (*done < size) {
      const ssize_t got = ::pread(fd_, bytes + *done, size - *done, static_cast<off_t>(position_));
      if (got == 0) {
        return true;  // end of file
      }
      if (got < 0) {
        if (errno == EINTR) {
          continue;
        }
        return false;
      }
      *done += static_cast<std::size_t>(got);
      position_ += got;
    }
    return true;
  }

  bool Write(const void* buffer, std::size_t size, std::size_t* done) override {
    const auto* bytes = static_cast<const char*>(buffer);
    *done = 0;
    while (*done < size) {
      const ssize_t put = ::pwrite(fd_, bytes + *done, size - *done, static_cast<off_t>(position_));
      if (put < 0 && errno == EINTR) {
        continue;
      }
      if (put <= 0) {
        return false;  // a full disk, a file size limit, an I/O error
      }
      *done += static_cast<std::size_t>(put);
      position_ += put;
    }
    return true;
  }

  bool Close() override {
    if (fd_ < 0) {
      return true;
    }
    // Linux releases the descriptor even when close fails (EINTR included),
    // so it is never closed twice; the failure itself is reported, since a
    // file system may only now say that written bytes did not make it.
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
  std::int64_t position_ = 0;
};

}  // namespace

std::unique_ptr<FileObject> MakeDescriptorFile(int fd) {
  return std::make_unique<DescriptorFile>(fd);
}

}  // namespace platform::posix
