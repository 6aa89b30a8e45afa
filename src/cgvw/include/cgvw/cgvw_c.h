/* The classic entry points of the CGVw decoding layer for C (C99 or later)
 * and C++: a picture descriptor in, a DIB in a global memory block out.
 *
 *   #include <cgvw/cgvw_c.h>
 *
 *   SourceRoot[0] = 'q';                      -- the drive: "q:\"
 *   const TCGVwImage* image = &CGVwCatalogue[0].Image;  -- catalog/catalogue_c.h
 *   TCGVwHandle block = NULL;
 *   if (CGVwDecode(&image, NULL, &block) == CGVW_OK) {
 *     const uint8_t* dib = CGVwGlobalLock(block);
 *     ...                                     -- the DIB, see below
 *     CGVwGlobalUnlock(block);
 *     CGVwGlobalFree(block);
 *   }
 *
 * Build with pkg-config (tvrcgcv-c for C, tvrcgcv for C++):
 *   cc prog.c $(pkg-config --cflags --libs tvrcgcv-c)
 * or with CMake: find_package(tvrcgcv) and tvrcgcv::cgvw. The library is
 * C++ inside; both bring the C++ runtime that a C program then needs.
 *
 * Every call returns a status code (CGVW_OK or a negative CGVW_ code) and
 * none prints, except that a composite that fails after obtaining its
 * canvas shows the modal "Step err" box (standard error where there is no
 * window system). On Linux drive letter X is the folder (or disc image)
 * $TVRCGCV_DRIVE_ROOT/x.
 *
 * The block of a decode holds a packed DIB: a 40-byte BITMAPINFOHEADER
 * (little-endian fields), the colour table (16 entries of blue, green,
 * red, 2 for 4 bits per pixel, 256 for 8, none for 24), then the pixel
 * rows bottom-up, each padded to a multiple of 4 bytes. A BMP file is the
 * 14-byte BITMAPFILEHEADER followed by those bytes. The layouts of the
 * source files: docs/formats.md.
 *
 * In C11 and later a descriptor argument of the wrong type (a TCGVwImage*
 * where a pointer to one is wanted) does not compile; define
 * CGVW_NO_ARGUMENT_CHECK to get the plain prototypes only.
 */
#ifndef TVRCGCV_CGVW_CGVW_C_H
#define TVRCGCV_CGVW_CGVW_C_H

#include <stddef.h>
#include <stdint.h>

#include "cgvw/descriptors_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The drive prefix of every source path of the classic entry points: "c:\"
 * until a program stores its drive letter over the first character. The
 * rest of the buffer is zero. One buffer for the whole process: set it
 * before decoding starts, not while decodes run on other threads. */
enum { CGVW_SOURCE_ROOT_SIZE = 8 };
extern char SourceRoot[CGVW_SOURCE_ROOT_SIZE];

/* Status codes. Which one each fault of a descriptor gives: below. */
enum {
  CGVW_OK = 0,
  CGVW_UNSUPPORTED = -1, /* a kind, depth or mode not handled, or a pointer that is null */
  CGVW_CANNOT_OPEN = -2, /* a source file cannot be opened or read */
  CGVW_NO_MEMORY = -3    /* a block or buffer cannot be obtained or locked; also a PixSize
                            or map Size of 0 (a buffer of 0 bytes counts as none) */
};

/* What the classic entry points give for each fault of a descriptor, the
 * dispatch and the decoder of the descriptor's Kind alike. Where a
 * descriptor has several, the first that the decoder comes upon counts.
 * (cgvw/decode_c.h and cgvw/decode.h refuse every one of them before
 * anything is read, with the field named.)
 *
 *   Fault                                         Status
 *   null image, *image or result                  -1
 *   Kind 2 or 4 to 31                             -1 (the dispatch)
 *   another Kind's descriptor given to
 *     CGVwDecodePlain, -Tiled or -Composite       -1, nothing read
 *   Depth code 4 to 7 (Flags & 0xE0 >= 0x80)      -1
 *   tiled, Depth code 3 (15-bit colour)           -1 (-3 if its block cannot be had)
 *   composite, Depth code other than 3            -1
 *   tiled, Extra (the map chunk) null             -1
 *   PalFile null (Depth codes 0 to 2)             -1
 *   PixFile null                                  -1
 *   PixSize 0                                     -3
 *   tiled, the map chunk's Size 0                 -3
 *   composite, Extra (the layer list) null        -1
 *   composite, Items null and Count not 0         -1
 *   composite, Count 0                            0: a black canvas
 *   a layer's Image null                          -1, and the "Step err" box
 *   a composite within itself (or nested deeper
 *     than 16)                                    -1, and the box at each level
 *   a layer that fails                            its status, and the box
 *   Width or Height 0                             0: a DIB of no rows (biSizeImage 0)
 *   a source file that cannot be opened or read   -2
 *   a 24-bit picture too large for a BMP file     -3
 */

/* A global memory block (HGLOBAL on Windows). */
typedef void* TCGVwHandle;

/* Decodes the picture that *image points to into a new block.
 *   image: the address of a pointer to the descriptor.
 *   backdropFlag: null or 0 decodes the picture alone; non-zero (and a
 *     Backdrop in the descriptor) draws it over its backdrop on a 24-bit
 *     canvas the backdrop's size.
 *   result: receives the block on CGVW_OK, which the caller then owns
 *     (CGVwGlobalFree); null on every failure.
 * A null image, *image or result gives CGVW_UNSUPPORTED and decodes
 * nothing. */
int32_t CGVwDecode(const TCGVwImage* const* image, const uint32_t* backdropFlag,
                   TCGVwHandle* result);

/* The decoders that CGVwDecode chooses by Kind, for the same arguments
 * (the second one is not read). */
int32_t CGVwDecodePlain(const TCGVwImage* const* image, const void* reserved, TCGVwHandle* result);
int32_t CGVwDecodeTiled(const TCGVwImage* const* image, const void* reserved, TCGVwHandle* result);
int32_t CGVwDecodeComposite(const TCGVwImage* const* image, const void* reserved,
                            TCGVwHandle* result);

/* Global memory blocks, as the Windows calls of the same names without the
 * prefix: CGVwGlobalLock gives the block's first byte (null for a handle that
 * is not a live block), CGVwGlobalUnlock ends one lock (non-zero while the
 * block is still locked), CGVwGlobalFree releases a block, locked or not
 * (null on success, the handle on failure), CGVwGlobalSize gives its bytes
 * (0 for an unknown handle). CGVwGlobalAlloc is there for callers that
 * make blocks of their own. */
enum {
  CGVW_GMEM_FIXED = 0x0000,
  CGVW_GMEM_MOVEABLE = 0x0002,
  CGVW_GMEM_ZEROINIT = 0x0040,
  CGVW_GHND = 0x0042 /* moveable and zero-filled */
};
TCGVwHandle CGVwGlobalAlloc(unsigned int flags, size_t bytes);
void* CGVwGlobalLock(TCGVwHandle block);
int CGVwGlobalUnlock(TCGVwHandle block);
TCGVwHandle CGVwGlobalFree(TCGVwHandle block);
size_t CGVwGlobalSize(TCGVwHandle block);

#ifdef __cplusplus
}
#endif

/* C11: only pointers to descriptor pointers (and void*, for null) are taken
 * where a descriptor is asked for; anything else stops the build. */
#if !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L && \
    !defined(CGVW_NO_ARGUMENT_CHECK)
/* clang-format off */
#define CGVW_IMAGE_ARGUMENT_(image)                                \
  _Generic((image),                                                \
      const TCGVwImage* const*: (const TCGVwImage* const*)(image), \
      const TCGVwImage**: (const TCGVwImage* const*)(image),       \
      TCGVwImage* const*: (const TCGVwImage* const*)(image),       \
      TCGVwImage**: (const TCGVwImage* const*)(image),             \
      void*: (const TCGVwImage* const*)(image))
/* clang-format on */
#define CGVwDecode(image, backdropFlag, result) \
  (CGVwDecode)(CGVW_IMAGE_ARGUMENT_(image), (backdropFlag), (result))
#define CGVwDecodePlain(image, reserved, result) \
  (CGVwDecodePlain)(CGVW_IMAGE_ARGUMENT_(image), (reserved), (result))
#define CGVwDecodeTiled(image, reserved, result) \
  (CGVwDecodeTiled)(CGVW_IMAGE_ARGUMENT_(image), (reserved), (result))
#define CGVwDecodeComposite(image, reserved, result) \
  (CGVwDecodeComposite)(CGVW_IMAGE_ARGUMENT_(image), (reserved), (result))
#endif

#endif /* TVRCGCV_CGVW_CGVW_C_H */
