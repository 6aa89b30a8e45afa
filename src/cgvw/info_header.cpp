// The BITMAPINFOHEADER of a DIB block, written field by field in
// little-endian byte order.
#include "cgvw/bytes.h"
#include "cgvw/core.h"

namespace cgvw::core {

void WriteInfoHeader(std::uint8_t* header, const TCGVwImage& image) {
  StoreLE32(header + 0, kInfoHeaderSize);  // biSize
  StoreLE32(header + 4, image.Width);      // biWidth
  StoreLE32(header + 8, image.Height);     // biHeight: positive, rows bottom-up
  StoreLE16(header + 12, 1);               // biPlanes
  StoreLE32(header + 16, 0);               // biCompression: BI_RGB
  StoreLE32(header + 24, 0);               // biXPelsPerMeter
  StoreLE32(header + 28, 0);               // biYPelsPerMeter
  StoreLE32(header + 32, 0);               // biClrUsed: the full table
  StoreLE32(header + 36, 0);               // biClrImportant

  // Depth codes 4 to 7 leave biBitCount and biSizeImage as the block held them.
  if (const auto layout = DibLayoutFor(image.Flags, image.Width, image.Height)) {
    StoreLE16(header + 14, layout->bitCount);
    StoreLE32(header + 20, static_cast<std::uint32_t>(layout->imageSize));
  }
}

}  // namespace cgvw::core
