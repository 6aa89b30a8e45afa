// Palette conversion: 15-bit colour words to RGBQUAD entries.
#include "cgvw/cgvw.h"
#include "colour.h"
#include "operation_support.h"

namespace {

void ConvertWords(const std::uint8_t* words, std::int32_t count, bool noSwap, std::uint8_t* dest) {
  if (count > 0) {
    cgvw::ColourWordsToQuads(words, static_cast<std::size_t>(count), noSwap, dest);
  }
}

// Colours of the palette for a Depth code; 0 for codes without a palette.
std::int32_t ColourCount(std::uint32_t flags) {
  switch (flags & cgvw_flags::kDepthMask) {
    case cgvw_flags::kDepth4Bit:
      return 16;
    case cgvw_flags::kDepth8Bit128:
      return 128;
    case cgvw_flags::kDepth8Bit256:
      return 256;
    default:
      return 0;
  }
}

std::int32_t PaletteFromFile(const TArgs_CGVwGetPalette00& args, std::int32_t* count) {
  const auto* image = static_cast<const TCGVwImage*>(args.Source);
  if (image == nullptr || image->PalFile == nullptr) {
    return kCGVwUnsupported;
  }
  const std::int32_t colours = ColourCount(image->Flags);
  if (colours == 0) {
    return kCGVwUnsupported;
  }
  // Zero-filled: colours missing from a short palette file come out black.
  const platform::TempBuffer words = cgvw::ObtainBuffer(static_cast<std::uint32_t>(colours) * 2);
  if (!words) {
    return kCGVwNoMemory;
  }
  if (const std::int32_t status = cgvw::ReadInto(words, image->PalFile, image->PalOffset);
      status < 0) {
    return status;
  }
  ConvertWords(words.data(), colours, (image->Flags & cgvw_flags::kSwapOff) != 0, args.Dest);
  *count = colours;
  return kCGVwOk;
}

std::int32_t PaletteFromMemory(const TArgs_CGVwGetPalette00& args, const TCGVwPalInfo* info,
                               std::int32_t* count) {
  if (info == nullptr) {
    return kCGVwUnsupported;
  }
  if (info->Count > 0) {
    ConvertWords(static_cast<const std::uint8_t*>(args.Source), info->Count, info->NoSwap != 0,
                 args.Dest);
    *count = info->Count;
  }
  return kCGVwOk;
}

}  // namespace

std::int32_t CGVwGetPalette(const void* argsPtr, const void* info, void* result) {
  auto* count = static_cast<std::int32_t*>(result);
  *count = 0;
  const auto& args = *static_cast<const TArgs_CGVwGetPalette00*>(argsPtr);
  switch (args.Mode) {
    case 0:
      return PaletteFromFile(args, count);
    case 1:
      return PaletteFromMemory(args, static_cast<const TCGVwPalInfo*>(info), count);
    default:
      return kCGVwUnsupported;
  }
}
