#include "bmp_writer.h"

#include <array>

#include "cgvw/bytes.h"
#include "cgvw/layout.h"
#include "platform/output_files.h"

namespace app {

TBmpFileHeader BmpFileHeader = {0x4D42, 0, 0, 0, 54};

namespace {

std::array<std::uint8_t, cgvw::kFileHeaderSize> SerializeFileHeader(const TBmpFileHeader& h) {
  std::array<std::uint8_t, cgvw::kFileHeaderSize> bytes{};
  cgvw::StoreLE16(&bytes[0], h.bfType);
  cgvw::StoreLE32(&bytes[2], h.bfSize);
  cgvw::StoreLE16(&bytes[6], h.bfReserved1);
  cgvw::StoreLE16(&bytes[8], h.bfReserved2);
  cgvw::StoreLE32(&bytes[10], h.bfOffBits);
  return bytes;
}

}  // namespace

// The file goes to a temporary name beside the final one and is renamed
// over it once it is complete and closed: the final name holds the earlier
// file or the whole new one, never part of it.
BmpWriteResult WriteBmpFile(const char* name, std::span<const std::uint8_t> block,
                            std::uint16_t bitCount, std::uint32_t imageSize,
                            std::error_code* error) noexcept {
  // Only 4, 8 and 24 bits per pixel have a file layout, and the file must not
  // take more bytes than the block holds.
  const std::uint32_t offBits = cgvw::PixelFileOffset(bitCount);
  const std::uint64_t fileSize = std::uint64_t{offBits} + imageSize;
  if (offBits == 0 || fileSize > 0xFFFFFFFFu || fileSize - cgvw::kFileHeaderSize > block.size()) {
    if (error != nullptr) {
      *error = std::make_error_code(std::errc::invalid_argument);
    }
    return BmpWriteResult::kCreateFailed;
  }
  platform::OutputFile file;
  if (!file.Create(name, error)) {
    return BmpWriteResult::kCreateFailed;  // the header record is left as it was
  }
  BmpFileHeader.bfOffBits = offBits;
  BmpFileHeader.bfSize = static_cast<std::uint32_t>(fileSize);
  const auto header = SerializeFileHeader(BmpFileHeader);
  const bool written =
      file.Write(header, error) &&
      file.Write(block.first(BmpFileHeader.bfSize - cgvw::kFileHeaderSize), error) &&
      file.Commit(error);
  return written ? BmpWriteResult::kWritten : BmpWriteResult::kWriteFailed;
}

}  // namespace app
