#include "cgvw/colour.h"

#include <bit>
#include <cstring>

#include "cgvw/bytes.h"

namespace cgvw {

namespace {

constexpr std::uint8_t kReservedByte = 2;

// Writes the word's colour as the three bytes blue, green, red.
void StoreBgr(std::uint8_t* dest, std::uint16_t word) {
  dest[0] = kScale5To8[(word >> 10) & 31];
  dest[1] = kScale5To8[(word >> 5) & 31];
  dest[2] = kScale5To8[word & 31];
}

// The bytes b0, b1, b2, b3 as a value that memcpy stores in that order.
constexpr std::uint32_t MemoryOrder(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                                    std::uint8_t b3 = 0) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::uint32_t{b0} | std::uint32_t{b1} << 8 | std::uint32_t{b2} << 16 |
           std::uint32_t{b3} << 24;
  } else {
    return std::uint32_t{b0} << 24 | std::uint32_t{b1} << 16 | std::uint32_t{b2} << 8 |
           std::uint32_t{b3};
  }
}

// Every colour word (bit 15 dropped) as its bytes blue, green, red and a
// fourth byte 0.
constexpr std::array<std::uint32_t, 32768> kBgrOfWord = [] {
  std::array<std::uint32_t, 32768> table{};
  for (unsigned w = 0; w < table.size(); ++w) {
    table[w] =
        MemoryOrder(kScale5To8[(w >> 10) & 31], kScale5To8[(w >> 5) & 31], kScale5To8[w & 31]);
  }
  return table;
}();

// Each pixel is stored as four bytes, the fourth of which the next pixel
// overwrites; the last pixel is stored as its three bytes alone.
template <std::uint16_t (*Load)(const std::uint8_t*)>
void WordsToBgr(const std::uint8_t* words, std::size_t count, std::uint8_t* bgr) {
  for (std::size_t j = 0; j + 1 < count; ++j) {
    const std::uint32_t pixel = kBgrOfWord[Load(words + 2 * j) & 0x7FFFu];
    std::memcpy(bgr + 3 * j, &pixel, sizeof pixel);
  }
  StoreBgr(bgr + 3 * (count - 1), Load(words + 2 * (count - 1)));
}

// RGBQUAD entries: blue, green, red, then the reserved byte.
template <std::uint16_t (*Load)(const std::uint8_t*)>
void WordsToQuads(const std::uint8_t* words, std::size_t count, std::uint8_t* quads) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t w = Load(words + 2 * i);
    const std::uint32_t quad = MemoryOrder(kScale5To8[(w >> 10) & 31], kScale5To8[(w >> 5) & 31],
                                           kScale5To8[w & 31], kReservedByte);
    std::memcpy(quads + 4 * i, &quad, sizeof quad);
  }
}

}  // namespace

void ColourWordsToBgr(const std::uint8_t* words, std::size_t count, bool noSwap,
                      std::uint8_t* bgr) {
  if (count == 0) {
    return;
  }
  if (noSwap) {
    WordsToBgr<LoadLE16>(words, count, bgr);
  } else {
    WordsToBgr<LoadBE16>(words, count, bgr);
  }
}

void ColourWordsToQuads(const std::uint8_t* words, std::size_t count, bool noSwap,
                        std::uint8_t* quads) {
  if (noSwap) {
    WordsToQuads<LoadLE16>(words, count, quads);
  } else {
    WordsToQuads<LoadBE16>(words, count, quads);
  }
}

}  // namespace cgvw
