// 15-bit colour words: blue in bits 10-14, green in 5-9, red in 0-4, bit 15
// ignored. Each 5-bit channel v becomes v x 255 / 31 (integer division).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cgvw {

constexpr std::uint8_t Scale5To8(unsigned v) {
  return static_cast<std::uint8_t>(v * 255u / 31u);
}

inline constexpr std::array<std::uint8_t, 32> kScale5To8 = [] {
  std::array<std::uint8_t, 32> table{};
  for (unsigned v = 0; v < 32; ++v) {
    table[v] = Scale5To8(v);
  }
  return table;
}();

// Converts `count` colour words at `words` into `count` blue, green, red
// byte triples at `bgr` (3 x count bytes).
void ColourWordsToBgr(const std::uint8_t* words, std::size_t count, bool noSwap, std::uint8_t* bgr);

// Converts `count` colour words at `words` into `count` RGBQUAD entries at
// `quads` (4 x count bytes): blue, green, red and the reserved byte 2.
void ColourWordsToQuads(const std::uint8_t* words, std::size_t count, bool noSwap,
                        std::uint8_t* quads);

}  // namespace cgvw
