// The typed decoding API: a picture descriptor and a source of bytes in, a
// decoded picture that owns its bytes out.
//
//   cgvw::MemorySource disc;
//   disc.Add("bg000_0.bg", fileBytes);               // the caller's bytes, not copied
//   cgvw::Result<cgvw::Picture> decoded = cgvw::Decode(Catalogue[0].Image, disc);
//   if (!decoded) { std::puts(cgvw::StatusText(decoded.status())); }
//   const cgvw::Picture& picture = *decoded;          // picture.width(), picture.row(0), ...
//
// Nothing here throws and nothing prints: every failure is a Status. A
// call touches only what it is given (the descriptor, the source, the
// options) and what it allocates for itself, so calls on different threads
// with different sources share nothing. A Source object itself is not
// shared between threads unless its class says so.
//
// What cannot be misused does not compile: a Result gives no reference
// into a temporary (*cgvw::Decode(...) is refused; keep the Result), a
// MemorySource does not take a temporary's bytes without copying them
// (Add(name, bytes, cgvw::kCopy) copies), and a moved-from Picture is
// empty, all its sizes 0 and all its spans empty.
//
// Byte layouts (all multi-byte values of the files and of a Picture are
// stored in a fixed byte order, whatever the machine's); docs/formats.md
// gives each with worked examples:
// - Colour word (source palettes and 15-bit pixels): 16 bits, bit 15
//   ignored, blue in bits 10-14, green in bits 5-9, red in bits 0-4; stored
//   big-endian unless the descriptor's SwapOff bit (0x100) is set, then
//   little-endian. A 5-bit channel v becomes v * 255 / 31 (rounded down).
// - Source pixels (plain pictures): rows from the top, no padding between
//   them. 4 bits: two pixels a byte, the left one in the high nibble, rows
//   following each other nibble by nibble (with an odd Width a row starts
//   in the middle of a byte). 8 bits: one colour index a byte. 15 bits: one
//   colour word a pixel.
// - Tiles: 64 bytes each, 8 rows of 8 colour indices, the top row first;
//   tile t starts at byte 64 * t of the pixel data.
// - Tile map entries, big-endian in every layout, whatever SwapOff says:
//   0x200: 16 bits, tile = entry >> 1, Width / 8 entries a map row;
//   0x400: 32 bits, tile = entry >> 1, Width / 8 entries a map row;
//   0xC00: 16 bits for a 16 x 16 cell of four tiles, first tile =
//   ((entry & 0x3FF) >> 1) * 4 (top-left, top-right, bottom-left,
//   bottom-right), selector = entry >> 10 (0 as stored, 1 mirrored left to
//   right, 3 flipped top to bottom, others draw nothing); map rows lie 64
//   bytes apart. Bit 0 of an entry is ignored in every layout.
// - Colour table entry (RGBQUAD): 4 bytes blue, green, red, reserved; the
//   reserved byte of a converted colour is 2.
// - Pixel rows: bottom-up as in a DIB (the last picture row first); within
//   a row, left to right. 4 bits: two pixels a byte, the left one in the
//   high nibble. 8 bits: one colour index a byte. 24 bits: blue, green, red.
//   Every row is padded to a multiple of 4 bytes (Picture::stride()).
// - The DIB (Picture::dib()): a 40-byte BITMAPINFOHEADER (little-endian
//   fields), the colour table (16 entries for 4 bits, 256 for 8, none for
//   24), then the rows. A BMP file is BmpFileHeader() followed by dib().
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "cgvw/descriptors.h"

struct cgvw_source;  // cgvw/decode_c.h

namespace cgvw {

// What a call came to. The first four have the values of the classic
// status codes (cgvw.h), into which the others fold.
enum class Status : std::int32_t {
  Ok = 0,
  Unsupported = -1,    // a Kind, Depth or mode that nothing decodes
  CannotOpen = -2,     // a source file is missing or is no regular file
  NoMemory = -3,       // memory could not be obtained
  ReadFailed = -4,     // a source file opened but could not be read (an I/O error)
  TooLarge = -5,       // the picture or a source range is larger than the caller's limits
  BadDescriptor = -6,  // a field of the descriptor is missing or zero (Problem::field names it)
  TooDeep = -7,        // composites nested deeper than the caller allows
};

// A short English description of the status ("a source file cannot be
// opened"); never null.
const char* StatusText(Status status) noexcept;

// ---------------------------------------------------------------------------
// Sources of bytes

// What one read came to.
struct ReadResult {
  Status status = Status::Ok;  // Ok, CannotOpen, ReadFailed or NoMemory
  std::size_t got = 0;         // bytes placed at the start of the destination
  std::error_code error;       // the system's reason for a failure, if it gave one
};

// Where the bytes of a picture come from: named files of bytes. A file
// name is the descriptor's (PalFile, PixFile, a map chunk's FileName).
class Source {
 public:
  virtual ~Source() = default;
  // Reads up to dest.size() bytes of the file `name` from byte `offset` on
  // into dest. Fewer bytes (got < size) only where the file ends; the rest
  // of dest is left as it was.
  virtual ReadResult Read(std::string_view name, std::uint64_t offset,
                          std::span<std::uint8_t> dest) noexcept = 0;
};

// A container that is going away with its bytes (a temporary vector), as
// opposed to one that lives on or a view of bytes that others own.
template <typename Bytes>
concept TemporaryBytes = !std::is_lvalue_reference_v<Bytes> && !std::ranges::borrowed_range<Bytes>;

// Asks MemorySource::Add to keep a copy of the bytes.
struct CopyBytes {
  explicit CopyBytes() = default;
};
inline constexpr CopyBytes kCopy{};

// Files held in memory. Names are looked up as Windows does: the exact name,
// else the first in byte order of those that equal it ignoring the case of
// ASCII letters. Add and Read may be called from several threads.
class MemorySource final : public Source {
 public:
  MemorySource() noexcept;
  ~MemorySource() override;
  MemorySource(const MemorySource&) = delete;
  MemorySource& operator=(const MemorySource&) = delete;

  // Adds or replaces a file; NoMemory if it cannot be stored. The bytes are
  // the caller's and are not copied: they must outlive the source, so a
  // temporary (Add("x", Load())) does not compile.
  Status Add(std::string_view name, std::span<const std::uint8_t> bytes) noexcept;
  template <TemporaryBytes Bytes>
  Status Add(std::string_view name, Bytes&& temporary) = delete;
  // Adds or replaces a file with a copy of the bytes, which may then go.
  Status Add(std::string_view name, std::span<const std::uint8_t> bytes, CopyBytes) noexcept;
  ReadResult Read(std::string_view name, std::uint64_t offset,
                  std::span<std::uint8_t> dest) noexcept override;

 private:
  struct Files;
  std::unique_ptr<Files> files_;
};

// Files in a folder of the file system (the root of a mounted disc, or a
// copy of its files). A name may go through subfolders, separated by '/' or
// '\'; each part is looked up as Windows does (the exact name first, else
// one that differs only in the case of ASCII letters). Only regular files
// are read: a folder, a pipe or a device of that name cannot be opened, and
// no open waits. Paths are UTF-8 on every system. Reads may run on several
// threads at once.
class FolderSource final : public Source {
 public:
  explicit FolderSource(std::string folder) noexcept : folder_(std::move(folder)) {}
  ReadResult Read(std::string_view name, std::uint64_t offset,
                  std::span<std::uint8_t> dest) noexcept override;
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

// ---------------------------------------------------------------------------
// Decoded pictures

// A packed DIB read where it lies, without owning it: a Picture's (view()),
// or the global memory block of a classic decode. Everything a program
// needs to turn a picture into a file.
class PictureView {
 public:
  PictureView() noexcept = default;
  // Reads the BITMAPINFOHEADER at the start of `dib`. nullopt unless it
  // says 4, 8 or 24 bits per pixel and `dib` holds the colour table of that
  // depth and biSizeImage bytes of rows after the header. Nothing else of
  // the header is checked: a row that the rows do not hold reads as empty.
  static std::optional<PictureView> FromDib(std::span<const std::uint8_t> dib) noexcept;

  std::uint32_t width() const { return width_; }    // biWidth
  std::uint32_t height() const { return height_; }  // biHeight
  std::uint16_t bitCount() const { return bitCount_; }
  std::uint32_t stride() const { return stride_; }        // bytes of a row, padding included
  std::uint32_t imageSize() const { return imageSize_; }  // biSizeImage
  // The colour table: 16 or 256 RGBQUAD entries; empty for 24 bits.
  std::span<const std::uint8_t> colourTable() const;
  // All pixel rows, bottom-up: imageSize() bytes.
  std::span<const std::uint8_t> pixels() const;
  // Picture row y counted from the top, stride() bytes; empty for a row the
  // pixels do not hold.
  std::span<const std::uint8_t> row(std::uint32_t y) const;
  // Header, colour table and rows: the bytes a BMP file holds after its
  // BITMAPFILEHEADER.
  std::span<const std::uint8_t> dib() const { return dib_; }
  // That 14-byte BITMAPFILEHEADER.
  std::array<std::uint8_t, 14> BmpFileHeader() const;

 private:
  std::span<const std::uint8_t> dib_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint16_t bitCount_ = 0;
  std::uint32_t stride_ = 0;
  std::uint32_t imageSize_ = 0;
  std::uint32_t pixelOffset_ = 0;
};

// A decoded picture: a packed DIB that it owns. Move-only; a moved-from
// Picture is empty, like one made by default: all sizes 0, all spans empty.
// The spans point into the Picture, so they are not taken from a temporary.
class Picture {
 public:
  Picture() noexcept = default;
  Picture(Picture&& other) noexcept;
  Picture& operator=(Picture&& other) noexcept;

  std::uint32_t width() const { return view_.width(); }
  std::uint32_t height() const { return view_.height(); }
  std::uint16_t bitCount() const { return view_.bitCount(); }  // 4, 8 or 24
  std::uint32_t stride() const { return view_.stride(); }      // bytes from one row to the next
  // The colour table: 16 or 256 RGBQUAD entries (4 bytes each); empty for
  // 24-bit pictures. A 128-colour picture has entries 128 to 255 all 0.
  std::span<const std::uint8_t> colourTable() const& { return view_.colourTable(); }
  std::span<const std::uint8_t> colourTable() const&& = delete;
  // All pixel rows, bottom-up (stride() bytes each).
  std::span<const std::uint8_t> pixels() const& { return view_.pixels(); }
  std::span<const std::uint8_t> pixels() const&& = delete;
  // Picture row y counted from the top, stride() bytes (padding included);
  // empty for y >= height().
  std::span<const std::uint8_t> row(std::uint32_t y) const& { return view_.row(y); }
  std::span<const std::uint8_t> row(std::uint32_t y) const&& = delete;
  // The whole DIB: header, colour table, rows.
  std::span<const std::uint8_t> dib() const& { return view_.dib(); }
  std::span<const std::uint8_t> dib() const&& = delete;
  // The 14-byte BITMAPFILEHEADER that makes dib() a BMP file.
  std::array<std::uint8_t, 14> BmpFileHeader() const { return view_.BmpFileHeader(); }
  // The picture as a view (empty for an empty Picture).
  PictureView view() const& { return view_; }
  PictureView view() const&& = delete;
  // True when a source file ended before a range that was read from it:
  // the missing bytes were read as 0.
  bool missingSourceBytes() const { return missing_; }

 private:
  friend class PictureMaker;
  struct FreeBytes {
    void operator()(std::uint8_t* bytes) const noexcept;
  };
  std::unique_ptr<std::uint8_t[], FreeBytes> bytes_;
  PictureView view_;  // of bytes_
  bool missing_ = false;
};

// A value or the Status that stands in for it, never both: a failed
// Result holds no value at all. The value is reached only through a Result
// that lives on: *Decode(...) and Decode(...)->dib() do not compile, since
// the temporary and its picture go at the end of the statement. Reaching
// the value of a failed Result is a fault of the caller (checked in debug
// builds).
template <typename T>
class Result {
 public:
  Result(T value) noexcept : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  // Any status but Ok (Ok is taken as Unsupported: a success has a value).
  Result(Status status) noexcept  // NOLINT: a failure
      : state_(std::in_place_index<1>, status == Status::Ok ? Status::Unsupported : status) {}
  explicit operator bool() const { return state_.index() == 0; }
  Status status() const { return state_.index() == 0 ? Status::Ok : std::get<1>(state_); }
  T& operator*() & { return Value(); }
  const T& operator*() const& { return Value(); }
  T* operator->() & { return &Value(); }
  const T* operator->() const& { return &Value(); }
  void operator*() const&& = delete;
  void operator->() const&& = delete;

 private:
  T& Value() {
    assert(state_.index() == 0);
    return *std::get_if<0>(&state_);
  }
  const T& Value() const {
    assert(state_.index() == 0);
    return *std::get_if<0>(&state_);
  }
  std::variant<T, Status> state_;
};

// ---------------------------------------------------------------------------
// Decoding

// What a decode may take on, checked for every picture (each layer of a
// composite included) before anything is allocated for it: a picture wider
// or higher than the limits, a DIB larger than maxPictureBytes or a range
// to read larger than maxReadBytes gives TooLarge, and Problem::field says
// which ("Width 20000 is over the width limit of 16384"). Whatever the
// limits, a range to read is a 32-bit size in the descriptor, and one over
// 2 GiB - 1 bytes gives NoMemory. The byte limits are what bound the
// memory of a decode; by default the width and height are bounded only by
// their 16-bit fields.
struct Limits {
  std::uint64_t maxPictureBytes = std::uint64_t{256} << 20;  // a decoded DIB, each layer included
  std::uint64_t maxReadBytes = std::uint64_t{256} << 20;     // one range read from a source
  std::uint32_t maxWidth = 0xFFFF;                           // pixels
  std::uint32_t maxHeight = 0xFFFF;                          // pixels
};

struct DecodeOptions {
  // Draw the picture over its Backdrop (at PosX, PosY, colour index 0
  // transparent) on a 24-bit canvas the backdrop's size; without a Backdrop
  // the picture is decoded alone.
  bool backdrop = false;
  Limits limits;
  // Composites within composites go this deep at most (TooDeep beyond).
  int maxNesting = 16;
  // Called when a composite fails after asking for its canvas (its canvas
  // or a layer could not be had); the decode then returns the status. The
  // classic entry points show their "Step err" box here. Null: nothing.
  void (*onCompositeFailure)(void* context, Status status, bool canvas) = nullptr;
  void* context = nullptr;
};

// Where a failure came from, for messages.
struct Problem {
  std::string file;       // the source file that could not be opened or read; empty if none
  std::error_code error;  // the system's reason, if it gave one
  // For BadDescriptor: the field at fault, as a path from the descriptor
  // given ("PixSize", "Extra->Size", "Backdrop->PalFile",
  // "Extra->Items[1].Image->Extra->Count"), and what is wrong with it
  // ("PixSize is 0"). For TooLarge: what passes which limit ("PixSize 5000
  // is over the read limit of 4096"). Empty otherwise.
  std::string field;
};

// Decodes the picture that `image` describes from `source`. `problem`, if
// given, is cleared and then names the file behind a CannotOpen or
// ReadFailed and the field behind a BadDescriptor.
//
// A descriptor is checked before anything is read: BadDescriptor, with the
// field named, for a zero Width, Height, PixSize, map Size or layer Count,
// a missing PixFile, PalFile (where a palette is read), map chunk, layer
// list, layer Items or layer Image, and a composite that contains itself.
// The classic entry points decode the same descriptors as the classic
// interface always has (cgvw_c.h lists their status for each fault).
Result<Picture> Decode(const TCGVwImage& image, Source& source, const DecodeOptions& options = {},
                       Problem* problem = nullptr) noexcept;

// What decoding a picture makes, worked out from its descriptor alone.
struct PictureInfo {
  std::uint32_t width = 0;          // pixels
  std::uint32_t height = 0;         // pixels
  std::uint16_t bitCount = 0;       // 4, 8 or 24
  std::uint32_t colourEntries = 0;  // of the colour table: 16, 256, or 0 for 24 bits
  std::uint32_t stride = 0;         // bytes of a row of the DIB, padding included
  std::uint64_t dibSize = 0;        // Picture::dib().size(): header, colour table and rows
};

// What Decode would make of `image` with these options, without reading or
// allocating anything: the descriptor checked as Decode checks it, then the
// picture's own Kind, Depth and size against the limits (Unsupported,
// BadDescriptor, TooLarge, TooDeep, with `problem` filled as Decode fills
// it). Under the backdrop option, the picture over its backdrop. An Ok is
// no promise that the decode succeeds: a source file may be missing, or a
// layer of a composite past the limits.
Result<PictureInfo> Inspect(const TCGVwImage& image, const DecodeOptions& options = {},
                            Problem* problem = nullptr) noexcept;

// One byte range that a decode reads from a source file.
struct SourceRange {
  const char* role = "";  // "palette", "map", "tiles" or "pixels"
  const char* file = "";  // the descriptor's file name
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};
// The ranges that decoding a plain or tiled picture reads, in the order it
// reads them: its palette, its tile map (unless generated) and its pixels
// or tiles; none for a composite (its layers are pictures of their own) or
// a descriptor that nothing decodes.
struct SourceRanges {
  std::array<SourceRange, 3> items;
  std::size_t count = 0;
  const SourceRange* begin() const { return items.data(); }
  const SourceRange* end() const { return items.data() + count; }
};
SourceRanges RangesOf(const TCGVwImage& image) noexcept;

// ---------------------------------------------------------------------------
// To C

// A source handle of the C API (cgvw/decode_c.h) that owns `source`, so that
// C code decodes from a source made in C++; cgvw_source_free frees it. Null
// if there is no memory for the handle (the source then goes).
cgvw_source* MakeCSource(std::unique_ptr<Source> source) noexcept;

}  // namespace cgvw
