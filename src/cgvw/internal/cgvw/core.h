// The decoding core: each decoder written once, for any source of bytes and
// any place to put pictures. The typed API (decode.h) and the classic entry
// points (cgvw.h) are thin layers over it: they choose the source, the
// store and the options, and turn the results into their own.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "cgvw/decode.h"
#include "cgvw/descriptors.h"
#include "cgvw/layout.h"
#include "platform/temp_buffer.h"

namespace cgvw::core {

// A block of a store, writable while a decode holds it.
struct Block {
  void* handle = nullptr;  // the store's own name for it
  std::span<std::uint8_t> bytes;
};

// Where decoded pictures (and the layers of a composite) are put.
class Store {
 public:
  // Obtains `size` bytes, zero-filled if asked; NoMemory if they cannot be
  // had (the block is then empty).
  virtual Status Obtain(std::uint64_t size, bool zeroFilled, Block* block) noexcept = 0;
  // Gives back a block that is not handed over; empties it.
  virtual void Release(Block* block) noexcept = 0;

 protected:
  ~Store() = default;
};

// Holds a block of a store until it is handed over.
class HeldBlock {
 public:
  explicit HeldBlock(Store& store) : store_(store) {}
  ~HeldBlock() { store_.Release(&block_); }
  HeldBlock(const HeldBlock&) = delete;
  HeldBlock& operator=(const HeldBlock&) = delete;

  Status Obtain(std::uint64_t size, bool zeroFilled) {
    return store_.Obtain(size, zeroFilled, &block_);
  }
  void Release() { store_.Release(&block_); }
  std::uint8_t* data() const { return block_.bytes.data(); }
  std::span<std::uint8_t> bytes() const { return block_.bytes; }
  Block HandOver() {
    const Block block = block_;
    block_ = {};
    return block;
  }

 private:
  Store& store_;
  Block block_;
};

// One decode: what it reads from, where it puts pictures, what it may do.
struct Job {
  Source& source;
  Store& store;
  const DecodeOptions& options;
  Problem* problem = nullptr;  // named on a failing read, if given
  bool missingBytes = false;   // a range read came back short
};

// The typed API's check of a descriptor before it is decoded: Ok, or
// BadDescriptor for a field that is missing or zero (or a composite within
// itself), with `fault` (if given) naming it: "PixSize is 0",
// "Extra->Items[1].Image->PalFile is null". Kinds and depths that nothing
// decodes and composites nested deeper than `maxNesting` are left to the
// decoders. With `overBackdrop` the picture is checked as the backdrop
// option decodes it: its Backdrop (which must not be null) and itself, as
// layers of a composite.
Status CheckDescriptor(const TCGVwImage& image, bool overBackdrop, int maxNesting,
                       std::string* fault) noexcept;

// Decodes by the descriptor's Kind. On Ok, *out is a block of the job's
// store holding the DIB, which the caller hands over or releases.
// `nesting` counts the composites around this picture.
Status Decode(Job& job, const TCGVwImage& image, int nesting, Block* out) noexcept;

// What decoding a picture makes, as its decoder works it out before it
// allocates anything.
struct Plan {
  TDibLayout dib{};             // the picture's DIB
  std::uint64_t blockSize = 0;  // the block the decoder obtains: the DIB, or more
  Status onceHeld =
      Status::Ok;  // what the decoder returns once it holds the block (Ok: it goes on)
};

// The checks a decoder makes before it obtains its block, and its plan: the
// picture's Kind (Unsupported for another Kind's descriptor, whose fields
// mean other things: nothing kind-specific is read before), Depth, the
// fields the sizes need, the nesting of composites and the job's limits.
// The plan is filled once the sizes are known, also when the limits refuse.
Status PlanPlain(const Job& job, const TCGVwImage& image, Plan* plan);
Status PlanTiled(const Job& job, const TCGVwImage& image, Plan* plan);
Status PlanComposite(const Job& job, const TCGVwImage& image, int nesting, Plan* plan);
// The plan by the descriptor's Kind; Unsupported for the kinds without a
// decoder.
Status PlanOf(const Job& job, const TCGVwImage& image, int nesting, Plan* plan);

// Each decoder starts with its plan.
Status DecodePlain(Job& job, const TCGVwImage& image, Block* out);
Status DecodeTiled(Job& job, const TCGVwImage& image, Block* out);
Status DecodeComposite(Job& job, const TCGVwImage& image, int nesting, Block* out);

constexpr bool IsKind(const TCGVwImage& image, std::uint32_t kind) {
  return (image.Flags & cgvw_flags::kKindMask) == kind;
}

// The composite that the backdrop option decodes instead of a picture: the
// backdrop at (0, 0) with every colour, the picture over it at (PosX, PosY)
// with colour index 0 transparent, on a 24-bit canvas the backdrop's size.
struct BackdropComposite {
  TCGVwLayer layers[2];
  TCGVwLayers list;
  TCGVwImage image;
  explicit BackdropComposite(const TCGVwImage& picture);  // picture.Backdrop must not be null
  BackdropComposite(const BackdropComposite&) = delete;   // it points into itself
  BackdropComposite& operator=(const BackdropComposite&) = delete;
};

// A range that a decode reads, for the limits: its size and the
// descriptor field that gives it ("PixSize", "Extra->Size").
struct LimitedRange {
  const char* field;
  std::uint64_t size;
};

// TooLarge when the picture's Width or Height, a picture of `pictureBytes`
// or one of the ranges to be read passes the job's limits (and then the
// job's problem, if any, names what and by how much); checked before
// anything is obtained for them.
Status CheckLimits(const Job& job, const TCGVwImage& image, std::uint64_t pictureBytes,
                   std::initializer_list<LimitedRange> ranges);

// A buffer for a range of `size` bytes (zero-filled unless asked not to);
// empty when the size is 0, larger than one read can ask for, or not to be
// had.
platform::TempBuffer ObtainBuffer(std::uint32_t size, bool zeroFilled = true);

// Obtains a buffer of `size` bytes (NoMemory if it cannot) and reads the
// range into it (ReadRange).
Status ReadNewBuffer(Job& job, const char* name, std::uint32_t offset, std::uint32_t size,
                     platform::TempBuffer* buffer);

// Reads the range into `buffer`; the bytes a short file lacks are set to 0.
// A missing name cannot be opened.
Status ReadRange(Job& job, const char* name, std::uint32_t offset, std::span<std::uint8_t> buffer);

// Fills `dest` with the colour table of the picture's palette file: its
// colour count of RGBQUAD entries. Unsupported for direct colour.
Status ReadPalette(Job& job, const TCGVwImage& image, std::uint8_t* dest);

// Writes the picture's 40-byte BITMAPINFOHEADER at `dest`. For Depth codes
// 4 to 7 biBitCount and biSizeImage keep what `dest` held.
void WriteInfoHeader(std::uint8_t* dest, const TCGVwImage& image);

// Draws a tiled picture's 8-bit rows (see CGVwRenderTiles).
void RenderTiles(std::span<std::uint8_t> dest, std::span<const std::uint8_t> map,
                 std::span<const std::uint8_t> tiles, const TCGVwImage& image);

}  // namespace cgvw::core
