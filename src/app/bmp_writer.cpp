#include "bmp_writer.h"

#include <array>
#include <new>
#include <string>

#include "cgvw/bytes.h"
#include "cgvw/layout.h"
#include "platform/output_files.h"
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

// The file goes to a temporary name beside the final one and is renamed
// over it once it is complete and closed: the final name holds the earlier
// file or the whole new one, never part of it.
BmpWriteResult WriteBmpFile(const char* name, std::span<const std::uint8_t> block,
                            std::uint16_t bitCount, std::uint32_t imageSize) noexcept {
  // Only 4, 8 and 24 bits per pixel have a file layout, and the file must not
  // take more bytes than the block holds.
  const std::uint32_t offBits = cgvw::PixelFileOffset(bitCount);
  const std::uint64_t fileSize = std::uint64_t{offBits} + imageSize;
  if (offBits == 0 || fileSize > 0xFFFFFFFFu || fileSize - cgvw::kFileHeaderSize > block.size()) {
    return BmpWriteResult::kCreateFailed;
  }
  // A directory, a pipe, a device or a read-only file of that name is not
  // replaced.
  if (!platform::MayReplace(name)) {
    return BmpWriteResult::kCreateFailed;
  }
  std::string temporary;
  try {
    temporary = platform::TemporaryNameFor(name);
  } catch (const std::bad_alloc&) {
    return BmpWriteResult::kCreateFailed;
  }

  // Pending before it exists, so that no interruption can leave it behind.
  platform::SetPendingOutput(temporary.c_str());
  platform::HANDLE file =
      platform::CreateFileA(temporary.c_str(), platform::GENERIC_READ | platform::GENERIC_WRITE,
                            platform::FILE_SHARE_DELETE, nullptr, platform::CREATE_NEW,
                            platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == platform::INVALID_HANDLE_VALUE) {
    // The file may exist all the same (made, then no memory for its
    // handle); the name is this process's own, so it goes.
    platform::DeleteFileA(temporary.c_str());
    platform::ClearPendingOutput();
    return BmpWriteResult::kCreateFailed;
  }

  BmpFileHeader.bfOffBits = offBits;
  BmpFileHeader.bfSize = static_cast<std::uint32_t>(fileSize);
  const auto header = SerializeFileHeader(BmpFileHeader);

  bool ok = WriteAll(file, header.data(), cgvw::kFileHeaderSize);
  ok = ok && WriteAll(file, block.data(), BmpFileHeader.bfSize - cgvw::kFileHeaderSize);
  ok = (platform::CloseHandle(file) != 0) && ok;
  ok = ok &&
       platform::MoveFileExA(temporary.c_str(), name, platform::MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) {
    platform::DeleteFileA(temporary.c_str());  // the earlier file of that name stays
  }
  platform::ClearPendingOutput();
  return ok ? BmpWriteResult::kWritten : BmpWriteResult::kWriteFailed;
}

}  // namespace app
