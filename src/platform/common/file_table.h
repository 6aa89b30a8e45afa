// The open-file table of the platform layer (common/files.cpp), for the
// other parts of the layer that open files.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/file_object.h"
#include "platform/win_api.h"

namespace platform {

// Gives `file` a handle (`key`, or a number of the table's own if 0);
// INVALID_HANDLE_VALUE for no file, or when it cannot be kept (it is then
// closed).
HANDLE RegisterFile(std::unique_ptr<FileObject> file, std::uintptr_t key) noexcept;

}  // namespace platform
