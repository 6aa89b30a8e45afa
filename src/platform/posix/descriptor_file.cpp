#include <unistd.h>
#include <cerrno>

#include "file_object.h"

namespace platform::posix {
namespace {

class DescriptorFile final : public FileObject {
 public:
  explicit DescriptorFile(int fd) : fd_(fd) {}
  ~DescriptorFile() override { ::close(fd_); }
  DescriptorFile(const DescriptorFile&) = delete;
  DescriptorFile& operator=(const DescriptorFile&) = delete;

  bool Seek(std::int64_t offset) override {
    return offset >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == offset;
  }

  bool Read(void* buffer, std::size_t size, std::size_t* done) override {
    auto* bytes = static_cast<char*>(buffer);
    *done = 0;
    while (*done < size) {
      const ssize_t got = ::read(fd_, bytes + *done, size - *done);
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
    }
    return true;
  }

  bool Write(const void* buffer, std::size_t size, std::size_t* done) override {
    const auto* bytes = static_cast<const char*>(buffer);
    *done = 0;
    while (*done < size) {
      const ssize_t put = ::write(fd_, bytes + *done, size - *done);
      if (put < 0) {
        if (errno == EINTR) {
          continue;
        }
        return false;
      }
      if (put == 0) {
        return false;
      }
      *done += static_cast<std::size_t>(put);
    }
    return true;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<FileObject> MakeDescriptorFile(int fd) {
  return std::make_unique<DescriptorFile>(fd);
}

}  // namespace platform::posix
