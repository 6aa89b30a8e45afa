// Fuzzes CGVwRenderTiles directly: any Flags, Width and Height, a map and
// tile data of any length in buffers of exactly that length, and a
// destination that may be too small. Every pixel is compared with a plain
// per-pixel reading of the map layouts, and nothing outside the picture's
// rows may change.
#include <cstdint>
#include <memory>
#include <vector>

#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/layout.h"
#include "fuzz_support.h"

namespace {

using fuzzing::Input;

constexpr std::uint16_t kMaxSide = 1024;
constexpr std::uint32_t kMaxMapSize = 64 * 1024;

// A heap copy of exactly the given bytes, so that any read past them is
// caught.
struct ExactBuffer {
  explicit ExactBuffer(std::span<const std::uint8_t> bytes)
      : data(new std::uint8_t[bytes.size()]), size(bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), data.get());
  }
  std::span<const std::uint8_t> span() const { return {data.get(), size}; }
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size;
};

// The tile byte at (column, row) of tile t, or -1 if the tile is not wholly
// inside the data.
int TileByte(std::span<const std::uint8_t> tiles, std::uint64_t t, unsigned column, unsigned row) {
  if ((t + 1) * 64 > tiles.size()) {
    return -1;
  }
  return tiles[t * 64 + row * 8 + column];
}

// The pixel at (x, y) from the top, as the map says; -1 where the
// destination keeps its byte, -2 where it is cleared.
int Expected(std::uint32_t flags, std::uint32_t width, std::uint32_t height,
             std::span<const std::uint8_t> map, std::span<const std::uint8_t> tiles,
             std::uint32_t x, std::uint32_t y) {
  const std::uint32_t layout = flags & 0xE00;
  if (layout == 0x200 || layout == 0x400) {
    const std::uint32_t columns = width / 8;
    if (x >= columns * 8 || y >= height / 8 * 8) {
      return -2;
    }
    const std::size_t entryBytes = layout == 0x200 ? 2 : 4;
    const std::uint64_t at = (std::uint64_t{y / 8} * columns + x / 8) * entryBytes;
    if (at + entryBytes > map.size()) {
      return -2;
    }
    const std::uint32_t entry =
        entryBytes == 2 ? cgvw::LoadBE16(map.data() + at) : cgvw::LoadBE32(map.data() + at);
    const int value = TileByte(tiles, entry >> 1, x % 8, y % 8);
    return value < 0 ? -2 : value;
  }
  // 0xC00: 16 x 16 cells, map rows 64 bytes apart; the rest is kept.
  if (x >= width / 16 * 16 || y >= height / 16 * 16) {
    return -1;
  }
  const std::uint64_t at = std::uint64_t{y / 16} * 64 + (x / 16) * 2;
  if (at + 2 > map.size()) {
    return -1;
  }
  const std::uint16_t entry = cgvw::LoadBE16(map.data() + at);
  const std::uint64_t first = std::uint64_t{(entry & 0x3FFu) >> 1} * 4;
  const unsigned selector = entry >> 10;
  if ((first + 4) * 64 > tiles.size()) {
    return -1;
  }
  const unsigned quarter = (y % 16 >= 8 ? 2 : 0) + (x % 16 >= 8 ? 1 : 0);
  switch (selector) {
    case 0:
      return TileByte(tiles, first + quarter, x % 8, y % 8);
    case 1: {
      constexpr unsigned kMirrored[4] = {1, 0, 3, 2};
      return TileByte(tiles, first + kMirrored[quarter], 7 - x % 8, y % 8);
    }
    case 3: {
      constexpr unsigned kFlipped[4] = {2, 3, 0, 1};
      return TileByte(tiles, first + kFlipped[quarter], x % 8, 7 - y % 8);
    }
    default:
      return -1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::uint32_t flags = input.U32();
  const std::uint32_t width = input.Side(kMaxSide);
  const std::uint32_t height = input.Side(kMaxSide);
  const std::uint8_t destChoice = input.U8();
  const std::uint8_t fill = input.U8();
  const ExactBuffer map(input.Bytes(input.U32() % (kMaxMapSize + 1)));
  const ExactBuffer tiles(input.Rest());

  // The destination: the picture's rows exactly, a few bytes short, or with
  // bytes to spare behind them.
  const std::size_t stride = (width + 3) & ~3u;
  const std::size_t needed = stride * height;
  std::size_t destSize = needed;
  if (destChoice % 4 == 1) {
    destSize = needed - std::min<std::size_t>(needed, 1 + destChoice / 4);
  } else if (destChoice % 4 == 2) {
    destSize = needed + 1 + destChoice / 4;
  }
  std::vector<std::uint8_t> before(destSize);
  for (std::size_t i = 0; i < destSize; ++i) {
    before[i] = static_cast<std::uint8_t>(fill + i * 31);
  }
  std::vector<std::uint8_t> dest = before;

  TCGVwImage image{flags,
                   static_cast<std::uint16_t>(width),
                   static_cast<std::uint16_t>(height),
                   0,
                   0,
                   nullptr,
                   nullptr,
                   0,
                   nullptr,
                   0,
                   0,
                   nullptr};
  CGVwRenderTiles(dest, map.span(), tiles.span(), &image);

  const std::uint32_t layout = flags & 0xE00;
  const bool drawn = (flags & 0xE0) == 0x40 && destSize >= needed && needed > 0 &&
                     (layout == 0x200 || layout == 0x400 || layout == 0xC00);
  if (!drawn) {
    FUZZ_CHECK(dest == before);
    return 0;
  }
  for (std::size_t i = needed; i < destSize; ++i) {
    FUZZ_CHECK(dest[i] == before[i]);
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::size_t row = (height - 1 - y) * stride;
    for (std::uint32_t x = 0; x < stride; ++x) {
      const int want = Expected(flags, width, height, map.span(), tiles.span(), x, y);
      const std::uint8_t got = dest[row + x];
      if (want == -1) {
        FUZZ_CHECK(got == before[row + x]);
      } else if (want == -2) {
        FUZZ_CHECK(got == 0);
      } else {
        FUZZ_CHECK(got == want);
      }
    }
  }
  return 0;
}
