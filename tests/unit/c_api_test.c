/* The classic entry points from C (cgvw/cgvw_c.h), built by the C compiler:
 * a small picture decoded alone and over a backdrop, the catalogue, the
 * global memory calls, null pointers and a missing file. The same file,
 * compiled as C99, shows that the header is C99; with MISUSE_DESCRIPTOR
 * defined it must not compile (tests/CMakeLists.txt). */
#define _XOPEN_SOURCE 700
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "c_check.h"
#include "catalog/catalogue_c.h"
#include "cgvw/cgvw_c.h"

#if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
/* The records as stored: Items right after Count, and on 32-bit targets the
 * stored sizes. */
_Static_assert(offsetof(TCGVwLayers, Items) == 2, "TCGVwLayers.Items at byte 2");
_Static_assert(sizeof(void*) != 4 || sizeof(TCGVwImage) == 40, "TCGVwImage: 40 bytes");
_Static_assert(sizeof(void*) != 4 || sizeof(TCGVwChunk) == 12, "TCGVwChunk: 12 bytes");
_Static_assert(sizeof(void*) != 4 || sizeof(TCGVwLayer) == 12, "TCGVwLayer: 12 bytes");
_Static_assert(sizeof(void*) != 4 || sizeof(TCatalogEntry) == 44, "TCatalogEntry: 44 bytes");
#endif

static uint32_t LE32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* A 3 x 2 picture of 8 bits: 256 colour words (entry 1 pure blue, entry 2
 * pure red), then the pixels 1 2 3 / 2 1 0 from byte 512. */
static void MakeDisc(const char* folder) {
  uint8_t bytes[512 + 6];
  char path[512];
  memset(bytes, 0, sizeof bytes);
  bytes[2] = 0x7C; /* word 1: 7C 00, blue in bits 10-14 */
  bytes[5] = 0x1F; /* word 2: 00 1F, red in bits 0-4 */
  memcpy(bytes + 512, "\1\2\3\2\1\0", 6);
  snprintf(path, sizeof path, "%s/pic.bin", folder);
  WriteFile(path, bytes, sizeof bytes);
}

static void CheckPlainPicture(TCGVwHandle block) {
  const uint8_t* dib = (const uint8_t*)CGVwGlobalLock(block);
  CHECK(dib != NULL);
  if (dib == NULL) {
    return;
  }
  CHECK(CGVwGlobalSize(block) == 1064 + 2 * 4);
  CHECK(LE32(dib) == 40 && LE32(dib + 4) == 3 && LE32(dib + 8) == 2);
  CHECK(dib[14] == 8 && LE32(dib + 20) == 8);
  CHECK(memcmp(dib + 40 + 4, "\xFF\0\0\2", 4) == 0); /* blue, green, red, 2 */
  CHECK(memcmp(dib + 40 + 8, "\0\0\xFF\2", 4) == 0);
  CHECK(memcmp(dib + 1064, "\2\1\0\0", 4) == 0); /* the bottom row first */
  CHECK(memcmp(dib + 1068, "\1\2\3\0", 4) == 0);
  CHECK(CGVwGlobalUnlock(block) == 0);
}

int main(void) {
  char root[] = "/tmp/cgvw-c-api-XXXXXX";
  char drive[sizeof root + 2];
  const char* const files[] = {"q/pic.bin"};
  MakeDrive(root, drive, sizeof drive);
  MakeDisc(drive);
  CHECK(strcmp(SourceRoot, "c:\\") == 0);
  SourceRoot[0] = 'q';

  {
    TCGVwImage picture = {CGVW_KIND_PLAIN | CGVW_DEPTH_8BIT_256,
                          3,
                          2,
                          1,
                          0,
                          NULL,
                          "pic.bin",
                          0,
                          "pic.bin",
                          512,
                          6,
                          NULL};
    const TCGVwImage* image = &picture;
    TCGVwHandle block = (TCGVwHandle)&picture;
    const uint32_t on = 1;

    CHECK(CGVwDecode(&image, NULL, &block) == CGVW_OK);
    CheckPlainPicture(block);
    CHECK(CGVwGlobalFree(block) == NULL);
    CHECK(CGVwGlobalLock(block) == NULL); /* freed */

    CHECK(CGVwDecodePlain(&image, NULL, &block) == CGVW_OK);
    CheckPlainPicture(block);
    CHECK(CGVwGlobalFree(block) == NULL);

    /* Over itself as its backdrop, one pixel to the right: a 24-bit canvas
     * of rows of 12 bytes. Index 0 of the picture is transparent. */
    picture.Backdrop = &picture;
    CHECK(CGVwDecode(&image, &on, &block) == CGVW_OK);
    {
      const uint8_t* dib = (const uint8_t*)CGVwGlobalLock(block);
      CHECK(dib != NULL && CGVwGlobalSize(block) == 40 + 2 * 12);
      if (dib != NULL) {
        CHECK(dib[14] == 24);
        /* the bottom line: backdrop red, blue; picture red, blue, (0) */
        CHECK(memcmp(dib + 40,
                     "\0\0\xFF"
                     "\0\0\xFF"
                     "\xFF\0\0"
                     "\0\0\0",
                     12) == 0);
        /* the top line: backdrop blue; picture blue, red, black */
        CHECK(memcmp(dib + 52,
                     "\xFF\0\0"
                     "\xFF\0\0"
                     "\0\0\xFF"
                     "\0\0\0",
                     12) == 0);
      }
      CGVwGlobalUnlock(block);
      CGVwGlobalFree(block);
    }

    /* Null pointers are refused with -1 and decode nothing. */
    block = (TCGVwHandle)&picture;
    CHECK(CGVwDecode(NULL, NULL, &block) == CGVW_UNSUPPORTED && block == NULL);
    CHECK(CGVwDecode(&image, NULL, NULL) == CGVW_UNSUPPORTED);
    CHECK(CGVwDecodeTiled(&image, NULL, NULL) == CGVW_UNSUPPORTED);

    picture.PixFile = "gone.bin";
    block = (TCGVwHandle)&picture;
    CHECK(CGVwDecodeComposite(&image, NULL, &block) == CGVW_UNSUPPORTED && block == NULL);
    CHECK(CGVwDecode(&image, NULL, &block) == CGVW_CANNOT_OPEN && block == NULL);

#ifdef MISUSE_DESCRIPTOR
    /* A descriptor where the address of a pointer to one belongs. */
    CGVwDecode(&CGVwCatalogue[160].Image, NULL, &block);
#endif
  }

  /* The built-in catalogue: 152 backgrounds, 9 portraits, the end row. */
  CHECK(CGVwCatalogue[0].Image.Flags == 0x241 && CGVwCatalogue[0].Image.Width == 288);
  CHECK(strcmp(CGVwCatalogue[0].Image.PixFile, "bg000_0.bg") == 0);
  CHECK(CGVwCatalogue[160].Category != NULL && CGVwCatalogue[160].Image.PixSize == 8736);
  CHECK(CGVwCatalogue[161].Category == NULL);

  /* Blocks of one's own. */
  {
    TCGVwHandle block = CGVwGlobalAlloc(CGVW_GHND, 16);
    const uint8_t* bytes = (const uint8_t*)CGVwGlobalLock(block);
    CHECK(bytes != NULL && CGVwGlobalSize(block) == 16);
    if (bytes != NULL) {
      CHECK(bytes[0] == 0 && bytes[15] == 0);
    }
    CHECK(CGVwGlobalUnlock(block) == 0);
    CHECK(CGVwGlobalFree(block) == NULL);
    CHECK(CGVwGlobalSize(block) == 0);
  }

  return Finish(root, files, 1);
}
