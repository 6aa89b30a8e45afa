#include "bmp_writer.h"

#include <array>

#include "cgvw/bytes.h"
#include "cgvw/dib_layout.h"
#include "platform/win_api.h"

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

bool WriteAll(platform::HANDLE file, const std::uint8_t* bytes, std::uint32_t size) {
  platform::DWORD written = 0;
  return platform::WriteFile(file, bytes, size, &written, nullptr) != 0 && written == size;
}

}  // namespace

BmpWriteResult WriteBmpFile(const char* name, std::span<const std::uint8_t> block,
                            std::uint16_t bitCount, std::uint32_t imageSize) {
  // Only 4, 8 and 24 bits per pixel have a file layout, and the file must not
  // take more bytes than the block holds.
  const std::uint32_t offBits = cgvw::PixelFileOffset(bitCount);
  const std::uint64_t fileSize = std::uint64_t{offBits} + imageSize;
  if (offBits == 0 || fileSize > 0xFFFFFFFFu || fileSize - cgvw::kFileHeaderSize > block.size()) {
    return BmpWriteResult::kCreateFailed;
  }

  platform::HANDLE file =
      platform::CreateFileA(name, platform::GENERIC_READ | platform::GENERIC_WRITE, 0, nullptr,
                            platform::CREATE_ALWAYS, platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == platform::INVALID_HANDLE_VALUE) {
    return BmpWriteResult::kCreateFailed;
  }

  BmpFileHeader.bfOffBits = offBits;
  BmpFileHeader.bfSize = static_cast<std::uint32_t>(fileSize);
  const auto header = SerializeFileHeader(BmpFileHeader);

  bool ok = WriteAll(file, header.data(), cgvw::kFileHeaderSize);
  ok = ok && WriteAll(file, block.data(), BmpFileHeader.bfSize - cgvw::kFileHeaderSize);
  ok = (platform::CloseHandle(file) != 0) && ok;
  if (!ok) {
    platform::DeleteFileA(name);  // never leave a short file behind
    return BmpWriteResult::kWriteFailed;
  }
  return BmpWriteResult::kWritten;
}

}  // namespace app
