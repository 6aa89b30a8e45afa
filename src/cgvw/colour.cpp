#include "colour.h"

namespace cgvw {

namespace {
constexpr std::uint8_t kReservedByte = 2;
}  // namespace

void ColourWordsToBgr(const std::uint8_t* words, std::size_t count, bool noSwap,
                      std::uint8_t* bgr) {
  for (std::size_t j = 0; j < count; ++j) {
    StoreBgr(bgr + 3 * j, LoadColourWord(words + 2 * j, noSwap));
  }
}

void ColourWordsToQuads(const std::uint8_t* words, std::size_t count, bool noSwap,
                        std::uint8_t* quads) {
  for (std::size_t i = 0; i < count; ++i) {
    StoreBgr(quads + 4 * i, LoadColourWord(words + 2 * i, noSwap));
    quads[4 * i + 3] = kReservedByte;
  }
}

}  // namespace cgvw
