// Writing a decoded DIB block as a Windows BMP file: a 14-byte file header
// in front of the block's bytes, which are copied unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <system_error>

namespace app {

// The BITMAPFILEHEADER shared by every file of a run. It is updated in place
// for each file and never reset.
struct TBmpFileHeader {
  std::uint16_t bfType;  // "BM"
  std::uint32_t bfSize;
  std::uint16_t bfReserved1;
  std::uint16_t bfReserved2;
  std::uint32_t bfOffBits;
};
extern TBmpFileHeader BmpFileHeader;

enum class BmpWriteResult {
  kWritten,
  kCreateFailed,  // the file could not be created (or the block cannot be written as a BMP)
  kWriteFailed,   // a write, the close or the rename failed; nothing of it was left
};

// Writes the locked block behind the file header as the file `name`,
// replacing an earlier file of that name in one step (platform/output_files.h):
// on every failure the earlier file stays as it was. `block` is the whole
// block; the file takes the header, the colour table for `bitCount` and
// `imageSize` pixel bytes from it.
// `error`, if given, receives the system's reason for a failure.
BmpWriteResult WriteBmpFile(const char* name, std::span<const std::uint8_t> block,
                            std::uint16_t bitCount, std::uint32_t imageSize,
                            std::error_code* error = nullptr) noexcept;

}  // namespace app
