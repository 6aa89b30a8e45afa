// 2,600 random pictures of every layout (odd sizes, every Depth and
// MapLayout value, short data, short files, tiles and map entries out of
// range, nested composites, the backdrop option), each decoded four ways:
// by a decoder written here from the rules of docs/formats.md alone (it uses
// nothing of the library but the descriptor records), by the typed API, by
// the C API and by the classic entry points. All four must agree, byte for
// byte and status for status.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cgvw/decode.h"
#include "cgvw/decode_c.h"
#include "dib_test_util.h"
#include "test_support.h"

namespace {

using Files = std::map<std::string, std::vector<std::uint8_t>>;
using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// The document's rules.
namespace doc {

struct Picture {
  std::int32_t status = 0;  // the classic code
  std::uint16_t bits = 0;
  std::uint32_t width = 0, height = 0, stride = 0, entries = 0;
  Bytes dib;  // header, colour table, rows

  std::uint8_t* Row(std::uint32_t y) {  // y from the top
    return dib.data() + 40 + 4 * entries + std::size_t{height - 1 - y} * stride;
  }
  const std::uint8_t* Row(std::uint32_t y) const { return const_cast<Picture*>(this)->Row(y); }
  const std::uint8_t* Colour(unsigned k) const { return dib.data() + 40 + 4 * k; }
};

// A DIB of zeros with its header: rows of (bits x width + 31) / 32 x 4 bytes.
Picture Blank(std::uint16_t bits, std::uint32_t width, std::uint32_t height) {
  Picture p;
  p.bits = bits;
  p.width = width;
  p.height = height;
  p.stride = (bits * width + 31) / 32 * 4;
  p.entries = bits == 4 ? 16 : bits == 8 ? 256 : 0;
  p.dib.assign(40 + 4 * p.entries + std::size_t{height} * p.stride, 0);
  auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      p.dib[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  };
  put(0, 40, 4);
  put(4, width, 4);
  put(8, height, 4);
  put(12, 1, 2);
  put(14, bits, 2);
  put(20, height * p.stride, 4);
  return p;
}

Picture Failed(std::int32_t status) {
  Picture p;
  p.status = status;
  return p;
}

// The range of a file: what it has, then 0.
std::optional<Bytes> Range(const Files& files, const char* name, std::uint32_t offset,
                           std::uint32_t size) {
  const auto file = files.find(name);
  if (file == files.end()) {
    return std::nullopt;
  }
  Bytes bytes(size, 0);
  for (std::uint32_t i = 0; i < size && std::uint64_t{offset} + i < file->second.size(); ++i) {
    bytes[i] = file->second[offset + i];
  }
  return bytes;
}

// A colour word's blue, green, red: 5-bit channels scaled by 255 / 31.
std::array<std::uint8_t, 3> Bgr(const std::uint8_t* word, bool swapOff) {
  const unsigned w = swapOff ? word[0] | word[1] << 8 : word[0] << 8 | word[1];
  auto scale = [](unsigned v) { return static_cast<std::uint8_t>(v * 255 / 31); };
  return {scale(w >> 10 & 31), scale(w >> 5 & 31), scale(w & 31)};
}

bool ReadPalette(const Files& files, const TCGVwImage& image, Picture* p) {
  const unsigned words = (image.Flags & 0xE0) == 0 ? 16 : (image.Flags & 0xE0) == 0x20 ? 128 : 256;
  const auto palette = Range(files, image.PalFile, image.PalOffset, 2 * words);
  for (unsigned k = 0; palette && k < words; ++k) {
    const auto bgr = Bgr(&(*palette)[2 * k], (image.Flags & 0x100) != 0);
    std::copy(bgr.begin(), bgr.end(), p->dib.begin() + 40 + 4 * k);
    p->dib[40 + 4 * k + 3] = 2;
  }
  return palette.has_value();
}

Picture Plain(const Files& files, const TCGVwImage& image) {
  const std::uint32_t depth = image.Flags & 0xE0;
  const std::uint16_t bits = depth == 0 ? 4 : depth == 0x60 ? 24 : 8;
  Picture p = Blank(bits, image.Width, image.Height);
  if (bits != 24 && !ReadPalette(files, image, &p)) {
    return Failed(-2);
  }
  const auto data = Range(files, image.PixFile, image.PixOffset, image.PixSize);
  if (!data) {
    return Failed(-2);
  }
  const std::uint64_t w = image.Width;
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    std::uint8_t* row = p.Row(y);
    // A row the data does not hold in full stays 0.
    const std::uint64_t end = bits == 4 ? (y * w + w + 1) / 2 : (y + 1) * w * (bits == 24 ? 2 : 1);
    for (std::uint64_t x = 0; x < w && end <= data->size(); ++x) {
      if (bits == 4) {
        const std::uint64_t n = y * w + x;
        const unsigned nibble = (*data)[n / 2] >> (n % 2 == 0 ? 4 : 0) & 15;
        row[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? nibble << 4 : nibble);
      } else if (bits == 8) {
        row[x] = (*data)[y * w + x];
      } else {
        const auto bgr = Bgr(&(*data)[2 * (y * w + x)], (image.Flags & 0x100) != 0);
        std::copy(bgr.begin(), bgr.end(), row + 3 * x);
      }
    }
  }
  return p;
}

// The tiles of a map layout: tile t's rows at tiles + 64 t, when all of it
// is inside.
struct Tiles {
  const Bytes& data;
  bool Inside(std::uint64_t t) const { return (t + 1) * 64 <= data.size(); }
  std::uint8_t At(std::uint64_t t, unsigned row, unsigned column) const {
    return data[t * 64 + row * 8 + column];
  }
};

void DrawTileMap(Picture* p, const Bytes& map, const Tiles& tiles, unsigned entryBytes) {
  const std::uint32_t columns = p->width / 8;
  for (std::uint32_t i = 0; i < p->height / 8; ++i) {
    for (std::uint32_t j = 0; j < columns; ++j) {
      const std::uint64_t at = std::uint64_t{i * columns + j} * entryBytes;
      if (at + entryBytes > map.size()) {
        continue;  // past the end of the map: the square stays 0
      }
      std::uint64_t entry = 0;
      for (unsigned b = 0; b < entryBytes; ++b) {
        entry = entry << 8 | map[at + b];
      }
      for (unsigned r = 0; r < 8 && tiles.Inside(entry >> 1); ++r) {
        for (unsigned c = 0; c < 8; ++c) {
          p->Row(8 * i + r)[8 * j + c] = tiles.At(entry >> 1, r, c);
        }
      }
    }
  }
}

void DrawCellMap(Picture* p, const Bytes& map, const Tiles& tiles) {
  for (std::uint32_t i = 0; i < p->height / 16; ++i) {
    for (std::uint32_t j = 0; j < p->width / 16; ++j) {
      const std::size_t at = 64 * i + 2 * j;
      if (at + 2 > map.size()) {
        continue;
      }
      const unsigned entry = map[at] << 8 | map[at + 1];
      const std::uint64_t k = ((entry & 0x3FF) >> 1) * 4;
      const unsigned selector = entry >> 10;
      if (!tiles.Inside(k + 3) || (selector != 0 && selector != 1 && selector != 3)) {
        continue;
      }
      for (unsigned y = 0; y < 16; ++y) {
        for (unsigned x = 0; x < 16; ++x) {
          // Where the pixel comes from in the cell as stored.
          const unsigned sx = selector == 1 ? 15 - x : x;
          const unsigned sy = selector == 3 ? 15 - y : y;
          const std::uint64_t tile = k + (sy / 8) * 2 + sx / 8;
          p->Row(16 * i + y)[16 * j + x] = tiles.At(tile, sy % 8, sx % 8);
        }
      }
    }
  }
}

Picture Tiled(const Files& files, const TCGVwImage& image) {
  const std::uint32_t depth = image.Flags & 0xE0;
  if (depth == 0x60) {
    return Failed(-1);
  }
  Picture p = Blank(depth == 0 ? 4 : 8, image.Width, image.Height);
  if (!ReadPalette(files, image, &p)) {
    return Failed(-2);
  }
  const auto& chunk = *static_cast<const TCGVwChunk*>(image.Extra);
  const std::uint32_t layout = image.Flags & 0xE00;
  std::optional<Bytes> map = Bytes(chunk.Size, 0);
  if (chunk.FileName != nullptr) {
    map = Range(files, chunk.FileName, chunk.Offset, chunk.Size);
  } else if (depth == 0x40 && (layout == 0x200 || layout == 0x400)) {
    const unsigned size = layout == 0x200 ? 2 : 4;
    for (std::size_t i = 0; (i + 1) * size <= map->size(); ++i) {
      const std::uint32_t entry = static_cast<std::uint32_t>(layout == 0x200 ? 2 * i + 2 : 2 * i);
      for (unsigned b = 0; b < size; ++b) {
        (*map)[i * size + b] = static_cast<std::uint8_t>(entry >> (8 * (size - 1 - b)));
      }
    }
  }
  const auto data = Range(files, image.PixFile, image.PixOffset, image.PixSize);
  if (!map || !data) {
    return Failed(-2);
  }
  if (depth == 0x40 && (layout == 0x200 || layout == 0x400)) {
    DrawTileMap(&p, *map, Tiles{*data}, layout == 0x200 ? 2 : 4);
  } else if (depth == 0x40 && layout == 0xC00) {
    DrawCellMap(&p, *map, Tiles{*data});
  }
  return p;
}

Picture Decode(const Files& files, const TCGVwImage& image, int nesting);

Picture Composite(const Files& files, const TCGVwImage& image, int nesting) {
  if ((image.Flags & 0xE0) != 0x60) {
    return Failed(-1);
  }
  if (nesting >= 16) {
    return Failed(-1);  // nested too deeply
  }
  Picture canvas = Blank(24, image.Width, image.Height);
  const std::uint32_t columns = canvas.stride / 3;  // the padding's room included
  const auto& list = *static_cast<const TCGVwLayers*>(image.Extra);
  for (unsigned i = 0; i < list.Count; ++i) {
    const TCGVwLayer& layer = list.Items[i];
    Picture decoded = Decode(files, *layer.Image, nesting + 1);
    if (decoded.status != 0) {
      return Failed(decoded.status);
    }
    if (decoded.bits != 8) {
      continue;
    }
    for (std::uint32_t r = 0; r < decoded.height && layer.Y + r < canvas.height; ++r) {
      for (std::uint32_t c = 0; c < decoded.stride && layer.X + c < columns; ++c) {
        const unsigned k = decoded.Row(r)[c];
        if ((layer.Flags & 1) == 0 || k != 0) {
          std::copy_n(decoded.Colour(k), 3, canvas.Row(layer.Y + r) + 3 * (layer.X + c));
        }
      }
    }
  }
  return canvas;
}

Picture Decode(const Files& files, const TCGVwImage& image, int nesting) {
  if ((image.Flags & 0xE0) > 0x60) {
    return Failed(-1);
  }
  switch (image.Flags & 0x1F) {
    case 0:
      return Plain(files, image);
    case 1:
      return Tiled(files, image);
    case 3:
      return Composite(files, image, nesting);
    default:
      return Failed(-1);
  }
}

// The backdrop option: the picture over its backdrop, index 0 transparent.
Picture DecodeOverBackdrop(const Files& files, const TCGVwImage& image) {
  const TCGVwLayer layers[2] = {{image.Backdrop, 0, 0, 0}, {&image, 1, image.PosX, image.PosY}};
  const TCGVwLayers list{2, layers};
  const TCGVwImage canvas{
      0x63, image.Backdrop->Width, image.Backdrop->Height, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0,
      &list};
  return Composite(files, canvas, 0);
}

}  // namespace doc

// ---------------------------------------------------------------------------
// Random pictures

TCGVwImage Descriptor(std::uint32_t flags, std::uint16_t width, std::uint16_t height) {
  TCGVwImage image{};
  image.Flags = flags;
  image.Width = width;
  image.Height = height;
  return image;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  // Forgets the files and descriptors of the picture before.
  void Reset() {
    files_.clear();
    names_.clear();
    images_.clear();
    chunks_.clear();
    layers_.clear();
    lists_.clear();
  }

  unsigned Uniform(unsigned low, unsigned high) {
    return std::uniform_int_distribution<unsigned>(low, high)(random_);
  }
  bool Chance(unsigned percent) { return Uniform(1, 100) <= percent; }

  // Random bytes, or few distinct ones (so that tiles and pixels repeat).
  Bytes Noise(std::size_t size) {
    const unsigned values = Chance(50) ? 256 : 4;
    Bytes bytes(size);
    for (auto& b : bytes) {
      b = static_cast<std::uint8_t>(Uniform(0, values - 1));
    }
    return bytes;
  }

  // A name not used before, kept alive for the picture's descriptors. Built
  // by appending: g++ 12 warns (-Wrestrict, a known false alarm) on
  // "x" + std::to_string(...) when it inlines it for some targets.
  const char* NewName(char first) {
    std::string name(1, first);
    name += std::to_string(names_.size());
    return names_.emplace_back(std::move(name)).c_str();
  }

  // A file holding a range of `size` bytes at a random offset: whole, or
  // (now and then) ending early. Its name and offset.
  std::pair<const char*, std::uint32_t> File(std::uint32_t size) {
    const std::uint32_t offset = Uniform(0, 3);
    const std::uint32_t kept = Chance(15) ? Uniform(0, offset + size) : offset + size;
    const char* name = NewName('f');
    files_[name] = Noise(kept);
    return {name, offset};
  }

  const TCGVwImage* PlainPicture(std::uint32_t depth) {
    TCGVwImage image = Descriptor(0x00 | depth | (Chance(50) ? 0x100u : 0u),
                                  static_cast<std::uint16_t>(Uniform(1, 37)),
                                  static_cast<std::uint16_t>(Uniform(1, 29)));
    const std::uint64_t pixels = std::uint64_t{image.Width} * image.Height;
    const std::uint64_t needed = depth == 0      ? (pixels + 1) / 2
                                 : depth == 0x60 ? 2 * pixels
                                                 : pixels;
    image.PixSize = static_cast<std::uint32_t>(
        Chance(25) ? Uniform(1, static_cast<unsigned>(needed + 8)) : needed);
    std::tie(image.PixFile, image.PixOffset) = File(image.PixSize);
    Palette(&image);
    return &images_.emplace_back(image);
  }

  const TCGVwImage* TiledPicture(std::uint32_t depth) {
    const std::uint32_t layout = Chance(70) ? std::array{0x200u, 0x400u, 0xC00u}[Uniform(0, 2)]
                                            : 0x200 * Uniform(0, 7);  // every MapLayout value
    TCGVwImage image = Descriptor(0x01 | depth | layout | (Chance(20) ? 0x100u : 0u),
                                  static_cast<std::uint16_t>(Uniform(1, 70)),
                                  static_cast<std::uint16_t>(Uniform(1, 52)));
    const unsigned tiles = Uniform(1, 12);
    image.PixSize = Chance(20) ? Uniform(1, tiles * 64 + 40) : tiles * 64;
    std::tie(image.PixFile, image.PixOffset) = File(image.PixSize);
    Palette(&image);
    // Entries for tiles and cells somewhat past the tile data, every
    // selector, bit 0 set at random; a map as long as the layout reads, or
    // shorter or longer.
    const bool cells = layout == 0xC00;
    const unsigned entryBytes = layout == 0x400 ? 4 : 2;
    const unsigned entries =
        cells ? 32 * (image.Height / 16 + 1) : (image.Width / 8) * (image.Height / 8) + 2;
    Bytes map;
    for (unsigned e = 0; e < entries; ++e) {
      const std::uint32_t number = cells ? Uniform(0, tiles / 4 + 1) : Uniform(0, tiles + 1);
      const std::uint32_t entry = (cells ? Uniform(0, 5) << 10 : 0) | number << 1 | Uniform(0, 1);
      for (unsigned b = entryBytes; b-- > 0;) {
        map.push_back(static_cast<std::uint8_t>(entry >> (8 * b)));
      }
    }
    map.resize(Chance(20) ? Uniform(1, static_cast<unsigned>(map.size())) : map.size());
    TCGVwChunk& chunk =
        chunks_.emplace_back(TCGVwChunk{nullptr, 0, static_cast<std::uint32_t>(map.size())});
    if (Chance(85)) {
      const char* name = NewName('m');
      chunk.FileName = name;
      chunk.Offset = Uniform(0, 2);
      map.insert(map.begin(), chunk.Offset, 0xAB);
      files_[name] = map;
    }
    image.Extra = &chunk;
    return &images_.emplace_back(image);
  }

  // A layer picture (or a picture to draw over a backdrop).
  const TCGVwImage* AnyPicture(int nesting) {
    const unsigned kind = Uniform(0, nesting > 0 ? 9 : 8);
    if (kind == 9) {
      return CompositePicture(nesting - 1);
    }
    const std::uint32_t depth = Chance(3) ? 0x80 : 0x20 * Uniform(0, 3);
    if (kind >= 4 && depth == 0x60 && Chance(50)) {
      return PlainPicture(0x40);  // few refused layers, so that composites paint
    }
    return kind < 4 ? PlainPicture(depth) : TiledPicture(depth);
  }

  const TCGVwImage* CompositePicture(int nesting) {
    std::vector<TCGVwLayer>& items = layers_.emplace_back();
    const unsigned count = Uniform(1, 4);
    TCGVwImage image =
        Descriptor(Chance(3) ? 0x43u : 0x63u, static_cast<std::uint16_t>(Uniform(1, 48)),
                   static_cast<std::uint16_t>(Uniform(1, 40)));
    for (unsigned i = 0; i < count; ++i) {
      items.push_back({AnyPicture(nesting), Uniform(0, 1),
                       static_cast<std::uint16_t>(Uniform(0, image.Width + 2)),
                       static_cast<std::uint16_t>(Uniform(0, image.Height + 2))});
    }
    image.Extra =
        &lists_.emplace_back(TCGVwLayers{static_cast<std::uint16_t>(count), items.data()});
    return &images_.emplace_back(image);
  }

  const TCGVwImage* OverBackdrop() {
    TCGVwImage image = *AnyPicture(0);
    image.Backdrop = AnyPicture(0);
    image.PosX = static_cast<std::uint16_t>(Uniform(0, image.Backdrop->Width));
    image.PosY = static_cast<std::uint16_t>(Uniform(0, image.Backdrop->Height));
    return &images_.emplace_back(image);
  }

  const Files& files() const { return files_; }

 private:
  void Palette(TCGVwImage* image) {
    const std::uint32_t depth = image->Flags & 0xE0;
    const std::uint32_t words = depth == 0 ? 16 : depth == 0x20 ? 128 : 256;
    if (depth <= 0x40) {
      std::tie(image->PalFile, image->PalOffset) = File(2 * words);
    }
  }

  std::mt19937 random_;
  Files files_;
  std::deque<std::string> names_;
  std::deque<TCGVwImage> images_;
  std::deque<TCGVwChunk> chunks_;
  std::deque<std::vector<TCGVwLayer>> layers_;
  std::deque<TCGVwLayers> lists_;
};

// ---------------------------------------------------------------------------
// The C API's rows in a format, as the document's picture gives them.

Bytes Expected(const doc::Picture& picture, int format, bool bottomUp, std::size_t stride,
               std::size_t size) {
  Bytes out(size, 0xEE);
  const std::size_t bytesPer = format == CGVW_FORMAT_RGBA8 ? 4 : 3;
  const doc::Picture& p = picture;
  for (std::uint32_t y = 0; y < p.height; ++y) {
    std::uint8_t* row = out.data() + (bottomUp ? p.height - 1 - y : y) * stride;
    const std::uint8_t* in = p.Row(y);
    if (format == CGVW_FORMAT_NATIVE) {
      std::copy_n(in, (p.bits * p.width + 7) / 8, row);
      continue;
    }
    for (std::uint32_t x = 0; x < p.width; ++x) {
      const std::uint8_t* bgr = p.bits == 24  ? in + 3 * x
                                : p.bits == 8 ? p.Colour(in[x])
                                              : p.Colour(in[x / 2] >> (x % 2 == 0 ? 4 : 0) & 15);
      const std::uint8_t rgba[4] = {bgr[2], bgr[1], bgr[0], 255};
      std::copy_n(rgba, bytesPer, row + bytesPer * x);
    }
  }
  return out;
}

TEST(RandomPictures, TheDocumentTheTypedTheCAndTheClassicApisAgree) {
  testing_support::FaultScope faults;
  testing_support::TestDrive drive;
  constexpr std::uint32_t kSeed = 29;
  constexpr int kPictures = 2600;
  Generator generate(kSeed);
  std::map<std::int32_t, int> outcomes;
  cgvw_decoder* decoder = nullptr;
  ASSERT_EQ(cgvw_decoder_new(&decoder), CGVW_OK);
  ::testing::internal::CaptureStderr();  // the classic "Step err" boxes
  for (int i = 0; i < kPictures; ++i) {
    SCOPED_TRACE(::testing::Message() << "picture " << i << " of seed " << kSeed);
    generate.Reset();
    const bool backdrop = i % 13 == 12;
    const TCGVwImage& image = *(backdrop     ? generate.OverBackdrop()
                                : i % 4 == 3 ? generate.CompositePicture(2)
                                : i % 4 == 0 ? generate.PlainPicture(0x20 * generate.Uniform(0, 3))
                                             : generate.AnyPicture(0));
    const doc::Picture expected = backdrop && image.Backdrop != nullptr
                                      ? doc::DecodeOverBackdrop(generate.files(), image)
                                      : doc::Decode(generate.files(), image, 0);
    ++outcomes[expected.status];

    // The typed API.
    cgvw::MemorySource source;
    for (const auto& [name, bytes] : generate.files()) {
      source.Add(name, bytes);
    }
    cgvw::DecodeOptions options;
    options.backdrop = backdrop;
    const auto typed = cgvw::Decode(image, source, options);
    ASSERT_EQ(testing_support::ClassicStatus(typed.status()), expected.status);
    if (typed) {
      ASSERT_TRUE(std::ranges::equal(typed->dib(), expected.dib)) << "the typed API differs";
    }

    // The classic entry points, from files on the drive.
    for (const auto& [name, bytes] : generate.files()) {
      drive.WriteFile(name, bytes);
    }
    const std::uint32_t flag = backdrop ? 1 : 0;
    const auto classic = testing_support::DecodeWith(CGVwDecode, image, &flag);
    ASSERT_EQ(classic.status, expected.status);
    if (classic.status == 0) {
      ASSERT_GE(classic.bytes.size(), expected.dib.size());
      ASSERT_TRUE(std::equal(expected.dib.begin(), expected.dib.end(), classic.bytes.begin()));
      ASSERT_TRUE(std::all_of(classic.bytes.begin() + expected.dib.size(), classic.bytes.end(),
                              [](std::uint8_t b) { return b == 0; }));
    }

    // The C API, in a format, row order and stride of the picture's number.
    cgvw_source* memory = nullptr;
    ASSERT_EQ(cgvw_source_new_memory(&memory), CGVW_OK);
    for (const auto& [name, bytes] : generate.files()) {
      cgvw_source_add(memory, name.c_str(), bytes.data(), bytes.size(), CGVW_BORROW);
    }
    cgvw_set_option(decoder, CGVW_OPTION_BACKDROP, backdrop ? 1 : 0);
    cgvw_info info{};
    const int status = cgvw_get_info(decoder, &image, &info);
    cgvw_output out{};
    out.format = i % 3;
    out.flags = i / 3 % 2 == 0 ? 0 : CGVW_BOTTOM_UP;
    out.stride = cgvw_row_bytes(&info, out.format) + (i / 6 % 2) * 3;
    Bytes pixels(out.stride * info.height + 1, 0xEE);
    out.pixels = pixels.data();
    out.size = pixels.size();
    const int decoded = status == CGVW_OK ? cgvw_decode(decoder, memory, &image, &out) : status;
    cgvw_source_free(memory);
    ASSERT_EQ(testing_support::ClassicStatus(static_cast<cgvw::Status>(decoded)), expected.status)
        << cgvw_problem(decoder);
    if (decoded == CGVW_OK) {
      ASSERT_EQ(pixels, Expected(expected, out.format, out.flags != 0, out.stride, out.size))
          << "the C API differs in format " << out.format;
    }
  }
  ::testing::internal::GetCapturedStderr();
  cgvw_decoder_free(decoder);
  // Most pictures decode; some of every failure the generator makes.
  EXPECT_GT(outcomes[0], kPictures * 3 / 4);
  EXPECT_GT(outcomes[-1], 20);
  EXPECT_TRUE(testing_support::NothingHeld()) << testing_support::DescribeHeld();
}

}  // namespace
