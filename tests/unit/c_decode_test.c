/* The C API of cgvw/decode_c.h from C: every source, every output format,
 * row order and stride against the byte layouts, the info before decoding,
 * every misuse refused with a status and a problem text, nothing written to
 * standard error, the BMP file of a decode, and 8 threads decoding at once
 * (each from a source of its own, and all from one shared source). The
 * sanitizer stages run it under AddressSanitizer, ThreadSanitizer and
 * valgrind; every handle is freed, so a leak is a failure there. Where the
 * disc-image library is built (WITH_DISC_IMAGES) and xorriso is there, an
 * ISO image of the folder is a source too. Built as C11 and run, and as
 * C99, built only. */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "c_check.h"
#include "cgvw/decode_c.h"
#ifdef WITH_DISC_IMAGES
#include "cgvw/disc_image_c.h"
#endif

/* A call's status, with the decoder's problem in the message if it is not
 * the one expected. */
#define CHECK_STATUS(call, expected, decoder)                                                  \
  do {                                                                                         \
    const int got_ = (call);                                                                   \
    if (got_ != (expected)) {                                                                  \
      fprintf(stderr, "%s:%d: %s gave %d (%s: %s), not %d\n", __FILE__, __LINE__, #call, got_, \
              cgvw_status_text(got_), cgvw_problem(decoder), (int)(expected));                 \
      ++failures;                                                                              \
    }                                                                                          \
  } while (0)

/* ------------------------------------------------------------------------
 * The disc: one file of 708 bytes. A palette of 256 big-endian colour words
 * at 0; 5 x 3 pixels of 8 bits at 512, of 4 bits at 544 (nibbles follow
 * each other from row to row); 3 x 2 colour words at 560; two tiles at 576
 * and a 16-bit map at 704 that shows tile 1, then tile 0. */
enum { kDiscSize = 708 };
static uint8_t disc[kDiscSize];
static const char kDisc[] = "disc.bin";

static uint16_t PaletteWord(unsigned k) {
  return (uint16_t)((k & 31) | ((k * 7 & 31) << 5) | (((k >> 3) & 31) << 10));
}

static void MakeDisc(void) {
  static const uint8_t pix4[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF1};
  static const uint8_t pix15[12] = {0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F,
                                    0x12, 0x34, 0x7F, 0xFF, 0x80, 0x00};
  static const uint8_t map[4] = {0x00, 0x02, 0x00, 0x00};
  unsigned i;
  for (i = 0; i < 256; ++i) {
    disc[2 * i] = (uint8_t)(PaletteWord(i) >> 8);
    disc[2 * i + 1] = (uint8_t)PaletteWord(i);
  }
  for (i = 0; i < 15; ++i) {
    disc[512 + i] = (uint8_t)(1 + 17 * i);
  }
  memcpy(disc + 544, pix4, sizeof pix4);
  memcpy(disc + 560, pix15, sizeof pix15);
  for (i = 0; i < 64; ++i) {
    disc[576 + i] = (uint8_t)i;
    disc[640 + i] = (uint8_t)(200 + i / 8);
  }
  memcpy(disc + 704, map, sizeof map);
}

static const TCGVwChunk kMap = {kDisc, 704, 4};
static const TCGVwImage kPlain8 = {0x40, 5, 3, 1, 1, NULL, kDisc, 0, kDisc, 512, 15, NULL};
static const TCGVwImage kPlain4 = {0x00, 5, 3, 0, 0, NULL, kDisc, 0, kDisc, 544, 8, NULL};
static const TCGVwImage kPlain15 = {0x60, 3, 2, 0, 0, NULL, NULL, 0, kDisc, 560, 12, NULL};
static const TCGVwImage kTiled = {0x241, 16, 8, 0, 0, NULL, kDisc, 0, kDisc, 576, 128, &kMap};
static const TCGVwLayer kLayer = {&kPlain8, CGVW_LAYER_TRANSPARENT, 1, 1};
/* Packed as the stored record; filled in main, since C cannot initialise
 * a packed record with the address in every compiler alike. */
static TCGVwLayers layers;
static TCGVwImage composite = {0x63, 6, 4, 0, 0, NULL, NULL, 0, NULL, 0, 0, &layers};

static uint8_t Scale(unsigned v) {
  return (uint8_t)(v * 255 / 31);
}

/* Red, green and blue of a colour word. */
static void WordColour(unsigned word, uint8_t rgb[3]) {
  rgb[0] = Scale(word & 31);
  rgb[1] = Scale((word >> 5) & 31);
  rgb[2] = Scale((word >> 10) & 31);
}

/* What the byte layouts say pixel (x, y) of a test picture is: its colour,
 * and its colour index (-1 for direct colour). */
static int Pixel(const TCGVwImage* image, unsigned x, unsigned y, uint8_t rgb[3]) {
  int index = -1;
  if (image == &kPlain8) {
    index = disc[512 + y * 5 + x];
  } else if (image == &kPlain4) {
    const unsigned n = y * 5 + x;
    index = (disc[544 + n / 2] >> (n % 2 == 0 ? 4 : 0)) & 15;
  } else if (image == &kPlain15) {
    const unsigned at = 560 + 2 * (y * 3 + x);
    WordColour((unsigned)disc[at] << 8 | disc[at + 1], rgb);
  } else if (image == &kTiled) {
    index = disc[(x < 8 ? 640 : 576) + 8 * y + x % 8];
  } else if (x >= 1 && x <= 5 && y >= 1 && y <= 3) { /* the composite's layer */
    return Pixel(&kPlain8, x - 1, y - 1, rgb), -1;
  } else {
    rgb[0] = rgb[1] = rgb[2] = 0;
  }
  if (index >= 0) {
    WordColour(PaletteWord((unsigned)index), rgb);
  }
  return index;
}

/* ------------------------------------------------------------------------
 * Decoding in every format, row order and stride. */

/* Checks a decode's rows against the layouts; the bytes between rows must
 * be untouched (0xEE). */
static void CheckRows(const TCGVwImage* image, const cgvw_info* info, const cgvw_output* out) {
  const size_t rowBytes = cgvw_row_bytes(info, out->format);
  const size_t stride = out->stride == 0 ? rowBytes : out->stride;
  unsigned x, y;
  size_t b;
  for (y = 0; y < info->height; ++y) {
    const unsigned line = (out->flags & CGVW_BOTTOM_UP) ? info->height - 1 - y : y;
    const uint8_t* row = (const uint8_t*)out->pixels + line * stride;
    for (x = 0; x < info->width; ++x) {
      uint8_t rgb[3];
      const int index = Pixel(image, x, y, rgb);
      if (out->format == CGVW_FORMAT_NATIVE && info->bits_per_pixel == 4) {
        CHECK(((row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15) == index);
      } else if (out->format == CGVW_FORMAT_NATIVE && info->bits_per_pixel == 8) {
        CHECK(row[x] == index);
      } else if (out->format == CGVW_FORMAT_NATIVE) {
        CHECK(row[3 * x] == rgb[2] && row[3 * x + 1] == rgb[1] && row[3 * x + 2] == rgb[0]);
      } else {
        const unsigned step = out->format == CGVW_FORMAT_RGBA8 ? 4 : 3;
        CHECK(memcmp(row + step * x, rgb, 3) == 0);
        CHECK(step == 3 || row[4 * x + 3] == 255);
      }
    }
    if (out->format == CGVW_FORMAT_NATIVE && info->bits_per_pixel == 4 && info->width % 2 != 0) {
      CHECK((row[rowBytes - 1] & 15) == 0); /* the nibble after the last pixel */
    }
    for (b = rowBytes; b < stride && y + 1 < info->height; ++b) {
      CHECK(row[b] == 0xEE);
    }
  }
}

static void CheckPalette(const cgvw_info* info, const uint8_t* palette) {
  unsigned k;
  for (k = 0; k < info->colours; ++k) {
    uint8_t rgb[3];
    WordColour(PaletteWord(k), rgb);
    CHECK(memcmp(palette + 4 * k, rgb, 3) == 0 && palette[4 * k + 3] == 255);
  }
}

static void TestFormats(cgvw_decoder* decoder, cgvw_source* source) {
  const TCGVwImage* const pictures[] = {&kPlain8, &kPlain4, &kPlain15, &kTiled, &composite};
  const unsigned bits[] = {8, 4, 24, 8, 24};
  unsigned p;
  int format, flags, padding;
  for (p = 0; p < sizeof pictures / sizeof pictures[0]; ++p) {
    cgvw_info info;
    CHECK_STATUS(cgvw_get_info(decoder, pictures[p], &info), CGVW_OK, decoder);
    CHECK(info.bits_per_pixel == bits[p] && info.width == pictures[p]->Width &&
          info.height == pictures[p]->Height);
    CHECK(info.colours == (bits[p] == 24 ? 0u : bits[p] == 4 ? 16u : 256u));
    CHECK(info.rgba8_size == 4u * info.width * info.height &&
          info.rgb8_size == 3u * info.width * info.height);
    for (format = CGVW_FORMAT_NATIVE; format <= CGVW_FORMAT_RGBA8; ++format) {
      for (flags = 0; flags <= CGVW_BOTTOM_UP; ++flags) {
        for (padding = 0; padding <= 5; padding += 5) {
          uint8_t pixels[1024];
          uint8_t palette[1024];
          cgvw_output out = {0};
          out.format = format;
          out.flags = flags;
          out.pixels = pixels;
          out.stride = padding == 0 ? 0 : cgvw_row_bytes(&info, format) + (size_t)padding;
          out.size = sizeof pixels;
          out.palette = palette;
          out.palette_size = sizeof palette;
          memset(pixels, 0xEE, sizeof pixels);
          memset(palette, 0xEE, sizeof palette);
          CHECK_STATUS(cgvw_decode(decoder, source, pictures[p], &out), CGVW_OK, decoder);
          CheckRows(pictures[p], &info, &out);
          CheckPalette(&info, palette);
          CHECK(info.colours == 256 || palette[4 * info.colours] == 0xEE);
        }
      }
    }
  }
  CHECK(!cgvw_missing_source_bytes(decoder) && strcmp(cgvw_problem(decoder), "") == 0);
}

/* ------------------------------------------------------------------------
 * Sources */

/* The caller's reader over the disc bytes; "short.bin" is the disc's first
 * 520 bytes, "broken.bin" cannot be read, "liar.bin" claims more bytes than
 * it was asked for and "odd.bin" answers with a status no read returns. */
static int ReadDisc(void* user, const char* name, uint64_t offset, void* dest, size_t size,
                    size_t* got) {
  const uint8_t* bytes = (const uint8_t*)user;
  const size_t length = strcmp(name, "short.bin") == 0 ? 520 : kDiscSize;
  if (strcmp(name, "broken.bin") == 0) {
    return CGVW_READ_FAILED;
  }
  if (strcmp(name, "odd.bin") == 0) {
    return 42;
  }
  if (strcmp(name, "liar.bin") == 0) {
    *got = size + 1;
    return CGVW_OK;
  }
  if (strcmp(name, kDisc) != 0 && strcmp(name, "short.bin") != 0) {
    return CGVW_CANNOT_OPEN;
  }
  *got = offset >= length ? 0 : (size_t)(length - offset) < size ? (size_t)(length - offset) : size;
  memcpy(dest, bytes + offset, *got);
  return CGVW_OK;
}

static void WriteDiscFile(const char* folder) {
  char path[512];
  snprintf(path, sizeof path, "%s/DISC.BIN", folder); /* found ignoring case */
  WriteFile(path, disc, sizeof disc);
}

/* One picture decoded from the source, against the layouts. */
static void CheckSource(cgvw_decoder* decoder, cgvw_source* source) {
  uint8_t pixels[5 * 3 * 4];
  cgvw_info info;
  cgvw_output out = {0};
  out.format = CGVW_FORMAT_RGBA8;
  out.pixels = pixels;
  out.size = sizeof pixels;
  CHECK_STATUS(cgvw_get_info(decoder, &kPlain8, &info), CGVW_OK, decoder);
  CHECK_STATUS(cgvw_decode(decoder, source, &kPlain8, &out), CGVW_OK, decoder);
  CheckRows(&kPlain8, &info, &out);
}

/* A picture of the disc whose file names are the given one. */
static TCGVwImage Named(const char* name) {
  TCGVwImage image = kPlain8;
  image.PalFile = name;
  image.PixFile = name;
  return image;
}

static void TestSources(cgvw_decoder* decoder, const char* folder) {
  cgvw_source *borrowed, *copied, *reader, *folderSource;
  uint8_t* copy = (uint8_t*)malloc(sizeof disc);
  CHECK(copy != NULL);
  memcpy(copy, disc, sizeof disc);
  CHECK(cgvw_source_new_memory(&borrowed) == CGVW_OK);
  CHECK(cgvw_source_new_memory(&copied) == CGVW_OK);
  CHECK(cgvw_source_add(borrowed, kDisc, disc, sizeof disc, CGVW_BORROW) == CGVW_OK);
  CHECK(cgvw_source_add(copied, kDisc, copy, sizeof disc, CGVW_COPY) == CGVW_OK);
  memset(copy, 0, sizeof disc); /* the copy is the source's own */
  free(copy);
  CHECK(cgvw_source_new_reader(ReadDisc, disc, &reader) == CGVW_OK);
  CHECK(cgvw_source_new_folder(folder, &folderSource) == CGVW_OK);
  CheckSource(decoder, borrowed);
  CheckSource(decoder, copied);
  CheckSource(decoder, reader);
  CheckSource(decoder, folderSource);
  {
    /* Failed reads: the file and the reason in the problem. */
    const TCGVwImage missing = Named("nowhere.bin"), broken = Named("broken.bin");
    const TCGVwImage liar = Named("liar.bin"), odd = Named("odd.bin");
    const TCGVwImage shortFile = Named("short.bin");
    uint8_t pixels[5 * 3];
    cgvw_output out = {0};
    out.pixels = pixels;
    out.size = sizeof pixels;
    CHECK_STATUS(cgvw_decode(decoder, folderSource, &missing, &out), CGVW_CANNOT_OPEN, decoder);
    CHECK(strcmp(cgvw_problem(decoder), "nowhere.bin: No such file or directory") == 0);
    CHECK_STATUS(cgvw_decode(decoder, reader, &missing, &out), CGVW_CANNOT_OPEN, decoder);
    CHECK(strcmp(cgvw_problem(decoder), "nowhere.bin: a source file cannot be opened") == 0);
    CHECK_STATUS(cgvw_decode(decoder, reader, &broken, &out), CGVW_READ_FAILED, decoder);
    CHECK(strcmp(cgvw_problem(decoder), "broken.bin: a source file cannot be read") == 0);
    CHECK_STATUS(cgvw_decode(decoder, reader, &liar, &out), CGVW_READ_FAILED, decoder);
    CHECK_STATUS(cgvw_decode(decoder, reader, &odd, &out), CGVW_READ_FAILED, decoder);
    /* A file that ends inside the pixels: they read as 0, and the decoder
     * says so. */
    CHECK_STATUS(cgvw_decode(decoder, reader, &shortFile, &out), CGVW_OK, decoder);
    CHECK(cgvw_missing_source_bytes(decoder) && pixels[7] == disc[519] && pixels[8] == 0);
    CHECK_STATUS(cgvw_decode(decoder, reader, &kPlain8, &out), CGVW_OK, decoder);
    CHECK(!cgvw_missing_source_bytes(decoder));
  }
  TestFormats(decoder, borrowed);
  cgvw_source_free(borrowed);
  cgvw_source_free(copied);
  cgvw_source_free(reader);
  cgvw_source_free(folderSource);
}

/* ------------------------------------------------------------------------
 * Misuse and descriptor faults: a status and a problem text, nothing else. */

/* A call refused with `expected`, and the decoder's problem beginning with
 * `problem` (unless it is null). */
#define CHECK_REFUSED(call, expected, problem)                                                  \
  do {                                                                                          \
    const int got_ = (call);                                                                    \
    const char* start_ = (problem);                                                             \
    if (got_ != (expected) ||                                                                   \
        (start_ != NULL && strncmp(cgvw_problem(decoder), start_, strlen(start_)) != 0)) {      \
      fprintf(stderr, "%s:%d: %s gave %d (%s), not %d (%s)\n", __FILE__, __LINE__, #call, got_, \
              cgvw_problem(decoder), (int)(expected), start_ != NULL ? start_ : "");            \
      ++failures;                                                                               \
    }                                                                                           \
  } while (0)

static void TestMisuse(cgvw_decoder* decoder, cgvw_source* source) {
  uint8_t pixels[128];
  uint8_t palette[64];
  cgvw_source* folder = NULL;
  cgvw_source* none = (cgvw_source*)&folder;
  cgvw_info info;
  void* bmp = &info;
  size_t size = 1;
  uint64_t limit = 0;
  int value = 0;
  cgvw_output out = {0};
  TCGVwImage noPixSize = kPlain8, wide = kPlain8, huge = kPlain8, kind2 = kPlain8;
  TCGVwImage itself = composite;
  TCGVwLayer inner = {&itself, 0, 0, 0};
  TCGVwLayers innerList = {1, NULL};
  out.pixels = pixels;
  out.size = sizeof pixels;
  noPixSize.PixSize = 0;
  wide.Width = 200;
  kind2.Flags = 0x42;
  innerList.Items = &inner;
  itself.Extra = &innerList;
  CHECK(cgvw_source_new_folder("/nowhere", &folder) == CGVW_OK);

  CHECK_REFUSED(cgvw_decode(NULL, source, &kPlain8, &out), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_decode(decoder, NULL, &kPlain8, &out), CGVW_INVALID_ARGUMENT,
                "source is null");
  CHECK_REFUSED(cgvw_decode(decoder, source, NULL, &out), CGVW_INVALID_ARGUMENT, "image is null");
  CHECK_REFUSED(cgvw_decode(decoder, source, &kPlain8, NULL), CGVW_INVALID_ARGUMENT,
                "output is null");
  {
    /* Outputs that cannot take the 5 x 3 picture of 8 bits. */
    const size_t huge = SIZE_MAX / 2;
    const struct {
      cgvw_output output;
      int status;
      const char* problem;
    } outputs[] = {
        {{0, 0, NULL, sizeof pixels, 0, NULL, 0}, CGVW_INVALID_ARGUMENT, "pixels is null"},
        {{3, 0, pixels, sizeof pixels, 0, NULL, 0}, CGVW_INVALID_ARGUMENT, "format 3 is none"},
        {{0, 2, pixels, sizeof pixels, 0, NULL, 0}, CGVW_INVALID_ARGUMENT, "flags 2 are not"},
        {{0, 0, pixels, sizeof pixels, 4, NULL, 0},
         CGVW_INVALID_ARGUMENT,
         "stride 4 is less than a row's 5 bytes"},
        {{0, 0, pixels, 14, 0, NULL, 0},
         CGVW_BUFFER_TOO_SMALL,  // 3 rows of 5
         "the picture needs 15 bytes; size is 14"},
        {{0, 0, pixels, 16, 6, NULL, 0},
         CGVW_BUFFER_TOO_SMALL,  // 2 rows of 6, then 5 bytes
         "the picture needs 17 bytes"},
        {{0, 0, pixels, SIZE_MAX, huge, NULL, 0},
         CGVW_BUFFER_TOO_SMALL,
         SIZE_MAX > 0xFFFFFFFFu ? "stride" : "the picture needs"},
        {{0, 0, pixels, sizeof pixels, 0, palette, sizeof palette},
         CGVW_BUFFER_TOO_SMALL,
         "the palette needs 1024 bytes; palette_size is 64"},
    };
    unsigned i;
    for (i = 0; i < sizeof outputs / sizeof outputs[0]; ++i) {
      CHECK_REFUSED(cgvw_decode(decoder, source, &kPlain8, &outputs[i].output), outputs[i].status,
                    outputs[i].problem);
    }
  }
  CHECK_REFUSED(cgvw_get_info(decoder, &kPlain8, NULL), CGVW_INVALID_ARGUMENT, "info is null");
  CHECK_REFUSED(cgvw_get_info(NULL, &kPlain8, &info), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_decode_bmp(decoder, source, &kPlain8, NULL, &size), CGVW_INVALID_ARGUMENT,
                "bmp is null");
  CHECK_REFUSED(cgvw_decode_bmp(NULL, source, &kPlain8, &bmp, &size), CGVW_INVALID_ARGUMENT, NULL);
  CHECK(bmp == NULL && size == 0);
  CHECK_REFUSED(cgvw_source_add(folder, "x", pixels, 1, CGVW_BORROW), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_source_add(source, NULL, pixels, 1, CGVW_BORROW), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_source_add(source, "x", NULL, 1, CGVW_BORROW), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_source_add(source, "x", pixels, 1, 2), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_source_new_memory(NULL), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_source_new_folder(NULL, &none), CGVW_INVALID_ARGUMENT, NULL);
  CHECK(none == NULL); /* a refused constructor leaves no handle */
  none = (cgvw_source*)&folder;
  CHECK_REFUSED(cgvw_source_new_reader(NULL, NULL, &none), CGVW_INVALID_ARGUMENT, NULL);
  CHECK(none == NULL);
  CHECK_REFUSED(cgvw_decoder_new(NULL), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_set_limit(decoder, 9, 1), CGVW_INVALID_ARGUMENT, "no such limit");
  CHECK_REFUSED(cgvw_get_limit(decoder, 9, &limit), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_get_limit(decoder, CGVW_LIMIT_WIDTH, NULL), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_set_option(decoder, 9, 1), CGVW_INVALID_ARGUMENT, "no such option");
  CHECK_REFUSED(cgvw_set_option(decoder, CGVW_OPTION_MAX_NESTING, 0), CGVW_INVALID_ARGUMENT,
                "the nesting of composites must be 1 or more");
  CHECK_REFUSED(cgvw_get_option(decoder, 9, &value), CGVW_INVALID_ARGUMENT, NULL);
  CHECK_REFUSED(cgvw_set_composite_hook(NULL, NULL, NULL), CGVW_INVALID_ARGUMENT, NULL);

  /* Descriptors: the typed statuses, with the field or the limit named. */
  CHECK_REFUSED(cgvw_decode(decoder, source, &noPixSize, &out), CGVW_BAD_DESCRIPTOR,
                "PixSize is 0");
  CHECK_REFUSED(cgvw_get_info(decoder, &itself, &info), CGVW_BAD_DESCRIPTOR,
                "Extra->Items[0].Image is a composite that contains it");
  CHECK_REFUSED(cgvw_decode(decoder, source, &kind2, &out), CGVW_UNSUPPORTED, "");
  CHECK_REFUSED(cgvw_set_limit(decoder, CGVW_LIMIT_WIDTH, 100), CGVW_OK, "");
  CHECK_REFUSED(cgvw_get_info(decoder, &wide, &info), CGVW_TOO_LARGE,
                "Width 200 is over the width limit of 100");
  CHECK_REFUSED(cgvw_set_limit(decoder, CGVW_LIMIT_WIDTH, 1u << 20), CGVW_OK, "");
  /* 20000 x 20000 pixels from a file of 708 bytes: past the default limit
   * of 256 MiB a picture, before anything is allocated. */
  huge.Width = 20000;
  huge.Height = 20000;
  huge.PixSize = 20000u * 20000u;
  CHECK_REFUSED(cgvw_get_info(decoder, &huge, &info), CGVW_TOO_LARGE,
                "a picture of 400001064 bytes is over the picture limit of 268435456");
  CHECK(cgvw_get_limit(decoder, CGVW_LIMIT_WIDTH, &limit) == CGVW_OK && limit == 65535);
  CHECK_REFUSED(cgvw_set_limit(decoder, CGVW_LIMIT_READ_BYTES, 14), CGVW_OK, "");
  CHECK_REFUSED(cgvw_decode(decoder, source, &kPlain8, &out), CGVW_TOO_LARGE,
                "PixSize 15 is over the read limit of 14");
  CHECK_REFUSED(cgvw_set_limit(decoder, CGVW_LIMIT_READ_BYTES, 256u << 20), CGVW_OK, "");
  CHECK_REFUSED(cgvw_set_option(decoder, CGVW_OPTION_MAX_NESTING, 1), CGVW_OK, "");
  inner.Image = &composite; /* a composite in a composite: one level too deep */
  CHECK_REFUSED(cgvw_get_info(decoder, &itself, &info), CGVW_OK, "");
  CHECK_REFUSED(cgvw_decode(decoder, source, &itself, &out), CGVW_TOO_DEEP, "");
  CHECK_REFUSED(cgvw_set_option(decoder, CGVW_OPTION_MAX_NESTING, 16), CGVW_OK, "");
  CHECK(cgvw_get_option(decoder, CGVW_OPTION_MAX_NESTING, &value) == CGVW_OK && value == 16);
  /* Every limit reads back as it was set, and is set back; the option of
   * the backdrop both ways; no decoder, or nowhere for the value, refused. */
  {
    static const int kLimits[] = {CGVW_LIMIT_WIDTH, CGVW_LIMIT_HEIGHT, CGVW_LIMIT_PICTURE_BYTES,
                                  CGVW_LIMIT_READ_BYTES};
    size_t i;
    for (i = 0; i < sizeof kLimits / sizeof kLimits[0]; ++i) {
      uint64_t before = 0, after = 0;
      CHECK(cgvw_get_limit(decoder, kLimits[i], &before) == CGVW_OK);
      CHECK(cgvw_set_limit(decoder, kLimits[i], 123) == CGVW_OK);
      CHECK(cgvw_get_limit(decoder, kLimits[i], &after) == CGVW_OK && after == 123);
      CHECK(cgvw_set_limit(decoder, kLimits[i], before) == CGVW_OK);
      CHECK(cgvw_get_limit(decoder, kLimits[i], &after) == CGVW_OK && after == before);
      CHECK(cgvw_set_limit(NULL, kLimits[i], 1) == CGVW_INVALID_ARGUMENT);
      CHECK(cgvw_get_limit(NULL, kLimits[i], &after) == CGVW_INVALID_ARGUMENT);
    }
  }
  CHECK(cgvw_set_option(decoder, CGVW_OPTION_BACKDROP, 1) == CGVW_OK);
  CHECK(cgvw_get_option(decoder, CGVW_OPTION_BACKDROP, &value) == CGVW_OK && value == 1);
  CHECK(cgvw_set_option(decoder, CGVW_OPTION_BACKDROP, 0) == CGVW_OK);
  CHECK(cgvw_get_option(decoder, CGVW_OPTION_BACKDROP, &value) == CGVW_OK && value == 0);
  CHECK(cgvw_set_option(NULL, CGVW_OPTION_BACKDROP, 1) == CGVW_INVALID_ARGUMENT);
  CHECK(cgvw_get_option(NULL, CGVW_OPTION_BACKDROP, &value) == CGVW_INVALID_ARGUMENT);
  CHECK(cgvw_get_option(decoder, CGVW_OPTION_BACKDROP, NULL) == CGVW_INVALID_ARGUMENT);
  CHECK(strcmp(cgvw_status_text(CGVW_INVALID_ARGUMENT),
               "an argument is null or not one the call takes") == 0);

  cgvw_source_free(folder);
  cgvw_source_free(NULL);
  cgvw_decoder_free(NULL);
  cgvw_free(NULL);
  CHECK(strcmp(cgvw_problem(NULL), "") == 0);
  CHECK(strcmp(cgvw_status_text(CGVW_BUFFER_TOO_SMALL), "the buffer is too small") == 0);
  CHECK(strcmp(cgvw_status_text(CGVW_TOO_DEEP), "composites nested too deeply") == 0);
  CHECK(strcmp(cgvw_status_text(-100), "an unknown status") == 0);
}

/* ------------------------------------------------------------------------
 * Nothing on standard error: failing composites tell the caller's hook and
 * the status, where the classic entry points show their "Step err" box. */

static int hookCalls = 0;
static void CountFailures(void* user, int status, int canvas) {
  CHECK(user == &hookCalls && status == CGVW_CANNOT_OPEN && canvas == 0);
  ++hookCalls;
}

/* The bytes written to standard error while `run` ran. */
static long StandardErrorOf(void (*run)(void*), void* context, const char* scratch) {
  struct stat written;
  const int saved = dup(2);
  const int file = open(scratch, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (saved < 0 || file < 0 || dup2(file, 2) < 0) {
    perror(scratch);
    exit(2);
  }
  run(context);
  fflush(stderr);
  if (dup2(saved, 2) < 0 || fstat(file, &written) != 0) {
    perror(scratch);
    exit(2);
  }
  close(file);
  close(saved);
  unlink(scratch);
  return (long)written.st_size;
}

struct FailingComposite {
  cgvw_decoder* decoder;
  cgvw_source* source;
  const TCGVwImage* image;
  int status;
};

static void DecodeTyped(void* context) {
  struct FailingComposite* call = (struct FailingComposite*)context;
  uint8_t pixels[6 * 4 * 3];
  cgvw_output out = {0};
  out.pixels = pixels;
  out.size = sizeof pixels;
  call->status = cgvw_decode(call->decoder, call->source, call->image, &out);
}

static void DecodeClassic(void* context) {
  struct FailingComposite* call = (struct FailingComposite*)context;
  TCGVwHandle block = NULL;
  call->status = CGVwDecodeComposite(&call->image, NULL, &block);
}

static void TestQuiet(cgvw_decoder* decoder, cgvw_source* source, const char* scratch) {
  const TCGVwImage missing = Named("nowhere.bin");
  const TCGVwLayer layer = {&missing, 0, 0, 0};
  TCGVwLayers list = {1, NULL};
  TCGVwImage broken = composite;
  struct FailingComposite call = {NULL, NULL, NULL, 0};
  list.Items = &layer;
  broken.Extra = &list;
  call.decoder = decoder;
  call.source = source;
  call.image = &broken;
  CHECK(cgvw_set_composite_hook(decoder, CountFailures, &hookCalls) == CGVW_OK);
  CHECK(StandardErrorOf(DecodeTyped, &call, scratch) == 0);
  CHECK(call.status == CGVW_CANNOT_OPEN && hookCalls == 1);
  CHECK(strcmp(cgvw_problem(decoder), "nowhere.bin: No such file or directory") == 0);
  CHECK(cgvw_set_composite_hook(decoder, NULL, NULL) == CGVW_OK);
  CHECK(StandardErrorOf(DecodeTyped, &call, scratch) == 0 && hookCalls == 1);
  /* The classic composite decoder shows its box there: the capture works. */
  CHECK(StandardErrorOf(DecodeClassic, &call, scratch) > 0 && call.status == CGVW_CANNOT_OPEN);
}

/* The BMP file of a decode: the classic block's DIB behind a file header. */
static void TestBmp(cgvw_decoder* decoder, cgvw_source* source) {
  const TCGVwImage* image = &kTiled;
  TCGVwHandle block = NULL;
  void* bmp = NULL;
  size_t size = 0;
  CHECK_STATUS(cgvw_decode_bmp(decoder, source, image, &bmp, &size), CGVW_OK, decoder);
  CHECK(size == 14 + 40 + 1024 + 16 * 8);
  CHECK(CGVwDecode(&image, NULL, &block) == CGVW_OK);
  if (bmp != NULL && block != NULL) {
    const uint8_t* file = (const uint8_t*)bmp;
    const uint8_t* dib = (const uint8_t*)CGVwGlobalLock(block);
    CHECK(file[0] == 'B' && file[1] == 'M' && file[2] == (uint8_t)size && file[10] == 0x36 &&
          file[11] == 4);
    CHECK(dib != NULL && memcmp(file + 14, dib, size - 14) == 0);
    CGVwGlobalUnlock(block);
  }
  CGVwGlobalFree(block);
  cgvw_free(bmp);
  /* The backdrop option: the picture over itself, a 24-bit canvas. */
  {
    TCGVwImage over = kPlain8;
    cgvw_info info;
    over.Backdrop = &kPlain8;
    CHECK(cgvw_set_option(decoder, CGVW_OPTION_BACKDROP, 1) == CGVW_OK);
    CHECK_STATUS(cgvw_get_info(decoder, &over, &info), CGVW_OK, decoder);
    CHECK(info.bits_per_pixel == 24 && info.colours == 0 && info.dib_size == 40 + 3 * 16);
    CHECK_STATUS(cgvw_decode_bmp(decoder, source, &over, &bmp, &size), CGVW_OK, decoder);
    CHECK(size == 14 + 40 + 3 * 16);
    cgvw_free(bmp);
    CHECK(cgvw_set_option(decoder, CGVW_OPTION_BACKDROP, 0) == CGVW_OK);
  }
}

/* ------------------------------------------------------------------------
 * Threads: 8 at once, each with a decoder of its own, from sources of their
 * own and then all from one shared source of each kind. */

enum { kThreads = 8, kRounds = 8, kCases = 15 };
static const TCGVwImage* const kThreadPictures[5] = {&kPlain8, &kPlain4, &kPlain15, &kTiled,
                                                     &composite};
static uint8_t expected[kCases][512];

struct Worker {
  cgvw_source* shared; /* null: a memory source of the thread's own */
  int wrong;
};

static void DecodeCase(cgvw_decoder* decoder, cgvw_source* source, int c, uint8_t* pixels) {
  cgvw_output out = {0};
  out.format = c % 3;
  out.pixels = pixels;
  out.size = 512;
  memset(pixels, 0, 512);
  if (cgvw_decode(decoder, source, kThreadPictures[c / 3], &out) != CGVW_OK) {
    pixels[0] ^= 0xFF; /* differs from what was expected */
  }
}

static void* Work(void* context) {
  struct Worker* worker = (struct Worker*)context;
  cgvw_decoder* decoder = NULL;
  cgvw_source* source = worker->shared;
  int round, c;
  uint8_t pixels[512];
  if (cgvw_decoder_new(&decoder) != CGVW_OK ||
      (source == NULL && (cgvw_source_new_memory(&source) != CGVW_OK ||
                          cgvw_source_add(source, kDisc, disc, sizeof disc, CGVW_COPY)))) {
    worker->wrong = -1;
  }
  for (round = 0; round < kRounds && worker->wrong >= 0; ++round) {
    for (c = 0; c < kCases; ++c) {
      DecodeCase(decoder, source, c, pixels);
      worker->wrong += memcmp(pixels, expected[c], sizeof pixels) != 0;
    }
  }
  if (worker->shared == NULL) {
    cgvw_source_free(source);
  }
  cgvw_decoder_free(decoder);
  return NULL;
}

static void TestThreads(cgvw_decoder* decoder, cgvw_source* const shared[], int sharedCount) {
  int c, s, t;
  /* An emulator that cannot run a second thread (Debian 12's qemu-i386)
   * sets this: the threads are left out, and said so. */
  if (getenv("TVRCGCV_TEST_ONE_THREAD") != NULL) {
    printf("threads left out: TVRCGCV_TEST_ONE_THREAD is set\n");
    return;
  }
  for (c = 0; c < kCases; ++c) {
    DecodeCase(decoder, shared[0], c, expected[c]);
  }
  for (s = -1; s < sharedCount; ++s) {
    pthread_t threads[kThreads];
    struct Worker workers[kThreads];
    for (t = 0; t < kThreads; ++t) {
      workers[t].shared = s < 0 ? NULL : shared[s];
      workers[t].wrong = 0;
      CHECK(pthread_create(&threads[t], NULL, Work, &workers[t]) == 0);
    }
    for (t = 0; t < kThreads; ++t) {
      CHECK(pthread_join(threads[t], NULL) == 0);
      CHECK(workers[t].wrong == 0);
    }
  }
}

/* ------------------------------------------------------------------------
 * Disc images: an ISO image of the folder reads as the folder does; what
 * is no image is refused with the reason in words. Returns the source, or
 * null where images cannot be made or read here. */
static cgvw_source* OpenDiscImage(cgvw_decoder* decoder, const char* root, const char* folder) {
#ifdef WITH_DISC_IMAGES
  char command[1024], image[512], problem[256], tiny[8];
  cgvw_source* source = (cgvw_source*)&problem;
  snprintf(image, sizeof image, "%s/disc.iso", root);
  CHECK(cgvw_source_new_disc_image(image, &source, problem, sizeof problem) == CGVW_CANNOT_OPEN);
  CHECK(source == NULL && strstr(problem, "disc.iso") != NULL);
  snprintf(command, sizeof command, "%s/DISC.BIN", folder);
  CHECK(cgvw_source_new_disc_image(command, &source, tiny, sizeof tiny) == CGVW_CANNOT_OPEN);
  CHECK(source == NULL && strlen(tiny) == sizeof tiny - 1); /* cut, and terminated */
  CHECK(cgvw_source_new_disc_image(NULL, &source, NULL, 0) == CGVW_INVALID_ARGUMENT);
  /* Nowhere to put the source; no room for the reason, or only for its end. */
  CHECK(cgvw_source_new_disc_image(image, NULL, problem, sizeof problem) == CGVW_INVALID_ARGUMENT);
  CHECK(strcmp(problem, "") == 0);
  source = (cgvw_source*)&problem;
  CHECK(cgvw_source_new_disc_image(image, &source, NULL, 0) == CGVW_CANNOT_OPEN);
  CHECK(source == NULL);
  tiny[0] = 'x';
  CHECK(cgvw_source_new_disc_image(image, &source, tiny, 1) == CGVW_CANNOT_OPEN);
  CHECK(source == NULL && tiny[0] == '\0');
  snprintf(command, sizeof command, "xorriso -as mkisofs -R -o '%s' '%s' >/dev/null 2>&1", image,
           folder);
  if (system(command) != 0) {
    puts("xorriso cannot make an ISO image here: disc images are not tested");
    return NULL;
  }
  CHECK_STATUS(cgvw_source_new_disc_image(image, &source, problem, sizeof problem), CGVW_OK,
               decoder);
  CHECK(strcmp(problem, "") == 0);
  if (source != NULL) {
    CheckSource(decoder, source);
  }
  return source;
#else
  (void)decoder;
  (void)root;
  (void)folder;
  return NULL;
#endif
}

int main(void) {
  char root[] = "/tmp/cgvw-decode-c-XXXXXX";
  char drive[sizeof root + 2];
  char scratch[sizeof root + 16];
  cgvw_decoder* decoder = NULL;
  cgvw_source* shared[4] = {NULL, NULL, NULL, NULL};
  int sharedCount = 3;
  const char* const files[] = {"q/DISC.BIN", "disc.iso", "stderr.txt"};
  layers.Count = 1;
  layers.Items = &kLayer;
  MakeDisc();
  MakeDrive(root, drive, sizeof drive); /* drive q of the classic entry points */
  snprintf(scratch, sizeof scratch, "%s/stderr.txt", root);
  WriteDiscFile(drive);
  SourceRoot[0] = 'q';

  CHECK(cgvw_decoder_new(&decoder) == CGVW_OK);
  CHECK(cgvw_source_new_memory(&shared[0]) == CGVW_OK);
  CHECK(cgvw_source_add(shared[0], kDisc, disc, sizeof disc, CGVW_BORROW) == CGVW_OK);
  CHECK(cgvw_source_new_folder(drive, &shared[1]) == CGVW_OK);
  CHECK(cgvw_source_new_reader(ReadDisc, disc, &shared[2]) == CGVW_OK);
  TestSources(decoder, drive);
  TestMisuse(decoder, shared[0]);
  TestQuiet(decoder, shared[0], scratch);
  TestBmp(decoder, shared[1]);
  shared[3] = OpenDiscImage(decoder, root, drive);
  sharedCount += shared[3] != NULL;
  TestThreads(decoder, shared, sharedCount);
  cgvw_source_free(shared[0]);
  cgvw_source_free(shared[1]);
  cgvw_source_free(shared[2]);
  cgvw_source_free(shared[3]);
  cgvw_decoder_free(decoder);

  return Finish(root, files, 3);
}
