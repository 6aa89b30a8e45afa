// The decoder dispatch and the two operation tables of the layer.
#include "cgvw/cgvw.h"

const std::array<TCGVwOperation, kDecoderSlots> DecoderTable = {
    CGVwDecodePlain,      // 0
    CGVwDecodeTiled,      // 1
    nullptr,              // 2
    CGVwDecodeComposite,  // 3
};

const std::array<TCGVwOperation, kServiceSlots> ServiceTable = {
    CGVwReadFile,        // 0
    nullptr,             // 1
    CGVwGetPalette,      // 2
    nullptr,             // 3
    nullptr,             // 4
    nullptr,             // 5
    CGVwMakeInfoHeader,  // 6
    nullptr,             // 7
};

namespace {

// The backdrop composite: a 24-bit canvas the size of the backdrop, the
// backdrop drawn at (0, 0) with every colour and the picture over it at
// (PosX, PosY) with colour index 0 transparent. Filled on every use.
TCGVwLayer g_backdropLayers[2] = {
    {nullptr, 0, 0, 0},
    {nullptr, cgvw_flags::kLayerTransparent, 0, 0},
};
TCGVwLayers g_backdropLayerList = {2, g_backdropLayers};
TCGVwImage g_backdropComposite = {cgvw_flags::kKindComposite | cgvw_flags::kDepth15Bit,
                                  0,
                                  0,
                                  0,
                                  0,
                                  nullptr,
                                  nullptr,
                                  0,
                                  nullptr,
                                  0,
                                  0,
                                  &g_backdropLayerList};

const TCGVwImage* FillBackdropComposite(const TCGVwImage* picture) {
  const TCGVwImage* backdrop = picture->Backdrop;
  g_backdropComposite.Width = backdrop->Width;
  g_backdropComposite.Height = backdrop->Height;
  g_backdropLayers[0].Image = backdrop;
  g_backdropLayers[1].Image = picture;
  g_backdropLayers[1].X = picture->PosX;
  g_backdropLayers[1].Y = picture->PosY;
  return &g_backdropComposite;
}

}  // namespace

std::int32_t CGVwDecode(const void* image, const void* backdropFlag, void* result) {
  auto* slot = static_cast<platform::HGLOBAL*>(result);
  const TCGVwImage* picture = *static_cast<const TCGVwImage* const*>(image);
  if (picture == nullptr) {
    *slot = nullptr;
    return kCGVwUnsupported;
  }
  const auto* flag = static_cast<const std::uint32_t*>(backdropFlag);
  const bool withBackdrop = flag != nullptr && *flag != 0 && picture->Backdrop != nullptr;
  const TCGVwImage* chosen = withBackdrop ? FillBackdropComposite(picture) : picture;

  const TCGVwOperation decoder = DecoderTable[chosen->Flags & cgvw_flags::kKindMask];
  if (decoder == nullptr) {
    *slot = nullptr;
    return kCGVwUnsupported;
  }
  const TCGVwImage* local = chosen;
  return decoder(&local, nullptr, slot);
}
