// The decoders by Kind, and the composite of the backdrop option.
#include <iterator>
#include <new>

#include "cgvw/core.h"

namespace cgvw::core {
namespace {

Status DecodePlainAt(Job& job, const TCGVwImage& image, int /*nesting*/, Block* out) {
  return DecodePlain(job, image, out);
}
Status DecodeTiledAt(Job& job, const TCGVwImage& image, int /*nesting*/, Block* out) {
  return DecodeTiled(job, image, out);
}

Status PlanPlainAt(const Job& job, const TCGVwImage& image, int /*nesting*/, Plan* plan) {
  return PlanPlain(job, image, plan);
}
Status PlanTiledAt(const Job& job, const TCGVwImage& image, int /*nesting*/, Plan* plan) {
  return PlanTiled(job, image, plan);
}

// Kinds 0 (plain), 1 (tiled) and 3 (composite); 2 and 4 to 31 have none.
using KindDecoder = Status (*)(Job&, const TCGVwImage&, int, Block*);
constexpr KindDecoder kByKind[] = {DecodePlainAt, DecodeTiledAt, nullptr, DecodeComposite};
using KindPlan = Status (*)(const Job&, const TCGVwImage&, int, Plan*);
constexpr KindPlan kPlanByKind[] = {PlanPlainAt, PlanTiledAt, nullptr, PlanComposite};
static_assert(std::size(kPlanByKind) == std::size(kByKind));

}  // namespace

Status Decode(Job& job, const TCGVwImage& image, int nesting, Block* out) noexcept {
  *out = {};
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  const KindDecoder decoder = kind < std::size(kByKind) ? kByKind[kind] : nullptr;
  if (decoder == nullptr) {
    return Status::Unsupported;
  }
  try {
    return decoder(job, image, nesting, out);
  } catch (...) {
    // Only the standard library throws here, and only for want of memory
    // (a file name, a directory listing); whatever was held is released.
    return Status::NoMemory;
  }
}

Status PlanOf(const Job& job, const TCGVwImage& image, int nesting, Plan* plan) {
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  const KindPlan planner = kind < std::size(kPlanByKind) ? kPlanByKind[kind] : nullptr;
  return planner == nullptr ? Status::Unsupported : planner(job, image, nesting, plan);
}

BackdropComposite::BackdropComposite(const TCGVwImage& picture)
    : layers{{picture.Backdrop, 0, 0, 0},
             {&picture, cgvw_flags::kLayerTransparent, picture.PosX, picture.PosY}},
      list{2, layers},
      image{cgvw_flags::kKindComposite | cgvw_flags::kDepth15Bit,
            picture.Backdrop->Width,
            picture.Backdrop->Height,
            0,
            0,
            nullptr,
            nullptr,
            0,
            nullptr,
            0,
            0,
            &list} {}

}  // namespace cgvw::core
