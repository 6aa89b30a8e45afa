// The BITMAPINFOHEADER of a DIB block, written field by field in
// little-endian byte order.
#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/dib_layout.h"

std::int32_t CGVwMakeInfoHeader(const void* argsPtr, const void* /*reserved*/, void* result) {
  const auto& args = *static_cast<const TArgs_CGVwMakeInfoHeader00*>(argsPtr);
  const TCGVwImage& image = *args.Image;
  std::uint8_t* header = args.Dest;

  cgvw::StoreLE32(header + 0, cgvw::kInfoHeaderSize);  // biSize
  cgvw::StoreLE32(header + 4, image.Width);            // biWidth
  cgvw::StoreLE32(header + 8, image.Height);           // biHeight: positive, rows bottom-up
  cgvw::StoreLE16(header + 12, 1);                     // biPlanes
  cgvw::StoreLE32(header + 16, 0);                     // biCompression: BI_RGB
  cgvw::StoreLE32(header + 24, 0);                     // biXPelsPerMeter
  cgvw::StoreLE32(header + 28, 0);                     // biYPelsPerMeter
  cgvw::StoreLE32(header + 32, 0);                     // biClrUsed: the full table
  cgvw::StoreLE32(header + 36, 0);                     // biClrImportant

  // Depth codes 4 to 7 leave biBitCount and biSizeImage as the block held them.
  if (const auto layout = cgvw::DibLayoutFor(image.Flags, image.Width, image.Height)) {
    cgvw::StoreLE16(header + 14, layout->bitCount);
    cgvw::StoreLE32(header + 20, static_cast<std::uint32_t>(layout->imageSize));
  }
  *static_cast<std::int32_t*>(result) = 0;
  return kCGVwOk;
}
