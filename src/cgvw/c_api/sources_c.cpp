// The sources of the C API: files in memory, in a folder, or from the
// caller's reader, each a cgvw::Source behind a handle.
#include <new>
#include <span>
#include <string>
#include <utility>

#include "handles.h"

namespace {

// The caller's reader function as a Source. Its statuses are the C ones;
// anything it returns that a read cannot mean counts as a failed read.
class ReaderSource final : public cgvw::Source {
 public:
  ReaderSource(cgvw_read_fn read, void* user) : read_(read), user_(user) {}

  cgvw::ReadResult Read(std::string_view name, std::uint64_t offset,
                        std::span<std::uint8_t> dest) noexcept override {
    std::string terminated;  // the reader gets a zero-terminated name
    try {
      terminated.assign(name);
    } catch (const std::bad_alloc&) {
      return {cgvw::Status::NoMemory, 0, {}};
    }
    std::size_t got = 0;
    const int status = read_(user_, terminated.c_str(), offset, dest.data(), dest.size(), &got);
    switch (status) {
      case CGVW_OK:
        if (got <= dest.size()) {
          return {cgvw::Status::Ok, got, {}};
        }
        break;  // more than there was room for: nothing of it can be trusted
      case CGVW_CANNOT_OPEN:
        return {cgvw::Status::CannotOpen, 0, {}};
      case CGVW_NO_MEMORY:
        return {cgvw::Status::NoMemory, 0, {}};
      default:
        break;
    }
    return {cgvw::Status::ReadFailed, 0, {}};
  }

 private:
  cgvw_read_fn read_;
  void* user_;
};

// A handle that owns `source` (null: it could not be had).
int NewHandle(std::unique_ptr<cgvw::Source> source, cgvw::MemorySource* memory,
              cgvw_source** handle) {
  *handle = nullptr;
  if (!source) {
    return CGVW_NO_MEMORY;
  }
  auto* made = new (std::nothrow) cgvw_source;
  if (made == nullptr) {
    return CGVW_NO_MEMORY;
  }
  made->source = std::move(source);
  made->memory = memory;
  *handle = made;
  return CGVW_OK;
}

}  // namespace

namespace cgvw {

cgvw_source* MakeCSource(std::unique_ptr<Source> source) noexcept {
  cgvw_source* handle = nullptr;
  NewHandle(std::move(source), nullptr, &handle);
  return handle;
}

}  // namespace cgvw

extern "C" {

int cgvw_source_new_memory(cgvw_source** source) {
  if (source == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  auto memory = std::unique_ptr<cgvw::MemorySource>(new (std::nothrow) cgvw::MemorySource);
  cgvw::MemorySource* files = memory.get();
  return NewHandle(std::move(memory), files, source);
}

int cgvw_source_add(cgvw_source* source, const char* name, const void* bytes, std::size_t size,
                    int how) {
  if (source == nullptr || source->memory == nullptr || name == nullptr ||
      (bytes == nullptr && size > 0) || (how != CGVW_BORROW && how != CGVW_COPY)) {
    return CGVW_INVALID_ARGUMENT;
  }
  const std::span<const std::uint8_t> file(static_cast<const std::uint8_t*>(bytes), size);
  const cgvw::Status status = how == CGVW_COPY ? source->memory->Add(name, file, cgvw::kCopy)
                                               : source->memory->Add(name, file);
  return static_cast<int>(status);
}

int cgvw_source_new_folder(const char* folder, cgvw_source** source) {
  if (source == nullptr || folder == nullptr) {
    if (source != nullptr) {
      *source = nullptr;
    }
    return CGVW_INVALID_ARGUMENT;
  }
  std::string path;
  try {
    path = folder;
  } catch (const std::bad_alloc&) {
    *source = nullptr;
    return CGVW_NO_MEMORY;
  }
  return NewHandle(
      std::unique_ptr<cgvw::Source>(new (std::nothrow) cgvw::FolderSource(std::move(path))),
      nullptr, source);
}

int cgvw_source_new_reader(cgvw_read_fn read, void* user, cgvw_source** source) {
  if (source == nullptr || read == nullptr) {
    if (source != nullptr) {
      *source = nullptr;
    }
    return CGVW_INVALID_ARGUMENT;
  }
  return NewHandle(std::unique_ptr<cgvw::Source>(new (std::nothrow) ReaderSource(read, user)),
                   nullptr, source);
}

void cgvw_source_free(cgvw_source* source) {
  delete source;
}

}  // extern "C"
