// The tiled image decoder: a picture stored as 8 x 8 tiles plus a tile map,
// drawn into an 8-bit DIB block.
#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/dib_layout.h"
#include "dib_block.h"
#include "operation_support.h"

namespace {

constexpr std::uint32_t kPixelRows256 = cgvw::kInfoHeaderSize + 256 * 4;  // 1064
constexpr std::uint32_t kPixelRows16 = cgvw::kInfoHeaderSize + 16 * 4;    // 104

// Block size by Depth code; 0 for the codes refused before allocation. Rows
// are whole 8-bit rows for every code.
std::uint64_t TiledBlockSize(const TCGVwImage& image) {
  const std::uint64_t area = std::uint64_t{image.Height} * cgvw::RowStride8(image.Width);
  switch (image.Flags & cgvw_flags::kDepthMask) {
    case cgvw_flags::kDepth4Bit:
      return area + kPixelRows16;
    case cgvw_flags::kDepth8Bit128:
    case cgvw_flags::kDepth8Bit256:
      return area + kPixelRows256;
    case cgvw_flags::kDepth15Bit:
      return area * 3 + cgvw::kInfoHeaderSize;
    default:
      return 0;
  }
}

// Without a map file the map is generated: entry i shows tile i + 1 (layout
// 0x200) or tile i (layout 0x400), in reading order, as far as the buffer
// holds entries. Other pictures keep the all-zero buffer.
void GenerateMap(const TCGVwImage& image, std::span<std::uint8_t> map) {
  if ((image.Flags & cgvw_flags::kDepthMask) != cgvw_flags::kDepth8Bit256) {
    return;
  }
  const std::uint64_t entries = std::uint64_t{image.Width} * image.Height / 64;
  switch (image.Flags & cgvw_flags::kMapLayoutMask) {
    case cgvw_flags::kMap16:
      for (std::uint64_t i = 0; i < entries && (i + 1) * 2 <= map.size(); ++i) {
        cgvw::StoreBE16(map.data() + i * 2, static_cast<std::uint16_t>(2 * i + 2));
      }
      break;
    case cgvw_flags::kMap32:
      for (std::uint64_t i = 0; i < entries && (i + 1) * 4 <= map.size(); ++i) {
        cgvw::StoreBE32(map.data() + i * 4, static_cast<std::uint32_t>(2 * i));
      }
      break;
    default:
      break;
  }
}

}  // namespace

std::int32_t CGVwDecodeTiled(const void* imagePtr, const void* /*reserved*/, void* result) {
  auto* slot = static_cast<platform::HGLOBAL*>(result);
  *slot = nullptr;
  const TCGVwImage* image = cgvw::DescriptorOf(imagePtr);
  if (image == nullptr) {
    return kCGVwUnsupported;
  }
  const std::uint64_t blockSize = TiledBlockSize(*image);
  const auto* mapChunk = static_cast<const TCGVwChunk*>(image->Extra);
  if (blockSize == 0 || mapChunk == nullptr) {
    return kCGVwUnsupported;  // Depth codes 4 to 7, or no map described
  }

  cgvw::DibBlock block(platform::GHND, blockSize);
  if (!block.allocated() || !block.Lock()) {
    return kCGVwNoMemory;
  }
  if ((image->Flags & cgvw_flags::kDepthMask) == cgvw_flags::kDepth15Bit) {
    return kCGVwUnsupported;  // no direct-colour tiles
  }
  if (const std::int32_t status = cgvw::ReadPalette(image, block.data() + cgvw::kInfoHeaderSize);
      status < 0) {
    return status;
  }
  cgvw::WriteInfoHeader(image, block.data());

  const platform::TempBuffer map = cgvw::ObtainBuffer(mapChunk->Size);
  if (!map) {
    return kCGVwNoMemory;
  }
  if (mapChunk->FileName != nullptr) {
    if (const std::int32_t status = cgvw::ReadInto(map, mapChunk->FileName, mapChunk->Offset);
        status < 0) {
      return status;
    }
  } else {
    GenerateMap(*image, map.span());
  }

  const platform::TempBuffer tiles = cgvw::ObtainBuffer(image->PixSize);
  if (!tiles) {
    return kCGVwNoMemory;
  }
  if (const std::int32_t status = cgvw::ReadInto(tiles, image->PixFile, image->PixOffset);
      status < 0) {
    return status;
  }

  // The renderer draws only 256-colour pictures, whose rows start at 1064.
  const std::span<std::uint8_t> rows = block.size() > kPixelRows256
                                           ? block.bytes().subspan(kPixelRows256)
                                           : std::span<std::uint8_t>{};
  CGVwRenderTiles(rows, map.span(), tiles.span(), image);
  *slot = block.HandOver();
  return kCGVwOk;
}
