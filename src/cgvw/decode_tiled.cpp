// The tiled image decoder: a picture stored as 8 x 8 tiles plus a tile map,
// drawn into an 8-bit DIB block.
#include "cgvw/bytes.h"
#include "cgvw/core.h"

namespace cgvw::core {
namespace {

// Block size for a Depth code. Rows are whole 8-bit rows for every code;
// direct colour would take three bytes a pixel (and is refused once the
// block is held).
std::uint64_t TiledBlockSize(const DepthInfo& depth, const TCGVwImage& image) {
  const std::uint64_t area = std::uint64_t{image.Height} * RowStride8(image.Width);
  return depth.paletteColours == 0 ? area * 3 + kInfoHeaderSize : area + depth.PixelOffset();
}

// Without a map file the map is generated for 256-colour pictures whose
// layout has a rule for it: entry i shows tile i + the layout's first
// tile, in reading order, as far as the buffer holds entries. Other
// pictures keep the all-zero buffer.
void GenerateMap(const TCGVwImage& image, std::span<std::uint8_t> map) {
  const MapLayoutInfo* layout = MapLayoutOf(image.Flags);
  if ((image.Flags & cgvw_flags::kDepthMask) != cgvw_flags::kDepth8Bit256 || layout == nullptr ||
      !layout->generated) {
    return;
  }
  const std::uint64_t entries = std::uint64_t{image.Width} * image.Height / 64;
  const std::size_t size = layout->entryBytes;
  for (std::uint64_t i = 0; i < entries && (i + 1) * size <= map.size(); ++i) {
    const std::uint64_t entry = 2 * (i + layout->firstTile);  // the tile number sits above bit 0
    if (size == 2) {
      StoreBE16(map.data() + i * size, static_cast<std::uint16_t>(entry));
    } else {
      StoreBE32(map.data() + i * size, static_cast<std::uint32_t>(entry));
    }
  }
}

// The tile map: read from its file, or generated where the chunk names
// none.
Status ObtainMap(Job& job, const TCGVwImage& image, const TCGVwChunk& chunk,
                 platform::TempBuffer* map) {
  if (chunk.FileName != nullptr) {
    return ReadNewBuffer(job, chunk.FileName, chunk.Offset, chunk.Size, map);
  }
  *map = ObtainBuffer(chunk.Size);
  if (!*map) {
    return Status::NoMemory;
  }
  GenerateMap(image, map->span());
  return Status::Ok;
}

}  // namespace

Status PlanTiled(const Job& job, const TCGVwImage& image, Plan* plan) {
  // Extra is a map chunk only in a tiled descriptor; in another kind's it
  // is a layer list of fewer bytes, or nothing.
  if (!IsKind(image, cgvw_flags::kKindTiled)) {
    return Status::Unsupported;
  }
  const DepthInfo* depth = DepthOf(image.Flags);
  if (depth == nullptr) {
    return Status::Unsupported;  // Depth codes 4 to 7
  }
  const auto* mapChunk = static_cast<const TCGVwChunk*>(image.Extra);
  if (mapChunk == nullptr) {
    return Status::BadDescriptor;  // no map described
  }
  // No direct-colour tiles: refused once the block is held.
  *plan = {*DibLayoutFor(image.Flags, image.Width, image.Height), TiledBlockSize(*depth, image),
           depth->paletteColours == 0 ? Status::Unsupported : Status::Ok};
  return CheckLimits(job, image, plan->blockSize,
                     {{"Extra->Size", mapChunk->Size}, {"PixSize", image.PixSize}});
}

Status DecodeTiled(Job& job, const TCGVwImage& image, Block* out) {
  Plan plan;
  if (const Status status = PlanTiled(job, image, &plan); status != Status::Ok) {
    return status;
  }
  const DepthInfo* depth = DepthOf(image.Flags);
  const auto* mapChunk = static_cast<const TCGVwChunk*>(image.Extra);

  // Where the renderer writes every byte of a 256-colour picture's rows,
  // and the palette and header take the rest, the block need not be
  // cleared first. Every other picture relies on the block starting at 0.
  const MapLayoutInfo* layout = MapLayoutOf(image.Flags);
  const bool drawnWhole =
      depth->code == cgvw_flags::kDepth8Bit256 && layout != nullptr && layout->drawsEveryByte;
  HeldBlock block(job.store);
  if (const Status status = block.Obtain(plan.blockSize, !drawnWhole); status != Status::Ok) {
    return status;
  }
  if (plan.onceHeld != Status::Ok) {
    return plan.onceHeld;
  }
  if (const Status status = ReadPalette(job, image, block.data() + kInfoHeaderSize);
      status != Status::Ok) {
    return status;
  }
  WriteInfoHeader(block.data(), image);

  platform::TempBuffer map;
  if (const Status status = ObtainMap(job, image, *mapChunk, &map); status != Status::Ok) {
    return status;
  }

  platform::TempBuffer tiles;
  if (const Status status =
          ReadNewBuffer(job, image.PixFile, image.PixOffset, image.PixSize, &tiles);
      status != Status::Ok) {
    return status;
  }

  // Only 256-colour pictures are drawn; their rows start at 1064.
  const std::uint32_t rowsAt = kPixelOffset8Bit;
  RenderTiles(
      block.bytes().size() > rowsAt ? block.bytes().subspan(rowsAt) : std::span<std::uint8_t>{},
      map.span(), tiles.span(), image);
  *out = block.HandOver();
  return Status::Ok;
}

}  // namespace cgvw::core
