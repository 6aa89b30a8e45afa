// Fuzzes CGVwDecode: a descriptor built from the input (every field, layer
// lists, nested layers, generated maps, the backdrop option), two source
// files whose contents come from the input, and optionally one failing
// acquisition. Whatever the input, the decode must return a documented
// status, hand back a block only on success, hold nothing afterwards, and
// the block it hands back must be one the BMP writer takes as it is.
//
// Input: options, fault, the descriptor tree, then the contents of a.bin and
// b.bin. Sizes are capped so that one input cannot ask for more than a few
// megabytes.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/layout.h"
#include "fuzz_support.h"
#include "platform/faults.h"
#include "platform/win_api.h"

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

// The block must be what its header says: a bit count the writer knows, at
// least as many bytes as the header, colour table and pixels take, and the
// size of the picture (or of its backdrop) that was asked for.
void CheckBlock(platform::HGLOBAL handle, const TCGVwImage& asked, const std::string& output) {
  const auto* bytes = static_cast<const std::uint8_t*>(platform::GlobalLock(handle));
  if (bytes == nullptr) {
    return;  // a lock failure was injected
  }
  const std::size_t size = platform::GlobalSize(handle);
  FUZZ_CHECK(size >= cgvw::kInfoHeaderSize);
  const std::uint16_t bitCount = cgvw::LoadLE16(bytes + 14);
  const std::uint32_t sizeImage = cgvw::LoadLE32(bytes + 20);
  FUZZ_CHECK(cgvw::LoadLE32(bytes + 4) == asked.Width);
  FUZZ_CHECK(cgvw::LoadLE32(bytes + 8) == asked.Height);
  const auto layout = cgvw::DibLayoutFor(asked.Flags, asked.Width, asked.Height);
  FUZZ_CHECK(layout.has_value());
  FUZZ_CHECK(layout->imageSize == sizeImage);
  FUZZ_CHECK(cgvw::PixelFileOffset(bitCount) != 0);
  FUZZ_CHECK(cgvw::PixelFileOffset(bitCount) - cgvw::kFileHeaderSize + std::uint64_t{sizeImage} <=
             size);
  // The writer reads every byte it puts into the file, and never refuses a
  // decoded block (only a failing create makes it give up before writing).
  const long createsBefore = platform::faults::Calls(Point::FileCreate);
  const auto written = app::WriteBmpFile(output.c_str(), {bytes, size}, bitCount, sizeImage);
  FUZZ_CHECK(written != app::BmpWriteResult::kCreateFailed ||
             platform::faults::Calls(Point::FileCreate) > createsBefore);
  platform::GlobalUnlock(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzzing::ScratchDrive drive;
  static const std::string output = drive.OutputPath("fuzz.bmp");
  Input input(data, size);
  const std::uint8_t options = input.U8();
  const std::uint32_t backdropFlag = input.U32();
  const std::uint8_t faultPoint = input.U8();
  const std::uint8_t faultCall = input.U8();
  Descriptors descriptors(input);
  const TCGVwImage* picture = descriptors.Image(0);
  drive.WriteFile(fuzzing::kFileA, input.Bytes(input.U32() % (kMaxFileSize + 1)));
  drive.WriteFile(fuzzing::kFileB, input.Rest());

  platform::faults::Reset();
  // One acquisition of the decode may fail: the fault points up to FileWrite.
  if (faultPoint < static_cast<std::uint8_t>(Point::Console) && faultCall != 0) {
    platform::faults::FailNth(static_cast<Point>(faultPoint), faultCall);
  }
  platform::HGLOBAL handle = reinterpret_cast<platform::HGLOBAL>(0x1);
  const bool noFlag = (options & 1) != 0;  // a null flag pointer means 0
  const std::int32_t status = CGVwDecode(&picture, noFlag ? nullptr : &backdropFlag, &handle);

  FUZZ_CHECK(status == kCGVwOk || status == kCGVwUnsupported || status == kCGVwCannotOpen ||
             status == kCGVwNoMemory);
  FUZZ_CHECK((status == kCGVwOk) == (handle != nullptr));
  if (handle != nullptr) {
    FUZZ_CHECK(platform::faults::LiveCounts().globalBlocks == 1);
    FUZZ_CHECK(platform::faults::LiveCounts().globalLocks == 0);
    const bool drawnOverBackdrop = !noFlag && backdropFlag != 0 && picture->Backdrop != nullptr;
    TCGVwImage asked = drawnOverBackdrop ? *picture->Backdrop : *picture;
    if (drawnOverBackdrop) {
      asked.Flags = 0x63;  // a 24-bit canvas of the backdrop's size
    }
    CheckBlock(handle, asked, output);
    FUZZ_CHECK(platform::GlobalFree(handle) == nullptr);
  }
  FUZZ_CHECK(fuzzing::NothingHeld());
  platform::faults::Reset();
  return 0;
}
