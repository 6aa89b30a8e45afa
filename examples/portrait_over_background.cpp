// Draws a portrait over a background with the decoder's backdrop option and
// writes the result as a 24-bit BMP file.
//
//   portrait_over_background <drive letter> <output.bmp> [background row] [portrait row]
//
// The rows are catalogue rows: 0 to 151 are backgrounds, 152 to 160 are
// portraits. The portrait's colour index 0 is transparent.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "platform/win_api.h"

namespace {

void PutLE16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutLE32(std::uint8_t* p, std::uint32_t v) {
  PutLE16(p, v);
  PutLE16(p + 2, v >> 16);
}
std::uint32_t GetLE32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A decoded block is a BITMAPINFOHEADER, no colour table (24 bits per pixel)
// and the pixel rows; a BMP file is that behind a 14-byte file header.
bool WriteBmp(const char* path, const std::uint8_t* block) {
  const std::uint32_t imageSize = GetLE32(block + 20);
  const std::uint32_t offBits = 14 + 40;
  std::uint8_t fileHeader[14] = {'B', 'M'};
  PutLE32(fileHeader + 2, offBits + imageSize);
  PutLE32(fileHeader + 10, offBits);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(fileHeader), sizeof fileHeader);
  out.write(reinterpret_cast<const char*>(block), 40 + imageSize);
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <drive letter> <output.bmp> [background row] [portrait row]\n",
                 argv[0]);
    return 2;
  }
  const int backgroundRow = argc > 3 ? std::atoi(argv[3]) : 0;
  const int portraitRow = argc > 4 ? std::atoi(argv[4]) : 152;
  if (backgroundRow < 0 || backgroundRow >= 152 || portraitRow < 152 || portraitRow > 160) {
    std::fprintf(stderr, "background rows are 0 to 151, portrait rows 152 to 160\n");
    return 2;
  }

  // Source files are read from the root of this drive.
  SourceRoot[0] = argv[1][0];

  // The portrait, placed over the background near its bottom-right corner.
  const TCGVwImage& background = Catalogue[backgroundRow].Image;
  TCGVwImage portrait = Catalogue[portraitRow].Image;
  portrait.Backdrop = &background;
  portrait.PosX = static_cast<std::uint16_t>(background.Width - portrait.Width - 8);
  portrait.PosY = static_cast<std::uint16_t>(background.Height - portrait.Height - 8);

  const TCGVwImage* picture = &portrait;
  const std::uint32_t withBackdrop = 1;
  platform::HGLOBAL block = nullptr;
  const std::int32_t status = CGVwDecode(&picture, &withBackdrop, &block);
  if (status != kCGVwOk) {
    std::fprintf(stderr, "decoding failed with status %d\n", static_cast<int>(status));
    return 1;
  }

  // The caller owns the block: lock it to read it, then unlock and free it.
  const auto* bytes = static_cast<const std::uint8_t*>(platform::GlobalLock(block));
  const bool written = bytes != nullptr && WriteBmp(argv[2], bytes);
  platform::GlobalUnlock(block);
  platform::GlobalFree(block);
  if (!written) {
    std::fprintf(stderr, "could not write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %ux%u, 24 bits per pixel\n", argv[2], background.Width, background.Height);
  return 0;
}
