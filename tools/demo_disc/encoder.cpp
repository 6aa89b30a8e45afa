// Encodes the demo pictures into source files with the catalogue's names and
// byte ranges. Everything between and around the ranges that the converter
// reads is junk, and so are the palette entries and tile slots that a picture
// does not use: a converter that reads the wrong bytes gets visible garbage.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "demo_disc/demo_disc.h"

namespace demo {
namespace {

// Deterministic junk: a SplitMix64 sequence seeded from the row and the
// purpose of the bytes.
class Junk {
 public:
  Junk(int row, std::uint64_t purpose)
      : state_(static_cast<std::uint64_t>(row) * 0x9E3779B97F4A7C15ULL ^ purpose) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

  void Fill(std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      bytes[i] = Byte();
    }
  }

 private:
  std::uint64_t state_;
};

constexpr std::uint64_t kHeaderJunk = 0x4845414445520001ULL;
constexpr std::uint64_t kPaletteJunk = 0x50414C4554540002ULL;
constexpr std::uint64_t kTileJunk = 0x54494C4553000003ULL;

constexpr int kPaletteEntries = 256;
constexpr std::size_t kPaletteBytes = kPaletteEntries * 2;
constexpr int kTile = 8;
constexpr std::size_t kTileBytes = kTile * kTile;

void PutBigEndian16(std::vector<std::uint8_t>& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

// The 5-bit channel value whose widening v * 255 / 31 gives `channel`.
unsigned Narrow(std::uint8_t channel) {
  const unsigned v = (channel * 31u + 127u) / 255u;
  if (v * 255u / 31u != channel) {
    throw std::logic_error("colour channel " + std::to_string(channel) +
                           " has no exact 15-bit form");
  }
  return v;
}

// A picture as palette indices plus the 256 colour words of its palette.
// Colour k (in order of first appearance) gets palette index 5 + 29 * row +
// 41 * k (mod 256), so the colours of a picture are scattered over the whole
// palette, high entries included. Every other used entry has the unused bit
// 15 set. The other entries hold junk.
struct Indexed {
  std::vector<std::uint8_t> pixels;  // top row first
  std::array<std::uint16_t, kPaletteEntries> words{};
};

Indexed ToIndexed(int row, const Picture& picture) {
  Indexed out;
  Junk junk(row, kPaletteJunk);
  for (std::uint16_t& word : out.words) {
    word = static_cast<std::uint16_t>(junk.Next() >> 48);
  }
  std::array<bool, kPaletteEntries> used{};
  std::map<std::uint32_t, std::uint8_t> indexOf;
  out.pixels.reserve(static_cast<std::size_t>(picture.width) * picture.height);
  for (std::size_t p = 0; p < picture.rgb.size(); p += 3) {
    const std::uint32_t key = (std::uint32_t{picture.rgb[p]} << 16) |
                              (std::uint32_t{picture.rgb[p + 1]} << 8) | picture.rgb[p + 2];
    auto found = indexOf.find(key);
    if (found == indexOf.end()) {
      const int k = static_cast<int>(indexOf.size());
      const auto index = static_cast<std::uint8_t>((5 + 29 * row + 41 * k) % kPaletteEntries);
      if (used[index]) {
        throw std::logic_error("picture " + std::to_string(row) + " has more than 256 colours");
      }
      used[index] = true;
      const unsigned word = (Narrow(picture.rgb[p + 2]) << 10) | (Narrow(picture.rgb[p + 1]) << 5) |
                            Narrow(picture.rgb[p]) | (k % 2 == 1 ? 0x8000u : 0u);
      out.words[index] = static_cast<std::uint16_t>(word);
      found = indexOf.emplace(key, index).first;
    }
    out.pixels.push_back(found->second);
  }
  return out;
}

void PutPalette(std::vector<std::uint8_t>& bytes, std::size_t at, const Indexed& indexed) {
  for (int i = 0; i < kPaletteEntries; ++i) {
    PutBigEndian16(bytes, at + static_cast<std::size_t>(i) * 2, indexed.words[i]);
  }
}

std::string Cased(const char* name, bool upperCase) {
  std::string text = name;
  if (upperCase) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  }
  return text;
}

void Require(bool condition, int row, const char* what) {
  if (!condition) {
    throw std::logic_error("catalogue row " + std::to_string(row) + ": " + what);
  }
}

// A background file: junk, the palette at PalOffset, junk, the tiles at
// PixOffset, 8 bytes of junk, the tile map and trailing junk.
//
// The picture is cut into 8 x 8 cells; equal cells share one tile. The D
// distinct tiles, in order of first appearance, go to the slots N - 1 -
// k * N / D of the N slots that PixSize holds: spread over the whole range,
// the first one in the highest slot. The other slots hold junk. About one
// map entry in three has the ignored bit 0 set.
DiscFile EncodeBackground(int row, const TCGVwImage& image, bool upperCase) {
  const auto* map = static_cast<const TCGVwChunk*>(image.Extra);
  Require(map != nullptr && map->FileName != nullptr, row, "no tile map range");
  Require(std::strcmp(image.PalFile, image.PixFile) == 0 &&
              std::strcmp(image.PixFile, map->FileName) == 0,
          row, "palette, tiles and map are not in one file");
  Require(image.Width % kTile == 0 && image.Height % kTile == 0, row, "size not in whole tiles");
  Require(image.PixSize % kTileBytes == 0 && image.PixSize > 0, row, "tile bytes not whole tiles");
  const std::size_t columns = image.Width / kTile;
  const std::size_t rows = image.Height / kTile;
  Require(map->Size == columns * rows * 2, row, "map size is not one entry per cell");
  Require(image.PalOffset + kPaletteBytes <= image.PixOffset &&
              image.PixOffset + image.PixSize <= map->Offset,
          row, "ranges overlap or are out of order");

  const Picture picture = SourcePicture(row);
  const Indexed indexed = ToIndexed(row, picture);

  std::map<std::array<std::uint8_t, kTileBytes>, std::size_t> tileIds;
  std::vector<std::array<std::uint8_t, kTileBytes>> tiles;
  std::vector<std::size_t> cellTile(columns * rows);
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < columns; ++j) {
      std::array<std::uint8_t, kTileBytes> tile{};
      for (std::size_t y = 0; y < kTile; ++y) {
        for (std::size_t x = 0; x < kTile; ++x) {
          tile[y * kTile + x] = indexed.pixels[(i * kTile + y) * image.Width + j * kTile + x];
        }
      }
      const auto [it, added] = tileIds.emplace(tile, tiles.size());
      if (added) {
        tiles.push_back(tile);
      }
      cellTile[i * columns + j] = it->second;
    }
  }
  const std::size_t slots = image.PixSize / kTileBytes;
  const std::size_t distinct = tiles.size();
  if (distinct > slots) {
    throw std::logic_error("picture " + std::to_string(row) + " needs " + std::to_string(distinct) +
                           " tiles; its file holds " + std::to_string(slots));
  }
  const auto slotOf = [&](std::size_t k) { return slots - 1 - k * slots / distinct; };

  const std::size_t mapEnd = map->Offset + map->Size;
  const std::size_t trailing = 16 + static_cast<std::size_t>(row % 32);
  DiscFile file{Cased(image.PixFile, upperCase), std::vector<std::uint8_t>(mapEnd + trailing)};
  std::vector<std::uint8_t>& bytes = file.bytes;
  Junk(row, kHeaderJunk).Fill(bytes, 0, bytes.size());
  PutPalette(bytes, image.PalOffset, indexed);
  Junk(row, kTileJunk).Fill(bytes, image.PixOffset, image.PixOffset + image.PixSize);
  for (std::size_t k = 0; k < distinct; ++k) {
    std::copy(
        tiles[k].begin(), tiles[k].end(),
        bytes.begin() + static_cast<std::ptrdiff_t>(image.PixOffset + slotOf(k) * kTileBytes));
  }
  for (std::size_t cell = 0; cell < cellTile.size(); ++cell) {
    const unsigned ignoredBit = (cell * 7 + static_cast<std::size_t>(row)) % 3 == 0 ? 1u : 0u;
    const auto entry = static_cast<unsigned>(slotOf(cellTile[cell]) << 1) | ignoredBit;
    PutBigEndian16(bytes, map->Offset + cell * 2, entry);
  }
  return file;
}

// A portrait: the palette file with 4 junk bytes before the colour words, and
// the pixel file with 4 junk bytes before the rows of palette indices.
std::vector<DiscFile> EncodePortrait(int row, const TCGVwImage& image, bool upperCase) {
  Require(image.PixSize == static_cast<std::uint32_t>(image.Width) * image.Height, row,
          "pixel bytes are not one byte per pixel");
  const Picture picture = SourcePicture(row);
  const Indexed indexed = ToIndexed(row, picture);
  Junk junk(row, kHeaderJunk);

  DiscFile palette{Cased(image.PalFile, upperCase),
                   std::vector<std::uint8_t>(image.PalOffset + kPaletteBytes)};
  junk.Fill(palette.bytes, 0, image.PalOffset);
  PutPalette(palette.bytes, image.PalOffset, indexed);

  DiscFile pixels{Cased(image.PixFile, upperCase),
                  std::vector<std::uint8_t>(image.PixOffset + image.PixSize)};
  junk.Fill(pixels.bytes, 0, image.PixOffset);
  std::copy(indexed.pixels.begin(), indexed.pixels.end(),
            pixels.bytes.begin() + static_cast<std::ptrdiff_t>(image.PixOffset));
  return {palette, pixels};
}

}  // namespace

std::vector<DiscFile> EncodeRow(int row, bool upperCase) {
  if (row < 0 || row >= PictureCount()) {
    throw std::out_of_range("no catalogue row " + std::to_string(row));
  }
  const TCGVwImage& image = Catalogue[static_cast<std::size_t>(row)].Image;
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  const bool eightBit256 = (image.Flags & cgvw_flags::kDepthMask) == cgvw_flags::kDepth8Bit256 &&
                           (image.Flags & cgvw_flags::kSwapOff) == 0;
  Require(eightBit256, row, "not an 8-bit picture with big-endian colour words");
  if (kind == cgvw_flags::kKindTiled) {
    Require((image.Flags & cgvw_flags::kMapLayoutMask) == cgvw_flags::kMap16, row,
            "tile map is not of 16-bit entries");
    return {EncodeBackground(row, image, upperCase)};
  }
  Require(kind == cgvw_flags::kKindPlain, row, "neither a tiled nor a plain picture");
  return EncodePortrait(row, image, upperCase);
}

int WriteDisc(const std::filesystem::path& directory, bool upperCase) {
  std::filesystem::create_directories(directory);
  int written = 0;
  for (int row = 0; row < PictureCount(); ++row) {
    for (const DiscFile& file : EncodeRow(row, upperCase)) {
      const std::filesystem::path path = directory / file.name;
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(file.bytes.data()),
                static_cast<std::streamsize>(file.bytes.size()));
      out.close();
      if (!out) {
        throw std::runtime_error("cannot write " + path.string());
      }
      ++written;
    }
  }
  return written;
}

}  // namespace demo
