/* Converts every picture of the built-in catalogue from a drive into
 * tvrcg000.bmp, tvrcg001.bmp and so on in the current folder, the files
 * that the tvrcgcv program writes, through the classic entry points for C
 * (cgvw/cgvw_c.h).
 *
 *   convert_catalogue <drive letter>
 *
 * On Linux drive letter x is the folder, or disc image, $TVRCGCV_DRIVE_ROOT/x.
 * Build it with either of
 *   cc -o convert_catalogue convert_catalogue.c $(pkg-config --cflags --libs tvrcgcv-c)
 *   cmake (examples/CMakeLists.txt: find_package(tvrcgcv), tvrcgcv::cgvw)
 */
#include <stdint.h>
#include <stdio.h>

#include "catalog/catalogue_c.h"
#include "cgvw/cgvw_c.h"

static void PutLE32(uint8_t* at, uint32_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
  at[2] = (uint8_t)(value >> 16);
  at[3] = (uint8_t)(value >> 24);
}

static uint32_t LE32(const uint8_t* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

/* Writes a DIB as a BMP file: the 14-byte BITMAPFILEHEADER, then the DIB's
 * header, colour table and biSizeImage bytes of pixel rows. 0 on success. */
static int WriteBmp(const char* name, const uint8_t* dib, size_t size) {
  uint8_t header[14] = {'B', 'M'};
  const unsigned bitCount = (unsigned)dib[14] | (unsigned)dib[15] << 8;
  const uint32_t tableEntries = bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
  const uint32_t offBits = 14 + 40 + 4 * tableEntries;
  const uint64_t fileSize = (uint64_t)offBits + LE32(dib + 20);
  FILE* file;
  if (size < 40 || (bitCount != 4 && bitCount != 8 && bitCount != 24) || fileSize > 0xFFFFFFFFu ||
      fileSize - 14 > size) {
    return -1; /* not a DIB that a BMP file can hold */
  }
  PutLE32(header + 2, (uint32_t)fileSize);
  PutLE32(header + 10, offBits);
  file = fopen(name, "wb");
  if (file == NULL) {
    return -1;
  }
  if (fwrite(header, 1, sizeof header, file) != sizeof header ||
      fwrite(dib, 1, (size_t)(fileSize - 14), file) != (size_t)(fileSize - 14)) {
    fclose(file);
    remove(name);
    return -1;
  }
  if (fclose(file) != 0) {
    remove(name);
    return -1;
  }
  return 0;
}

int main(int argc, char* argv[]) {
  int row;
  if (argc != 2 || argv[1][0] == '\0') {
    fputs("usage: convert_catalogue <drive letter>\n", stderr);
    return 2;
  }
  SourceRoot[0] = argv[1][0]; /* "q:\" */
  for (row = 0; CGVwCatalogue[row].Category != NULL; ++row) {
    const TCGVwImage* image = &CGVwCatalogue[row].Image;
    TCGVwHandle block = NULL;
    const uint8_t* dib;
    char name[32];
    int32_t status;
    int written;
    snprintf(name, sizeof name, "tvrcg%03d.bmp", row);
    status = CGVwDecode(&image, NULL, &block);
    if (status != CGVW_OK) {
      fprintf(stderr, "%s: the picture cannot be decoded (status %d)\n", name, (int)status);
      return 1;
    }
    dib = (const uint8_t*)CGVwGlobalLock(block);
    written = dib != NULL ? WriteBmp(name, dib, CGVwGlobalSize(block)) : -1;
    if (dib != NULL) {
      CGVwGlobalUnlock(block);
    }
    CGVwGlobalFree(block);
    if (written != 0) {
      fprintf(stderr, "%s: the file cannot be written\n", name);
      return 1;
    }
  }
  printf("%d pictures converted\n", row);
  return 0;
}
