/* Picture descriptors in C: the records that tell a decoder everything it
 * learns about a picture, and the Flags bits. This header is C (C99 or
 * later) and C++ alike; C++ code includes cgvw/descriptors.h, which adds
 * typed constants on top.
 *
 * Byte layouts of the sources that the descriptors name: docs/formats.md.
 */
#ifndef TVRCGCV_CGVW_DESCRIPTORS_C_H
#define TVRCGCV_CGVW_DESCRIPTORS_C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One picture. The decoders read nothing else to learn about it. */
typedef struct TCGVwImage {
  uint32_t Flags;                    /* Kind, Depth, SwapOff and MapLayout bits (below) */
  uint16_t Width;                    /* pixels */
  uint16_t Height;                   /* pixels */
  uint16_t PosX;                     /* placement over the backdrop, from the left */
  uint16_t PosY;                     /* placement over the backdrop, from the top */
  const struct TCGVwImage* Backdrop; /* picture to draw this one over; null for none */
  const char* PalFile;               /* palette source, relative to the source root */
  uint32_t PalOffset;                /* byte offset of the first colour word */
  const char* PixFile;               /* pixel or tile data source */
  uint32_t PixOffset;                /* byte offset of the pixel data */
  uint32_t PixSize;                  /* pixel-data bytes to read */
  const void* Extra;                 /* TCGVwChunk (tiled), TCGVwLayers (composite) or null */
} TCGVwImage;

/* A byte range of a source file: a tiled picture's map. A null FileName
 * means the map is generated. */
typedef struct TCGVwChunk {
  const char* FileName;
  uint32_t Offset;
  uint32_t Size;
} TCGVwChunk;

struct TCGVwLayer;

/* The layer list of a composite. Packed: Items lies at byte offset 2, right
 * after Count, as the stored records have it. */
#pragma pack(push, 1)
typedef struct TCGVwLayers {
  uint16_t Count; /* layers, at least 1 */
  const struct TCGVwLayer* Items;
} TCGVwLayers;
#pragma pack(pop)

/* One layer of a composite. */
typedef struct TCGVwLayer {
  const TCGVwImage* Image;
  uint32_t Flags; /* CGVW_LAYER_TRANSPARENT: colour index 0 is transparent */
  uint16_t X;     /* canvas position of the layer's top-left pixel */
  uint16_t Y;
} TCGVwLayer;

/* Flags bit fields. Kind: Flags & CGVW_KIND_MASK; Depth code: Flags &
 * CGVW_DEPTH_MASK; MapLayout: Flags & CGVW_MAP_LAYOUT_MASK. */
enum {
  CGVW_KIND_MASK = 0x1F,
  CGVW_KIND_PLAIN = 0,     /* rows of pixels */
  CGVW_KIND_TILED = 1,     /* 8 x 8 tiles and a tile map (Extra: TCGVwChunk) */
  CGVW_KIND_COMPOSITE = 3, /* layers on a 24-bit canvas (Extra: TCGVwLayers) */

  CGVW_DEPTH_MASK = 0xE0,
  CGVW_DEPTH_4BIT = 0x00,     /* 16-colour palette */
  CGVW_DEPTH_8BIT_128 = 0x20, /* 128-colour palette */
  CGVW_DEPTH_8BIT_256 = 0x40, /* 256-colour palette */
  CGVW_DEPTH_15BIT = 0x60,    /* direct colour, produced as 24-bit */

  CGVW_SWAP_OFF = 0x100, /* colour words stored little-endian */

  CGVW_MAP_LAYOUT_MASK = 0xE00,
  CGVW_MAP_16 = 0x200,    /* 16-bit entries, one 8 x 8 tile each */
  CGVW_MAP_32 = 0x400,    /* 32-bit entries, one 8 x 8 tile each */
  CGVW_MAP_CELLS = 0xC00, /* 16-bit entries, 16 x 16 cells with selectors */

  CGVW_LAYER_TRANSPARENT = 0x1 /* TCGVwLayer.Flags */
};

#ifdef __cplusplus
}
#endif

#endif /* TVRCGCV_CGVW_DESCRIPTORS_C_H */
