/* The decoding library from C (C99 or later), with everything the typed
 * C++ API (cgvw/decode.h) does: sources of bytes the caller chooses, limits,
 * a text for every status and for every problem, what a picture is before it
 * is decoded, and decoding into the caller's own buffer in the picture's own
 * form or as RGB or RGBA.
 *
 *   #include <cgvw/decode_c.h>
 *
 *   cgvw_source* disc = NULL;
 *   cgvw_decoder* decoder = NULL;
 *   const TCGVwImage* image = &CGVwCatalogue[0].Image;   -- catalog/catalogue_c.h
 *   cgvw_info info;
 *   int status = cgvw_source_new_memory(&disc);
 *   if (status == CGVW_OK) status = cgvw_source_add(disc, "bg000_0.bg", bytes, size, CGVW_BORROW);
 *   if (status == CGVW_OK) status = cgvw_decoder_new(&decoder);
 *   if (status == CGVW_OK) status = cgvw_get_info(decoder, image, &info);
 *   if (status == CGVW_OK) {
 *     cgvw_output out = {0};
 *     out.format = CGVW_FORMAT_RGBA8;                    -- 4 bytes a pixel, top row first
 *     out.size = (size_t)info.rgba8_size;
 *     out.pixels = malloc(out.size);
 *     status = out.pixels != NULL ? cgvw_decode(decoder, disc, image, &out) : CGVW_NO_MEMORY;
 *     ...
 *   }
 *   if (status != CGVW_OK)
 *     fprintf(stderr, "%s: %s\n", cgvw_status_text(status), cgvw_problem(decoder));
 *   cgvw_decoder_free(decoder);
 *   cgvw_source_free(disc);
 *
 * Build with pkg-config tvrcgcv-c, or CMake's tvrcgcv::cgvw (cgvw_c.h says
 * how). Disc images as sources: cgvw/disc_image_c.h.
 *
 * Every function returns a status (CGVW_OK or a negative CGVW_ code below)
 * unless it says otherwise; a null pointer, an unknown format or a buffer
 * too small for what is asked is refused with a status, never a crash.
 * Nothing here prints, shows a box or reads the environment: what went
 * wrong is in the status and in cgvw_problem(). Freeing a null handle does
 * nothing; a handle freed twice is a fault of the caller, as with free().
 *
 * Threads: a decoder (its settings and its last problem) is used by one
 * thread at a time; give each thread its own. A source may be shared by
 * any number of threads decoding at once (memory, folder and disc-image
 * sources take care of it; a reader source calls the caller's function
 * from all of them), and files may be added to a memory source while
 * others read it.
 *
 * Byte layouts. The source files and the descriptors: docs/formats.md,
 * which decodes its examples in a test. What a decode writes:
 * - the rows, from the top unless CGVW_BOTTOM_UP is asked for, each at
 *   `stride` bytes from the one before; a row's own bytes are written and
 *   the bytes between rows (when the stride is larger) are left as they
 *   were. Within a row the pixels run from the left:
 *   - CGVW_FORMAT_NATIVE, the picture's own form: 4 bits a pixel, two a
 *     byte with the left one in the high nibble (the low nibble after an
 *     odd width's last pixel is 0), (width + 1) / 2 bytes; 8 bits: one
 *     colour index a byte, width bytes; 24 bits: blue, green, red, 3 x
 *     width bytes. As a DIB's rows, without their padding.
 *   - CGVW_FORMAT_RGB8: red, green, blue, 3 x width bytes.
 *   - CGVW_FORMAT_RGBA8: red, green, blue, 255, 4 x width bytes.
 * - the palette of a 4- or 8-bit picture, if asked for: its colour table's
 *   16 or 256 entries (info.colours), 4 bytes each: red, green, blue, 255.
 *   A 128-colour picture's entries 128 to 255 are black. Index k of a
 *   NATIVE row has the colour that an RGBA8 decode writes for that pixel.
 * - cgvw_decode_bmp: a whole BMP file, the 14-byte BITMAPFILEHEADER and the
 *   DIB (docs/formats.md, "The pictures"), as the program writes it.
 */
#ifndef TVRCGCV_CGVW_DECODE_C_H
#define TVRCGCV_CGVW_DECODE_C_H

#include <stddef.h>
#include <stdint.h>

#include "cgvw/cgvw_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The statuses beyond the classic ones of cgvw_c.h (CGVW_OK 0,
 * CGVW_UNSUPPORTED -1, CGVW_CANNOT_OPEN -2, CGVW_NO_MEMORY -3). The values
 * -1 to -7 are those of cgvw::Status. */
enum {
  CGVW_READ_FAILED = -4,      /* a source file opened but could not be read */
  CGVW_TOO_LARGE = -5,        /* past a limit (cgvw_problem says which) */
  CGVW_BAD_DESCRIPTOR = -6,   /* a descriptor field missing or zero (cgvw_problem names it) */
  CGVW_TOO_DEEP = -7,         /* composites nested deeper than allowed */
  CGVW_INVALID_ARGUMENT = -8, /* a null pointer, unknown value or a stride too small */
  CGVW_BUFFER_TOO_SMALL = -9  /* the caller's buffer cannot hold what is asked for */
};

/* A short English text for any status, "done" for CGVW_OK ("an unknown
 * status" for a value that is none); never null, never to be freed. */
const char* cgvw_status_text(int status);

/* ------------------------------------------------------------------------
 * Sources of bytes: named files, as the descriptors name them (PalFile,
 * PixFile, a map chunk's FileName). Names are looked up as Windows does:
 * the exact name, else one that differs only in the case of ASCII letters.
 * A file that ends inside a range reads as 0 from there (and
 * cgvw_missing_source_bytes says so). */
typedef struct cgvw_source cgvw_source;

/* Files held in memory, added with cgvw_source_add. */
int cgvw_source_new_memory(cgvw_source** source);

/* How cgvw_source_add keeps the bytes. */
enum {
  CGVW_BORROW = 0, /* the caller's bytes, which must stay until the source is freed */
  CGVW_COPY = 1    /* a copy, made now; the caller's bytes may go at once */
};
/* Adds the file `name` (zero-terminated) of `size` bytes to a memory
 * source, or replaces the file of that name. `bytes` may be null only for
 * an empty file. CGVW_INVALID_ARGUMENT for a source that is not a memory
 * source, CGVW_NO_MEMORY if it cannot be stored. */
int cgvw_source_add(cgvw_source* source, const char* name, const void* bytes, size_t size, int how);

/* The files of a folder (UTF-8): the root of a mounted disc or a copy of
 * its files. Names may go through subfolders, separated by '/' or '\'.
 * Only regular files are read; nothing waits on a pipe or device. The
 * folder is not looked at until a decode reads from it. */
int cgvw_source_new_folder(const char* folder, cgvw_source** source);

/* The caller's reader: puts up to `size` bytes of the file `name` from
 * byte `offset` on at `dest`, sets *got to the number put there (fewer than
 * `size` only where the file ends) and returns CGVW_OK; or returns
 * CGVW_CANNOT_OPEN (no such file), CGVW_READ_FAILED (it cannot be read) or
 * CGVW_NO_MEMORY. Any other return, or a *got over `size`, counts as
 * CGVW_READ_FAILED. It may be called from several threads at once if the
 * source is shared between them. */
typedef int (*cgvw_read_fn)(void* user, const char* name, uint64_t offset, void* dest, size_t size,
                            size_t* got);
/* A source that calls `read` with `user` for every range; `user` stays the
 * caller's. */
int cgvw_source_new_reader(cgvw_read_fn read, void* user, cgvw_source** source);

/* Frees a source made by any cgvw_source_new_ function (null: nothing). */
void cgvw_source_free(cgvw_source* source);

/* ------------------------------------------------------------------------
 * Decoders: the settings of decodes and the problem of the last call. */
typedef struct cgvw_decoder cgvw_decoder;

int cgvw_decoder_new(cgvw_decoder** decoder);
void cgvw_decoder_free(cgvw_decoder* decoder);

/* Limits, checked for every picture (each layer of a composite included)
 * before anything is allocated for it; past one a decode gives
 * CGVW_TOO_LARGE and cgvw_problem says which ("Width 20000 is over the
 * width limit of 4096"). */
typedef enum cgvw_limit {
  CGVW_LIMIT_WIDTH = 0,         /* pixels; default 65535 (a descriptor's largest) */
  CGVW_LIMIT_HEIGHT = 1,        /* pixels; default 65535 */
  CGVW_LIMIT_PICTURE_BYTES = 2, /* a decoded DIB; default 256 MiB */
  CGVW_LIMIT_READ_BYTES = 3     /* one range read from a source; default 256 MiB */
} cgvw_limit;
/* limit: a cgvw_limit; CGVW_INVALID_ARGUMENT for another value. A width or
 * height limit over 65535 is none. */
int cgvw_set_limit(cgvw_decoder* decoder, int limit, uint64_t value);
int cgvw_get_limit(const cgvw_decoder* decoder, int limit, uint64_t* value);

typedef enum cgvw_option {
  /* Non-zero: a picture with a Backdrop is drawn over it at (PosX, PosY),
   * colour index 0 transparent, on a 24-bit canvas the backdrop's size (as
   * CGVwDecode's backdrop flag). Default 0. */
  CGVW_OPTION_BACKDROP = 0,
  /* Composites within composites go this deep at most (CGVW_TOO_DEEP
   * beyond); 1 or more. Default 16. */
  CGVW_OPTION_MAX_NESTING = 1
} cgvw_option;
/* option: a cgvw_option; CGVW_INVALID_ARGUMENT for another value. */
int cgvw_set_option(cgvw_decoder* decoder, int option, int value);
int cgvw_get_option(const cgvw_decoder* decoder, int option, int* value);

/* Called when a composite fails after asking for its canvas (its canvas or
 * a layer could not be had), with the status that the decode then returns
 * and whether it was the canvas; `user` stays the caller's. Null: nothing
 * is called (the default). */
typedef void (*cgvw_composite_hook)(void* user, int status, int canvas);
int cgvw_set_composite_hook(cgvw_decoder* decoder, cgvw_composite_hook hook, void* user);

/* What the last call on the decoder that failed went wrong with, in words:
 * the field of a bad descriptor ("Extra->Items[1].Image->PixSize is 0"),
 * the file that could not be opened or read and the system's reason
 * ("bg000_0.bg: No such file or directory"), the limit passed, or the
 * argument refused ("stride 10 is less than a row's 12 bytes"). "" after
 * a call that succeeded or a failure with nothing more to say; never null.
 * The text stays until the next call on the decoder. A null decoder gives
 * "". */
const char* cgvw_problem(const cgvw_decoder* decoder);

/* Non-zero when the last decode that succeeded read past the end of a
 * source file: the missing bytes were read as 0. */
int cgvw_missing_source_bytes(const cgvw_decoder* decoder);

/* ------------------------------------------------------------------------
 * Pictures */

/* What a decode of a picture makes, from its descriptor alone. */
typedef struct cgvw_info {
  uint32_t width;          /* pixels */
  uint32_t height;         /* pixels */
  uint32_t bits_per_pixel; /* 4, 8 or 24: the picture's own form */
  uint32_t colours;        /* palette entries: 16 or 256; 0 for 24 bits */
  uint64_t dib_size;       /* the DIB: header, colour table, rows (a BMP file has 14 more) */
  uint64_t native_size;    /* bytes of a decode with the rows packed, per format: */
  uint64_t rgb8_size;
  uint64_t rgba8_size;
} cgvw_info;

/* Fills *info for the picture `image` describes, with the decoder's
 * options, without reading or allocating anything. The descriptor is
 * checked as cgvw_decode checks it: CGVW_BAD_DESCRIPTOR naming the field
 * (a zero Width, Height, PixSize, map Size or layer Count; a missing
 * PixFile, PalFile where a palette is read, map chunk, layer list, layer
 * or layer picture; a composite within itself), CGVW_UNSUPPORTED (a Kind
 * or Depth that nothing decodes), CGVW_TOO_LARGE or CGVW_TOO_DEEP. A
 * decode may still fail where info does not: a file may be missing, a
 * layer past the limits. */
int cgvw_get_info(cgvw_decoder* decoder, const TCGVwImage* image, cgvw_info* info);

/* Output formats (cgvw_output.format); the byte layouts are at the top. */
typedef enum cgvw_format {
  CGVW_FORMAT_NATIVE = 0, /* the picture's own form: 4 or 8-bit colour indices, or 24-bit */
  CGVW_FORMAT_RGB8 = 1,   /* red, green, blue */
  CGVW_FORMAT_RGBA8 = 2   /* red, green, blue, 255 */
} cgvw_format;

/* cgvw_output.flags */
enum {
  CGVW_BOTTOM_UP = 1 /* the last row first, as in a DIB; without it the top row first */
};

/* Bytes of one row of the picture in the format (a cgvw_format), without
 * padding: the smallest stride. 0 for an unknown format or a null info. */
size_t cgvw_row_bytes(const cgvw_info* info, int format);

/* Where and how a decode writes: zero it ({0}) and set what you need. */
typedef struct cgvw_output {
  int format;          /* cgvw_format */
  int flags;           /* 0, or CGVW_BOTTOM_UP */
  void* pixels;        /* the caller's buffer */
  size_t size;         /* its bytes: at least (height - 1) x stride + the row's bytes */
  size_t stride;       /* bytes from the start of a row to the next; 0: the row's bytes */
  void* palette;       /* null, or room for the colour table of a 4- or 8-bit picture */
  size_t palette_size; /* bytes at palette: at least 4 x colours (1024 holds any) */
} cgvw_output;

/* Decodes the picture `image` describes, reading from `source`, into the
 * caller's buffer. On CGVW_OK every row is written (and the palette, if
 * given, for an indexed picture); on any failure the pixel buffer and the
 * palette may hold anything. The descriptor is read, never written, and
 * the call keeps nothing of it. */
int cgvw_decode(cgvw_decoder* decoder, cgvw_source* source, const TCGVwImage* image,
                const cgvw_output* output);

/* Decodes into a new BMP file in memory: *bmp receives it (free it with
 * cgvw_free) and *size its bytes. Both are set to null and 0 on failure. */
int cgvw_decode_bmp(cgvw_decoder* decoder, cgvw_source* source, const TCGVwImage* image, void** bmp,
                    size_t* size);

/* Frees what the library allocated for the caller (a cgvw_decode_bmp file).
 * Null: nothing. */
void cgvw_free(void* bytes);

#ifdef __cplusplus
}
#endif

#endif /* TVRCGCV_CGVW_DECODE_C_H */
