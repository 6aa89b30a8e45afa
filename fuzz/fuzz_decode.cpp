// Fuzzes the decoders through the typed API: a descriptor built from the
// input (every field, layer lists, nested layers, generated maps, the
// backdrop option), two source files in memory whose contents come from the
// input, limits, and optionally a failing buffer or read. Whatever the
// input, the decode must return a documented status, give a picture exactly
// on success, and hold nothing once the picture is gone; the picture must
// be what its descriptor asks for, and its DIB and BMP file header agree.
//
// Input: options, faults, the descriptor tree, then the contents of a.bin
// and b.bin. Sizes are capped so that one input cannot ask for more than a
// few megabytes.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "cgvw/bytes.h"
#include "cgvw/decode.h"
#include "cgvw/layout.h"
#include "fuzz_support.h"
#include "platform/faults.h"

namespace {

using fuzzing::Input;
using platform::faults::Point;

constexpr std::uint16_t kMaxSide = 1024;           // Width and Height
constexpr std::uint32_t kMaxPixSize = 256 * 1024;  // pixel or tile bytes
constexpr std::uint32_t kMaxMapSize = 64 * 1024;   // tile map bytes
constexpr std::uint32_t kMaxFileSize = 256 * 1024;
constexpr int kMaxNesting = 3;  // backdrops and layers below the picture
constexpr int kMaxImages = 12;  // descriptors in one input
constexpr int kMaxLayers = 4;

// Owns every record of one input's descriptor tree; records never move.
class Descriptors {
 public:
  explicit Descriptors(Input& input) : input_(input) {}

  const TCGVwImage* Image(int depth) {
    if (images_.size() >= kMaxImages) {
      return nullptr;
    }
    TCGVwImage& image = images_.emplace_back();
    image.Flags = input_.U32();
    image.Width = input_.Side(kMaxSide);
    image.Height = input_.Side(kMaxSide);
    image.PosX = input_.U16();
    image.PosY = input_.U16();
    image.PalFile = fuzzing::FileNameFor(input_.U8());
    image.PalOffset = input_.U32();
    image.PixFile = fuzzing::FileNameFor(input_.U8());
    image.PixOffset = input_.U32();
    image.PixSize = input_.U32() % (kMaxPixSize + 1);
    const std::uint8_t links = input_.U8();
    image.Backdrop = (links & 1) != 0 && depth < kMaxNesting ? Image(depth + 1) : nullptr;
    // Extra is what the picture's kind reads it as, or null.
    if ((links & 2) != 0) {
      switch (image.Flags & 0x1F) {
        case 1:
          image.Extra = Chunk();
          break;
        case 3:
          image.Extra = Layers(depth, links);
          break;
        default:
          break;
      }
    }
    return &image;
  }

 private:
  const TCGVwChunk* Chunk() {
    TCGVwChunk& chunk = chunks_.emplace_back();
    chunk.FileName = fuzzing::FileNameFor(input_.U8());  // null: a generated map
    chunk.Offset = input_.U32();
    chunk.Size = input_.U32() % (kMaxMapSize + 1);
    return &chunk;
  }

  const TCGVwLayers* Layers(int depth, std::uint8_t links) {
    TCGVwLayers& list = lists_.emplace_back();
    list.Count = static_cast<std::uint16_t>(input_.U8() % (kMaxLayers + 1));
    list.Items = nullptr;
    if ((links & 4) != 0 || list.Count == 0) {
      return &list;  // Count layers announced, none there
    }
    std::vector<TCGVwLayer>& items = layers_.emplace_back(list.Count);
    for (TCGVwLayer& layer : items) {
      layer.Flags = input_.U32();
      layer.X = input_.U16();
      layer.Y = input_.U16();
      layer.Image = (input_.U8() & 1) != 0 && depth < kMaxNesting ? Image(depth + 1) : nullptr;
    }
    list.Items = items.data();
    return &list;
  }

  Input& input_;
  std::deque<TCGVwImage> images_;
  std::deque<TCGVwChunk> chunks_;
  std::deque<TCGVwLayers> lists_;
  std::deque<std::vector<TCGVwLayer>> layers_;
};

// The picture must be what was asked for: its size, the layout of its
// depth, a header that says so, and a BMP file header that agrees.
void CheckPicture(const cgvw::Picture& picture, const TCGVwImage& asked) {
  const auto layout = cgvw::DibLayoutFor(asked.Flags, asked.Width, asked.Height);
  FUZZ_CHECK(layout.has_value());
  FUZZ_CHECK(picture.width() == asked.Width && picture.height() == asked.Height);
  FUZZ_CHECK(picture.bitCount() == layout->bitCount && picture.stride() == layout->rowStride);
  const std::span<const std::uint8_t> dib = picture.dib();
  FUZZ_CHECK(dib.size() == layout->blockSize);
  FUZZ_CHECK(picture.colourTable().size() == 4 * layout->colourEntries);
  FUZZ_CHECK(picture.pixels().size() == layout->imageSize);
  const auto header = cgvw::ReadInfoHeader(dib);
  FUZZ_CHECK(header && header->width == asked.Width && header->height == asked.Height);
  FUZZ_CHECK(header->bitCount == layout->bitCount && header->imageSize == layout->imageSize);
  const auto fileHeader = picture.BmpFileHeader();
  FUZZ_CHECK(cgvw::LoadLE32(&fileHeader[2]) == cgvw::kFileHeaderSize + dib.size());
  FUZZ_CHECK(cgvw::LoadLE32(&fileHeader[10]) == cgvw::PixelFileOffset(layout->bitCount));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::uint8_t options = input.U8();
  const std::uint8_t faults = input.U8();
  const std::uint8_t faultCall = input.U8();
  Descriptors descriptors(input);
  const TCGVwImage* picture = descriptors.Image(0);
  const std::span<const std::uint8_t> a = input.Bytes(input.U32() % (kMaxFileSize + 1));
  fuzzing::FuzzSource source(a, input.Rest());

  platform::faults::Reset();
  // One buffer, or one read, may fail.
  if ((faults & 3) == 1) {
    platform::faults::FailNth(Point::HeapBuffer, faultCall);
  } else if ((faults & 3) != 0) {
    source.FailNthRead(faultCall, (faults & 3) == 3);
  }
  cgvw::DecodeOptions decodeOptions;
  decodeOptions.backdrop = (options & 1) != 0;
  decodeOptions.maxNesting = 1 + (options >> 1) % 4;
  decodeOptions.limits.maxPictureBytes = (options & 0x20) != 0 ? 1 << 16 : 16 << 20;
  decodeOptions.limits.maxReadBytes = (options & 0x40) != 0 ? 1 << 12 : 1 << 20;
  {
    const cgvw::Result<cgvw::Picture> decoded = cgvw::Decode(*picture, source, decodeOptions);
    FUZZ_CHECK(static_cast<std::int32_t>(decoded.status()) <= 0 &&
               static_cast<std::int32_t>(decoded.status()) >=
                   static_cast<std::int32_t>(cgvw::Status::TooDeep));
    FUZZ_CHECK(!decoded || !decoded->dib().empty());  // a failure holds no picture at all
    if (decoded) {
      const bool overBackdrop = decodeOptions.backdrop && picture->Backdrop != nullptr;
      TCGVwImage asked = overBackdrop ? *picture->Backdrop : *picture;
      if (overBackdrop) {
        asked.Flags = 0x63;  // a 24-bit canvas of the backdrop's size
      }
      CheckPicture(*decoded, asked);
    }
  }
  FUZZ_CHECK(fuzzing::NothingHeld());
  platform::faults::Reset();
  return 0;
}
