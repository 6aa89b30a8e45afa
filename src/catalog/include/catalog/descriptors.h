// Picture descriptors: the fixed-size, read-only records that tell a decoder
// everything it learns about a picture, and the source root under which all
// source file names are looked up.
#pragma once

#include <cstdint>

// One picture. The decoders read nothing else to learn about it.
struct TCGVwImage {
  std::uint32_t Flags;         // Kind, Depth, SwapOff and MapLayout bits (below)
  std::uint16_t Width;         // pixels
  std::uint16_t Height;        // pixels
  std::uint16_t PosX;          // placement over the backdrop, from the left
  std::uint16_t PosY;          // placement over the backdrop, from the top
  const TCGVwImage* Backdrop;  // picture to draw this one over; null for none
  const char* PalFile;         // palette source, relative to SourceRoot
  std::uint32_t PalOffset;     // byte offset of the first colour word
  const char* PixFile;         // pixel or tile data source
  std::uint32_t PixOffset;     // byte offset of the pixel data
  std::uint32_t PixSize;       // pixel-data bytes to read
  const void* Extra;           // TCGVwChunk (tiled), TCGVwLayers (composite) or null
};

// A byte range of a source file. A null FileName means the data is generated.
struct TCGVwChunk {
  const char* FileName;
  std::uint32_t Offset;
  std::uint32_t Size;
};

struct TCGVwLayer;

// The layer list of a composite. Packed: Items lies at byte offset 2, right
// after Count, as the stored records have it.
#pragma pack(push, 1)
struct TCGVwLayers {
  std::uint16_t Count;
  const TCGVwLayer* Items;
};
#pragma pack(pop)

// One layer of a composite.
struct TCGVwLayer {
  const TCGVwImage* Image;
  std::uint32_t Flags;  // bit 0: colour index 0 is transparent
  std::uint16_t X;      // canvas position of the layer's top-left pixel
  std::uint16_t Y;
};

// On 32-bit targets the records have the byte layout they are stored in.
static_assert(sizeof(void*) != 4 || sizeof(TCGVwImage) == 40, "TCGVwImage: 40 bytes");
static_assert(sizeof(void*) != 4 || sizeof(TCGVwChunk) == 12, "TCGVwChunk: 12 bytes");
static_assert(sizeof(void*) != 4 || sizeof(TCGVwLayers) == 6, "TCGVwLayers: 6 bytes");
static_assert(sizeof(void*) != 4 || sizeof(TCGVwLayer) == 12, "TCGVwLayer: 12 bytes");

// Flags bit fields.
namespace cgvw_flags {
inline constexpr std::uint32_t kKindMask = 0x1F;
inline constexpr std::uint32_t kKindPlain = 0;
inline constexpr std::uint32_t kKindTiled = 1;
inline constexpr std::uint32_t kKindComposite = 3;

inline constexpr std::uint32_t kDepthMask = 0xE0;
inline constexpr std::uint32_t kDepth4Bit = 0x00;     // 16-colour palette
inline constexpr std::uint32_t kDepth8Bit128 = 0x20;  // 128-colour palette
inline constexpr std::uint32_t kDepth8Bit256 = 0x40;  // 256-colour palette
inline constexpr std::uint32_t kDepth15Bit = 0x60;    // direct colour, produced as 24-bit

inline constexpr std::uint32_t kSwapOff = 0x100;  // colour words stored little-endian

inline constexpr std::uint32_t kMapLayoutMask = 0xE00;
inline constexpr std::uint32_t kMap16 = 0x200;     // 16-bit entries, one 8 x 8 tile each
inline constexpr std::uint32_t kMap32 = 0x400;     // 32-bit entries, one 8 x 8 tile each
inline constexpr std::uint32_t kMapCells = 0xC00;  // 16 x 16 cells with selectors

inline constexpr std::uint32_t kLayerTransparent = 0x1;  // TCGVwLayer::Flags
}  // namespace cgvw_flags

// The drive prefix of every source path of the classic entry points and of
// cgvw::DriveSource: "c:\" until the conversion run stores the drive letter
// over its first character. The rest of the buffer is zero. One buffer for
// the whole process: a decode reads it as it opens each file, so it is set
// before decoding starts, not while decodes run on other threads.
inline constexpr int kSourceRootSize = 8;
extern char SourceRoot[kSourceRootSize];
