// A file of the system behind the FileObject interface, for both systems.
// The position is counted by OffsetFile and every transfer names it, so a
// seek costs no system call.
#include "backend.h"

namespace platform {
namespace {

class SystemFile final : public OffsetFile {
 public:
  explicit SystemFile(backend::NativeFile file) : file_(file) {}
  ~SystemFile() override { Close(); }
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;

  bool Close() override {
    if (!open_) {
      return true;
    }
    open_ = false;  // released even when the close reports an error
    return backend::CloseFile(file_);
  }

 private:
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
              std::size_t* done) override {
    std::error_code ignored;
    return backend::ReadAt(file_, offset, {buffer, size}, done, &ignored);
  }
  bool WriteAt(std::uint64_t offset, const std::uint8_t* buffer, std::size_t size,
               std::size_t* done) override {
    return backend::WriteAt(file_, offset, {buffer, size}, done);
  }

  backend::NativeFile file_;
  bool open_ = true;
};

}  // namespace

namespace backend {

std::unique_ptr<FileObject> MakeSystemFile(NativeFile file) {
  try {
    return std::make_unique<SystemFile>(file);
  } catch (...) {
    CloseFile(file);
    throw;
  }
}

}  // namespace backend
}  // namespace platform
