// The source reader: one byte range of one file in the root of the source
// drive, copied into the caller's buffer.
#include <string>

#include "cgvw/cgvw.h"

namespace {

// Closes a source file when the read is over, on every path.
class SourceFile {
 public:
  explicit SourceFile(const std::string& path)
      : handle_(platform::CreateFileA(path.c_str(), platform::GENERIC_READ, 0, nullptr,
                                      platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL,
                                      nullptr)) {}
  ~SourceFile() {
    if (is_open()) {
      platform::CloseHandle(handle_);
    }
  }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  bool is_open() const { return handle_ != platform::INVALID_HANDLE_VALUE; }
  platform::HANDLE handle() const { return handle_; }

 private:
  platform::HANDLE handle_;
};

}  // namespace

std::int32_t CGVwReadFile(const void* argsPtr, const void* /*reserved*/, void* result) {
  const auto& args = *static_cast<const TArgs_CGVwReadFile00*>(argsPtr);
  const std::string path = std::string(SourceRoot) + args.FileName;

  SourceFile file(path);
  if (!file.is_open()) {
    return kCGVwCannotOpen;
  }
  // A range that starts before the file or is longer than a read can ask for
  // cannot be read as asked; neither can a range on a damaged disc.
  if (args.Offset < 0 || args.Size < 0 ||
      platform::SetFilePointer(file.handle(), args.Offset, nullptr, platform::FILE_BEGIN) ==
          platform::INVALID_SET_FILE_POINTER) {
    return kCGVwCannotOpen;
  }
  // A file that ends inside the range is not an error: the bytes that exist
  // are copied and the rest of the buffer keeps what it held.
  platform::DWORD bytesRead = 0;
  if (args.Size > 0 &&
      platform::ReadFile(file.handle(), args.Buffer, static_cast<platform::DWORD>(args.Size),
                         &bytesRead, nullptr) == 0) {
    return kCGVwCannotOpen;
  }
  *static_cast<std::int32_t*>(result) = 0;
  return kCGVwOk;
}
