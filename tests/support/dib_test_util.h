// Helpers for tests that decode pictures and look at the resulting blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/decode.h"

namespace testing_support {

// What a decoder returned, with a copy of its block's bytes. The block itself
// is freed at once, so a test sees "nothing held" right after.
struct Decoded {
  std::int32_t status = 0;
  bool gotHandle = false;
  bool wasUnlocked = false;  // no lock was held on any block when it came back
  std::vector<std::uint8_t> bytes;

  std::uint32_t U32(std::size_t at) const { return cgvw::LoadLE32(bytes.data() + at); }
  std::uint16_t U16(std::size_t at) const { return cgvw::LoadLE16(bytes.data() + at); }
};

Decoded DecodeWith(TCGVwOperation decoder, const TCGVwImage& image, const void* second = nullptr);

// The classic code that a typed status folds into.
constexpr std::int32_t ClassicStatus(cgvw::Status status) {
  switch (status) {
    case cgvw::Status::ReadFailed:
      return kCGVwCannotOpen;
    case cgvw::Status::TooLarge:
      return kCGVwNoMemory;
    case cgvw::Status::BadDescriptor:
    case cgvw::Status::TooDeep:
      return kCGVwUnsupported;
    default:
      return static_cast<std::int32_t>(status);
  }
}

// Builds file contents piece by piece.
class Bytes {
 public:
  Bytes& Fill(std::size_t count, std::uint8_t value) {
    data_.insert(data_.end(), count, value);
    return *this;
  }
  Bytes& BE16(std::uint16_t v) {
    data_.push_back(static_cast<std::uint8_t>(v >> 8));
    data_.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Bytes& BE32(std::uint32_t v) {
    return BE16(static_cast<std::uint16_t>(v >> 16)).BE16(static_cast<std::uint16_t>(v));
  }
  Bytes& Raw(const std::vector<std::uint8_t>& more) {
    data_.insert(data_.end(), more.begin(), more.end());
    return *this;
  }
  std::size_t size() const { return data_.size(); }
  const std::vector<std::uint8_t>& get() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
};

// Pixel (x, y), y counted from the top, of bottom-up 8-bit rows.
inline std::uint8_t PixelAt(const std::uint8_t* rows, std::size_t stride, std::size_t height,
                            std::size_t x, std::size_t y) {
  return rows[(height - 1 - y) * stride + x];
}

// One disc file that serves a picture of every kind, depth and map layout:
// a palette of 256 words at 0, then pixel and tile bytes, then maps whose
// entries address tiles 0 to 7 (the 16 x 16 cell map with each selector).
namespace sample {

inline constexpr char kDisc[] = "sweep.bin";
inline constexpr std::uint32_t kTiles = 0x400;  // eight 64-byte tiles from here
inline constexpr std::uint32_t kMap16 = 0x800;
inline constexpr std::uint32_t kMap32 = 0x900;
inline constexpr std::uint32_t kCells = 0xA00;

std::vector<std::uint8_t> DiscBytes();

// A plain picture whose pixels start at 0x200 of the disc file.
inline TCGVwImage Plain(std::uint32_t flags, std::uint16_t width, std::uint16_t height,
                        std::uint32_t pixSize) {
  return {flags, width, height, 0, 0, nullptr, kDisc, 0, kDisc, 0x200, pixSize, nullptr};
}

// A tiled picture of the disc file's eight tiles and the given map.
inline TCGVwImage Tiled(std::uint32_t flags, std::uint16_t width, std::uint16_t height,
                        const TCGVwChunk* map) {
  return {flags, width, height, 0, 0, nullptr, kDisc, 0, kDisc, kTiles, 8 * 64, map};
}

}  // namespace sample

}  // namespace testing_support
