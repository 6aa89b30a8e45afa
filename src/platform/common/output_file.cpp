// One output file written aside and put in place (output_files.h).
#include <new>
#include <utility>

#include "backend.h"
#include "file_table.h"
#include "platform/faults.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"

namespace platform {

OutputFile::~OutputFile() {
  Discard();
}

bool OutputFile::Create(std::string_view path, std::error_code* error) noexcept {
  std::error_code why;
  Discard();
  try {
    final_ = path;
    temporary_ = TemporaryNameFor(path);
  } catch (const std::bad_alloc&) {
    why = std::make_error_code(std::errc::not_enough_memory);
  }
  // A directory, a pipe, a device or a read-only file of that name is not
  // replaced: refused here, or by the rename where that looks at the name.
  if (!why && !backend::kRenameChecksTheName) {
    MayReplace(final_.c_str(), &why);
  }
  if (!why) {
    // Pending before it exists, so that no interruption can leave it behind.
    SetPendingOutput(temporary_.c_str());
    if (faults::ShouldFail(faults::Point::FileCreate)) {
      why = std::make_error_code(std::errc::io_error);
    } else {
      std::uintptr_t key = 0;
      std::unique_ptr<FileObject> file;
      try {
        file = backend::CreateNewFile(temporary_.c_str(), &key);
        why = file ? std::error_code{} : LastSystemError();
      } catch (const std::bad_alloc&) {
        why = std::make_error_code(std::errc::not_enough_memory);
      }
      file_ = File(why ? INVALID_HANDLE_VALUE : RegisterFile(std::move(file), key));
      if (!why && !file_) {
        why = std::make_error_code(std::errc::not_enough_memory);
      }
    }
  }
  if (why) {
    // The file may exist all the same (made, then no memory for its
    // handle); the name is this process's own, so it goes.
    if (!temporary_.empty()) {
      backend::RemoveFile(temporary_.c_str());
    }
    ClearPendingOutput();
    temporary_.clear();
    if (error != nullptr) {
      *error = why;
    }
    return false;
  }
  return true;
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes, std::error_code* error) noexcept {
  DWORD written = 0;
  const bool ok = file_ &&
                  WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) != 0 &&
                  written == bytes.size();
  if (!ok && error != nullptr) {
    *error = LastSystemError();
    if (!*error) {
      *error = std::make_error_code(std::errc::io_error);
    }
  }
  return ok;
}

bool OutputFile::Commit(std::error_code* error) noexcept {
  if (!file_) {
    return false;
  }
  // A close that fails may be the first word of a write that did not make
  // it (NFS, quotas): the file is not put in place then.
  std::error_code why;
  const bool closed = file_.Reset();
  if (!closed) {
    why = LastSystemError();
  }
  const bool renamed = closed && !faults::ShouldFail(faults::Point::FileReplace) &&
                       backend::RenameReplacing(temporary_.c_str(), final_.c_str(), &why);
  if (!renamed) {
    if (error != nullptr) {
      *error = why ? why : std::make_error_code(std::errc::io_error);
    }
    Discard();
    return false;
  }
  temporary_.clear();
  ClearPendingOutput();
  return true;
}

void OutputFile::Discard() noexcept {
  file_.Reset();
  if (!temporary_.empty()) {
    backend::RemoveFile(temporary_.c_str());  // the earlier file of the name stays
    temporary_.clear();
    ClearPendingOutput();
  }
}

}  // namespace platform
