// The composite decoder: layers, each a picture of its own, decoded through
// the decoder table and painted in order onto a 24-bit canvas.
#include <cstring>

#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/dib_layout.h"
#include "dib_block.h"
#include "operation_support.h"

namespace {

constexpr std::uint32_t kLayerPixels = cgvw::kInfoHeaderSize + 256 * 4;  // 1064

void ShowStepError() {
  platform::MessageBoxA(nullptr, "Step err", nullptr, platform::MB_OKCANCEL);
}

// The canvas: bottom-up rows of blue, green, red pixels.
struct Canvas {
  std::uint8_t* pixels;
  std::uint32_t stride;
  std::uint32_t height;
  std::uint32_t columns;  // pixel positions a row holds, padding columns included

  std::uint8_t* Pixel(std::uint32_t x, std::uint32_t line) const {
    return pixels + std::size_t{height - 1 - line} * stride + std::size_t{3} * x;
  }
};

// A decoded layer block, locked while it is painted, freed on every path.
class LayerBlock {
 public:
  explicit LayerBlock(platform::HGLOBAL handle) : handle_(handle) {}
  ~LayerBlock() {
    if (bytes_ != nullptr) {
      platform::GlobalUnlock(handle_);
    }
    platform::GlobalFree(handle_);
  }
  LayerBlock(const LayerBlock&) = delete;
  LayerBlock& operator=(const LayerBlock&) = delete;

  bool Lock() {
    bytes_ = static_cast<const std::uint8_t*>(platform::GlobalLock(handle_));
    return bytes_ != nullptr;
  }
  std::span<const std::uint8_t> bytes() const { return {bytes_, platform::GlobalSize(handle_)}; }

 private:
  platform::HGLOBAL handle_;
  const std::uint8_t* bytes_ = nullptr;
};

// An 8-bit layer as its block lays it out: colour table at 40, bottom-up rows
// of the padded width from 1064.
struct IndexedLayer {
  const std::uint8_t* colours;
  const std::uint8_t* rows;
  std::uint32_t paddedWidth;
  std::uint32_t height;

  std::uint8_t Index(std::uint32_t column, std::uint32_t line) const {
    return rows[std::size_t{height - 1 - line} * paddedWidth + column];
  }
};

// Reads the layer's header. Only 8-bit blocks whose bytes hold the rows their
// header claims can be painted; anything else is left out of the picture.
bool AsIndexedLayer(std::span<const std::uint8_t> block, IndexedLayer* layer) {
  if (block.size() < cgvw::kInfoHeaderSize || cgvw::LoadLE16(block.data() + 14) != 8) {
    return false;
  }
  const auto width = static_cast<std::int32_t>(cgvw::LoadLE32(block.data() + 4));
  const auto height = static_cast<std::int32_t>(cgvw::LoadLE32(block.data() + 8));
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
    return false;
  }
  const std::uint32_t paddedWidth = cgvw::PaddedWidth(static_cast<std::uint16_t>(width));
  if (kLayerPixels + std::uint64_t{paddedWidth} * static_cast<std::uint32_t>(height) >
      block.size()) {
    return false;
  }
  *layer = {block.data() + cgvw::kInfoHeaderSize, block.data() + kLayerPixels, paddedWidth,
            static_cast<std::uint32_t>(height)};
  return true;
}

// Paints the layer's padded rectangle at (x0, y0), clipped to the canvas.
// Index 0 is left out where the layer is transparent.
void Paint(const Canvas& canvas, const IndexedLayer& layer, const TCGVwLayer& placement) {
  const bool transparent = (placement.Flags & cgvw_flags::kLayerTransparent) != 0;
  for (std::uint32_t r = 0; r < layer.height && placement.Y + r < canvas.height; ++r) {
    for (std::uint32_t j = 0; j < layer.paddedWidth && placement.X + j < canvas.columns; ++j) {
      const std::uint8_t k = layer.Index(j, r);
      if (transparent && k == 0) {
        continue;
      }
      std::uint8_t* out = canvas.Pixel(placement.X + j, placement.Y + r);
      std::memcpy(out, layer.colours + 4 * k, 3);  // blue, green, red
    }
  }
}

// Decodes one layer and paints it if it is an 8-bit picture.
std::int32_t DrawLayer(const Canvas& canvas, const TCGVwLayer& placement) {
  const TCGVwImage* picture = placement.Image;
  if (picture == nullptr) {
    return kCGVwUnsupported;
  }
  const TCGVwOperation decoder = DecoderTable[picture->Flags & cgvw_flags::kKindMask];
  if (decoder == nullptr) {
    return kCGVwUnsupported;
  }
  platform::HGLOBAL handle = nullptr;
  const std::int32_t status = decoder(&picture, nullptr, &handle);
  if (status != kCGVwOk) {
    return status;
  }
  if (handle == nullptr) {
    return kCGVwUnsupported;
  }
  LayerBlock block(handle);
  if (!block.Lock()) {
    return kCGVwNoMemory;
  }
  IndexedLayer layer{};
  if (AsIndexedLayer(block.bytes(), &layer)) {
    Paint(canvas, layer, placement);
  }
  return kCGVwOk;
}

// A composite may have composites as layers. One that contains itself,
// directly or further down, would recurse without end: nesting deeper than
// this is refused like a layer without a decoder.
constexpr int kMaxNesting = 16;
int g_nesting = 0;

class NestingLevel {
 public:
  NestingLevel() { ++g_nesting; }
  ~NestingLevel() { --g_nesting; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
};

}  // namespace

std::int32_t CGVwDecodeComposite(const void* imagePtr, const void* /*reserved*/, void* result) {
  auto* slot = static_cast<platform::HGLOBAL*>(result);
  *slot = nullptr;
  const TCGVwImage* image = cgvw::DescriptorOf(imagePtr);
  // Only a 24-bit canvas can be painted and written: the other depth codes
  // would claim a colour table that the canvas does not hold.
  if (image == nullptr || (image->Flags & cgvw_flags::kDepthMask) != cgvw_flags::kDepth15Bit) {
    return kCGVwUnsupported;
  }
  const auto* list = static_cast<const TCGVwLayers*>(image->Extra);
  if (list == nullptr || g_nesting >= kMaxNesting) {
    return kCGVwUnsupported;
  }
  const std::uint16_t count = list->Count;
  const TCGVwLayer* items = list->Items;
  if (count > 0 && items == nullptr) {
    return kCGVwUnsupported;
  }
  const auto layout = cgvw::DibLayoutFor(image->Flags, image->Width, image->Height);
  if (!cgvw::FitsBmpFile(*layout)) {
    return kCGVwNoMemory;
  }

  const NestingLevel level;
  cgvw::DibBlock canvasBlock(platform::GHND, layout->blockSize);
  if (!canvasBlock.allocated()) {
    return kCGVwNoMemory;
  }
  if (!canvasBlock.Lock()) {
    canvasBlock.Release();
    ShowStepError();
    return kCGVwNoMemory;
  }
  cgvw::WriteInfoHeader(image, canvasBlock.data());

  const Canvas canvas{canvasBlock.data() + layout->pixelOffset, layout->rowStride, image->Height,
                      layout->rowStride / 3};
  for (std::uint16_t i = 0; i < count; ++i) {
    if (const std::int32_t status = DrawLayer(canvas, items[i]); status != kCGVwOk) {
      canvasBlock.Release();
      ShowStepError();
      return status;
    }
  }
  *slot = canvasBlock.HandOver();
  return kCGVwOk;
}
