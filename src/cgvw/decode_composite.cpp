// The composite decoder: layers, each a picture of its own, decoded by their
// own kind and painted in order onto a 24-bit canvas.
#include <cstring>

#include "cgvw/core.h"

namespace cgvw::core {
namespace {

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

// Paints the layer's padded rectangle at (X, Y), clipped to the canvas.
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

// True for the pictures whose blocks hold 8-bit rows: plain and tiled ones
// of the 8-bit depths. Anything else is decoded and left out.
bool PaintsAsIndexed(const TCGVwImage& picture) {
  const std::uint32_t kind = picture.Flags & cgvw_flags::kKindMask;
  const DepthInfo* depth = DepthOf(picture.Flags);
  return (kind == cgvw_flags::kKindPlain || kind == cgvw_flags::kKindTiled) && depth != nullptr &&
         depth->bitCount == 8;
}

// Decodes one layer and paints it if it is an 8-bit picture.
Status DrawLayer(Job& job, const Canvas& canvas, const TCGVwLayer& placement, int nesting) {
  if (placement.Image == nullptr) {
    return Status::BadDescriptor;
  }
  const TCGVwImage& picture = *placement.Image;
  Block decoded;
  if (const Status status = Decode(job, picture, nesting, &decoded); status != Status::Ok) {
    return status;
  }
  const std::span<const std::uint8_t> bytes = decoded.bytes;
  if (PaintsAsIndexed(picture)) {
    const std::uint32_t paddedWidth = PaddedWidth(picture.Width);
    // Every decoder makes its block at least this large.
    if (kPixelOffset8Bit + std::uint64_t{paddedWidth} * picture.Height <= bytes.size()) {
      Paint(canvas,
            {bytes.data() + kInfoHeaderSize, bytes.data() + kPixelOffset8Bit, paddedWidth,
             picture.Height},
            placement);
    }
  }
  job.store.Release(&decoded);
  return Status::Ok;
}

// Tells the caller's hook, if any, that the composite fails.
void ReportFailure(const Job& job, Status status, bool canvas) {
  if (job.options.onCompositeFailure != nullptr) {
    job.options.onCompositeFailure(job.options.context, status, canvas);
  }
}

}  // namespace

Status PlanComposite(const Job& job, const TCGVwImage& image, int nesting, Plan* plan) {
  // Extra is a layer list only in a composite's descriptor. Only a 24-bit
  // canvas can be painted and written: the other depth codes would claim a
  // colour table that the canvas does not hold.
  if (!IsKind(image, cgvw_flags::kKindComposite) ||
      (image.Flags & cgvw_flags::kDepthMask) != cgvw_flags::kDepth15Bit) {
    return Status::Unsupported;
  }
  const auto* list = static_cast<const TCGVwLayers*>(image.Extra);
  if (list == nullptr) {
    return Status::BadDescriptor;
  }
  // A composite may have composites as layers; one that contains itself
  // would recurse without end.
  if (nesting >= job.options.maxNesting) {
    return Status::TooDeep;
  }
  if (list->Count > 0 && list->Items == nullptr) {
    return Status::BadDescriptor;
  }
  const TDibLayout layout = *DibLayoutFor(image.Flags, image.Width, image.Height);
  if (!FitsBmpFile(layout)) {
    return Status::TooLarge;
  }
  *plan = {layout, layout.blockSize, Status::Ok};
  return CheckLimits(job, image, layout.blockSize, {});
}

Status DecodeComposite(Job& job, const TCGVwImage& image, int nesting, Block* out) {
  Plan plan;
  if (const Status status = PlanComposite(job, image, nesting, &plan); status != Status::Ok) {
    return status;
  }
  const TDibLayout& layout = plan.dib;
  const auto* list = static_cast<const TCGVwLayers*>(image.Extra);
  const std::uint16_t count = list->Count;
  const TCGVwLayer* items = list->Items;
  HeldBlock canvasBlock(job.store);
  if (const Status status = canvasBlock.Obtain(layout.blockSize, true); status != Status::Ok) {
    ReportFailure(job, status, true);
    return status;
  }
  WriteInfoHeader(canvasBlock.data(), image);
  const Canvas canvas{canvasBlock.data() + layout.pixelOffset, layout.rowStride, image.Height,
                      layout.rowStride / 3};
  for (std::uint16_t i = 0; i < count; ++i) {
    if (const Status status = DrawLayer(job, canvas, items[i], nesting + 1); status != Status::Ok) {
      canvasBlock.Release();  // with what was painted so far
      ReportFailure(job, status, false);
      return status;
    }
  }
  *out = canvasBlock.HandOver();
  return Status::Ok;
}

}  // namespace cgvw::core
