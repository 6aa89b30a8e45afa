// Picture descriptors: the fixed-size, read-only records that tell a decoder
// everything it learns about a picture.
//
// The records themselves and the Flags bits are declared in C in
// cgvw/descriptors_c.h (one definition for both languages); this header
// adds the C++ spellings of the constants.
#pragma once

#include <cstdint>

#include "cgvw/descriptors_c.h"

// On 32-bit targets the records have the byte layout they are stored in.
static_assert(sizeof(void*) != 4 || sizeof(TCGVwImage) == 40, "TCGVwImage: 40 bytes");
static_assert(sizeof(void*) != 4 || sizeof(TCGVwChunk) == 12, "TCGVwChunk: 12 bytes");
static_assert(sizeof(void*) != 4 || sizeof(TCGVwLayers) == 6, "TCGVwLayers: 6 bytes");
static_assert(sizeof(void*) != 4 || sizeof(TCGVwLayer) == 12, "TCGVwLayer: 12 bytes");

// Flags bit fields.
namespace cgvw_flags {
inline constexpr std::uint32_t kKindMask = CGVW_KIND_MASK;
inline constexpr std::uint32_t kKindPlain = CGVW_KIND_PLAIN;
inline constexpr std::uint32_t kKindTiled = CGVW_KIND_TILED;
inline constexpr std::uint32_t kKindComposite = CGVW_KIND_COMPOSITE;

inline constexpr std::uint32_t kDepthMask = CGVW_DEPTH_MASK;
inline constexpr std::uint32_t kDepth4Bit = CGVW_DEPTH_4BIT;         // 16-colour palette
inline constexpr std::uint32_t kDepth8Bit128 = CGVW_DEPTH_8BIT_128;  // 128-colour palette
inline constexpr std::uint32_t kDepth8Bit256 = CGVW_DEPTH_8BIT_256;  // 256-colour palette
inline constexpr std::uint32_t kDepth15Bit = CGVW_DEPTH_15BIT;  // direct colour, produced as 24-bit

inline constexpr std::uint32_t kSwapOff = CGVW_SWAP_OFF;  // colour words stored little-endian

inline constexpr std::uint32_t kMapLayoutMask = CGVW_MAP_LAYOUT_MASK;
inline constexpr std::uint32_t kMap16 = CGVW_MAP_16;        // 16-bit entries, one 8 x 8 tile each
inline constexpr std::uint32_t kMap32 = CGVW_MAP_32;        // 32-bit entries, one 8 x 8 tile each
inline constexpr std::uint32_t kMapCells = CGVW_MAP_CELLS;  // 16 x 16 cells with selectors

inline constexpr std::uint32_t kLayerTransparent = CGVW_LAYER_TRANSPARENT;  // TCGVwLayer::Flags
}  // namespace cgvw_flags
