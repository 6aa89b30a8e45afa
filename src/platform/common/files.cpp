// Files behind HANDLEs: the bookkeeping that both systems share. Each file
// the layer opened and has not closed is in the table; a handle that is not
// there (closed, made up, standard output) is refused without being read,
// written or closed. The file objects themselves come from the system's
// side (backend.h).
#include <memory>
#include <new>

#include "backend.h"
#include "file_table.h"
#include "handle_table.h"
#include "platform/faults.h"
#include "platform/win_api.h"

namespace platform {
namespace {

// Shared, so that a file being read on one thread while another closes its
// handle is released only when both are done with it.
HandleTable<std::shared_ptr<FileObject>>& Files() {
  static HandleTable<std::shared_ptr<FileObject>> table(0x20000);
  return table;
}

std::shared_ptr<FileObject> Find(HANDLE handle) {
  return Files().With(
      reinterpret_cast<std::uintptr_t>(handle),
      [](const std::shared_ptr<FileObject>* file) { return file == nullptr ? nullptr : *file; });
}

// A read or a write through a handle: the count is 0 unless bytes moved, an
// unknown handle is refused before the seam's point is counted.
template <typename Move>
BOOL Transfer(HANDLE handle, DWORD* count, faults::Point point, Move move) {
  if (count != nullptr) {
    *count = 0;
  }
  const std::shared_ptr<FileObject> file = Find(handle);
  if (!file || faults::ShouldFail(point)) {
    return 0;
  }
  std::size_t done = 0;
  const bool ok = move(*file, &done);
  if (count != nullptr) {
    *count = static_cast<DWORD>(done);
  }
  return ok ? 1 : 0;
}

}  // namespace

HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void* /*security*/,
                   DWORD creation, DWORD attributes, HANDLE /*templateFile*/) {
  const bool create = creation == CREATE_ALWAYS || creation == CREATE_NEW;
  if (faults::ShouldFail(create ? faults::Point::FileCreate : faults::Point::FileOpen) ||
      path == nullptr) {
    return INVALID_HANDLE_VALUE;
  }
  std::uintptr_t key = 0;
  std::unique_ptr<FileObject> file;
  try {
    file = backend::OpenFile(path, access, shareMode, creation, attributes, &key);
  } catch (const std::bad_alloc&) {
    return INVALID_HANDLE_VALUE;  // anything opened on the way was closed again
  }
  return RegisterFile(std::move(file), key);
}

HANDLE RegisterFile(std::unique_ptr<FileObject> file, std::uintptr_t key) noexcept {
  if (!file) {
    return INVALID_HANDLE_VALUE;
  }
  if (key == 0) {
    key = Files().NewKey();
  }
  std::shared_ptr<FileObject> shared;
  try {
    shared = std::move(file);
  } catch (const std::bad_alloc&) {
    return INVALID_HANDLE_VALUE;  // the file object, gone with `file`, closed itself
  }
  if (!Files().Add(key, shared)) {
    shared->Close();
    return INVALID_HANDLE_VALUE;
  }
  faults::AdjustLive(&faults::Live::openFiles, +1);
  return reinterpret_cast<HANDLE>(key);
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
  const std::shared_ptr<FileObject> file = Find(handle);
  if (!file || method != FILE_BEGIN) {
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t offset = distance;
  if (distanceHigh != nullptr) {
    offset =
        (static_cast<std::int64_t>(*distanceHigh) << 32) | static_cast<std::uint32_t>(distance);
  }
  if (!file->Seek(offset)) {
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) {
    *distanceHigh = static_cast<LONG>(offset >> 32);
  }
  return static_cast<DWORD>(offset);
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              void* /*overlapped*/) {
  return Transfer(
      handle, bytesRead, faults::Point::FileRead,
      [&](FileObject& file, std::size_t* done) { return file.Read(buffer, bytesToRead, done); });
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* /*overlapped*/) {
  return Transfer(
      handle, bytesWritten, faults::Point::FileWrite,
      [&](FileObject& file, std::size_t* done) { return file.Write(buffer, bytesToWrite, done); });
}

BOOL CloseHandle(HANDLE handle) {
  const std::optional<std::shared_ptr<FileObject>> file =
      Files().Take(reinterpret_cast<std::uintptr_t>(handle));
  if (!file) {
    return 0;
  }
  faults::AdjustLive(&faults::Live::openFiles, -1);
  // A read or write on another thread may still hold the file: its file
  // stays open until that is done, and is closed by the last holder. Out of
  // the table, no one can take a new hold, so a single holder stays single.
  const bool closed = file->use_count() > 1 || (*file)->Close();
  const bool injected = faults::ShouldFail(faults::Point::FileClose);
  return closed && !injected ? 1 : 0;
}

}  // namespace platform
