/* Decodes a picture of the built-in catalogue from files held in memory to
 * RGBA pixels, through the C API (cgvw/decode_c.h), and writes it as a PNG
 * file with libspng.
 *
 *   decode_to_png <row> <out.png> <file>...
 *
 * The files are the disc's files that the row names, read into memory and
 * found by their names (their folders left out): bg000_0.bg for row 0,
 * Tesuna.bpl and Tesuna.btx for row 152. Build it with either of
 *   cc -o decode_to_png decode_to_png.c \
 *     $(pkg-config --cflags --libs tvrcgcv-c spng)
 *   cmake (examples/CMakeLists.txt: tvrcgcv::catalog, and libspng by pkg-config)
 */
#include <spng.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "catalog/catalogue_c.h"
#include "cgvw/decode_c.h"

/* The whole file at `path` in a new buffer; null if it cannot be read. */
static uint8_t* ReadFile(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  uint8_t* bytes = NULL;
  long length;
  if (file == NULL) {
    return NULL;
  }
  if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) >= 0 &&
      fseek(file, 0, SEEK_SET) == 0) {
    bytes = (uint8_t*)malloc(length > 0 ? (size_t)length : 1);
    if (bytes != NULL && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
      free(bytes);
      bytes = NULL;
    }
    *size = (size_t)length;
  }
  fclose(file);
  return bytes;
}

/* The name of a path without its folders. */
static const char* BaseName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != NULL ? slash + 1 : path;
}

/* Writes width x height RGBA pixels, rows packed, as a PNG file. 0 on
 * success. */
static int WritePng(const char* path, const uint8_t* rgba, uint32_t width, uint32_t height,
                    size_t size) {
  struct spng_ihdr header;
  spng_ctx* png = spng_ctx_new(SPNG_CTX_ENCODER);
  FILE* file = fopen(path, "wb");
  int error = png == NULL || file == NULL;
  memset(&header, 0, sizeof header);
  header.width = width;
  header.height = height;
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  if (!error) {
    error = spng_set_png_file(png, file) || spng_set_ihdr(png, &header) ||
            spng_encode_image(png, rgba, size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  }
  spng_ctx_free(png);
  if (file != NULL && fclose(file) != 0) {
    error = 1;
  }
  if (error && file != NULL) {
    remove(path);
  }
  return error;
}

int main(int argc, char* argv[]) {
  cgvw_source* disc = NULL;
  cgvw_decoder* decoder = NULL;
  uint8_t* files[8] = {NULL};
  const TCGVwImage* image;
  cgvw_info info;
  cgvw_output out;
  int row, count = 0, i;
  int status;
  if (argc < 4 || argc - 3 > 8 || (row = atoi(argv[1])) < 0 || row > 160) {
    fputs("usage: decode_to_png <row 0-160> <out.png> <file>... (at most 8)\n", stderr);
    return 2;
  }
  image = &CGVwCatalogue[row].Image;
  status = cgvw_source_new_memory(&disc);
  for (i = 3; i < argc && status == CGVW_OK; ++i) {
    size_t size = 0;
    files[count] = ReadFile(argv[i], &size);
    if (files[count] == NULL) {
      fprintf(stderr, "%s cannot be read\n", argv[i]);
      status = CGVW_CANNOT_OPEN;
    } else { /* borrowed: the bytes stay until the source goes */
      status = cgvw_source_add(disc, BaseName(argv[i]), files[count++], size, CGVW_BORROW);
    }
  }
  if (status == CGVW_OK) {
    status = cgvw_decoder_new(&decoder);
  }
  if (status == CGVW_OK) {
    status = cgvw_get_info(decoder, image, &info); /* the size, before anything is read */
  }
  memset(&out, 0, sizeof out);
  if (status == CGVW_OK) {
    out.format = CGVW_FORMAT_RGBA8; /* top row first, rows packed */
    out.size = (size_t)info.rgba8_size;
    out.pixels = malloc(out.size);
    status = out.pixels != NULL ? cgvw_decode(decoder, disc, image, &out) : CGVW_NO_MEMORY;
  }
  if (status != CGVW_OK) {
    fprintf(stderr, "row %d: %s", row, cgvw_status_text(status));
    fprintf(stderr, "%s%s\n", *cgvw_problem(decoder) != '\0' ? ": " : "", cgvw_problem(decoder));
  } else if (WritePng(argv[2], (const uint8_t*)out.pixels, info.width, info.height, out.size) !=
             0) {
    fprintf(stderr, "%s cannot be written\n", argv[2]);
    status = CGVW_CANNOT_OPEN;
  }
  free(out.pixels);
  cgvw_decoder_free(decoder);
  cgvw_source_free(disc);
  for (i = 0; i < count; ++i) {
    free(files[i]);
  }
  return status == CGVW_OK ? 0 : 1;
}
