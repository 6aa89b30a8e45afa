// How a run gets the picture of a catalogue row: through the classic entry
// point (CGVwDecode into a global memory block, locked for writing), or
// through the typed API from the disc of a run with options.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cgvw/decode.h"
#include "disc.h"
#include "platform/handles.h"

namespace app {

enum class RowFailure {
  kNone,
  kDecode,      // the picture could not be decoded
  kLock,        // its block could not be locked
  kIncomplete,  // decoded, but a source file ended early: part of it is black
};

// A row's decoded picture, or why there is none. What holds the picture's
// bytes goes when the row does; Release gives it back earlier.
struct DecodedRow {
  RowFailure failure = RowFailure::kNone;
  std::string why;                           // for standard error, when it failed
  std::optional<cgvw::PictureView> picture;  // nullopt for a block that holds no DIB
  platform::GlobalBlock block;               // a classic decode's, locked
  cgvw::Picture owned;                       // a typed decode's
  // Unlocks and frees a classic block, frees a typed picture.
  void Release() noexcept;
};

class RowDecoder {
 public:
  virtual ~RowDecoder() = default;
  virtual void Decode(std::size_t row, DecodedRow* decoded) noexcept = 0;
};

// CGVwDecode of the row's descriptor, backdrop flag 0, from the drive in
// SourceRoot; running out of memory is a failed decode.
class ClassicDecoder final : public RowDecoder {
 public:
  void Decode(std::size_t row, DecodedRow* decoded) noexcept override;
};

// cgvw::Decode from the run's disc. A picture that a short source file
// left partly black is incomplete, and `why` says where the file ends.
class TypedDecoder final : public RowDecoder {
 public:
  explicit TypedDecoder(const Disc& disc) : disc_(disc) {}
  void Decode(std::size_t row, DecodedRow* decoded) noexcept override;

 private:
  const Disc& disc_;
};

}  // namespace app
