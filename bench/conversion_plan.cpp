// Prints what a full conversion of the catalogue reads and writes, for the
// floor program (floor.c): one line per source range read, in the order a
// conversion reads them, and one per output file, with its size.
//
//   R <file name> <offset> <size>
//   W <output name> <file size>
#include <cstdio>

#include "catalog/catalogue.h"
#include "cgvw/layout.h"

int main() {
  int row = 0;
  for (const TCatalogEntry* entry = Catalogue.data(); entry->Category != nullptr; ++entry, ++row) {
    const TCGVwImage& image = entry->Image;
    const cgvw::DepthInfo& depth = *cgvw::DepthOf(image.Flags);
    std::printf("R %s %u %u\n", image.PalFile, image.PalOffset, depth.paletteColours * 2);
    if (const auto* map = static_cast<const TCGVwChunk*>(image.Extra)) {
      std::printf("R %s %u %u\n", map->FileName, map->Offset, map->Size);
    }
    std::printf("R %s %u %u\n", image.PixFile, image.PixOffset, image.PixSize);
    const auto layout = cgvw::DibLayoutFor(image.Flags, image.Width, image.Height);
    std::printf("W tvrcg%03d.bmp %llu\n", row,
                static_cast<unsigned long long>(cgvw::kFileHeaderSize + layout->blockSize));
  }
  return 0;
}
