// The classic entry points of the CGVw decoding layer: a picture
// descriptor in, a DIB block out. New code may prefer the typed API of
// cgvw/decode.h, which decodes from any source into a Picture that owns its
// bytes; both run the same decoders and give the same bytes.
//
// Every operation takes three pointers (its argument record, a second
// argument, its result slot) and returns a status code; failures are
// returned, never thrown, and nothing is printed, except that a composite
// that fails after obtaining its canvas shows the modal "Step err" box
// (MessageBoxA; standard error where there is no window system).
//
// Ownership: a decoder's result slot receives the handle of an unlocked
// global memory block (platform/win_api.h) holding a packed DIB, which the
// caller then owns: lock it to read it, unlock it and free it with
// platform::GlobalFree (or hand it to a platform::GlobalBlock, which frees
// it). Descriptors and their names are only read.
//
// Byte layouts, fixed whatever the machine's byte order, are given in full
// in docs/formats.md: colour words (palettes, 15-bit pixels) have bit 15
// ignored, blue in bits 10-14, green in 5-9 and red in 0-4, stored
// big-endian unless the descriptor's SwapOff bit (0x100) is set; tile map
// entries are big-endian in every layout; the block is a 40-byte
// BITMAPINFOHEADER (little-endian fields), the colour table (16 RGBQUAD
// entries for 4 bits per pixel, 256 for 8, none for 24; blue, green, red and
// a reserved byte of 2), then the pixel rows bottom-up, each padded to a
// multiple of 4 bytes.
//
// Pointers: a null argument record, descriptor or result slot is refused
// with kCGVwUnsupported (-1), the code of a descriptor that nothing
// decodes, and nothing is read, allocated or written. The typed overloads of
// cgvw_c.h (extern "C", also callable from C) check the pointer types at
// compile time; the untyped ones below, which the tables hold, cannot, and
// assert in a debug build that their pointers are aligned for what they
// should point to.
//
// Threads: every operation may be called from several threads at once; the
// platform's block and file tables are shared safely. Every decode reads
// its files from the drive in SourceRoot, one buffer for the whole process:
// change it only while no decode runs (or use the typed API, whose sources
// are the caller's own).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "cgvw/cgvw_c.h"
#include "cgvw/decode.h"
#include "cgvw/descriptors.h"
#include "platform/win_api.h"

// Status codes (CGVW_OK and so on in cgvw_c.h):
//   kCGVwUnsupported  a kind, depth, mode or size not handled; a null pointer
//   kCGVwCannotOpen   a source file cannot be opened or read
//   kCGVwNoMemory     a block or buffer cannot be obtained or locked
inline constexpr std::int32_t kCGVwOk = CGVW_OK;
inline constexpr std::int32_t kCGVwUnsupported = CGVW_UNSUPPORTED;
inline constexpr std::int32_t kCGVwCannotOpen = CGVW_CANNOT_OPEN;
inline constexpr std::int32_t kCGVwNoMemory = CGVW_NO_MEMORY;

// The shape of every decoder and service.
using TCGVwOperation = std::int32_t (*)(const void* args, const void* second, void* result);

// Decoders by Kind (Flags AND 0x1F); an empty slot is null.
inline constexpr std::size_t kDecoderSlots = 32;
extern const std::array<TCGVwOperation, kDecoderSlots> DecoderTable;

// Services by fixed slot number; the other slots are empty.
inline constexpr std::size_t kServiceSlots = 8;
inline constexpr std::size_t kServiceReadFile = 0;
inline constexpr std::size_t kServiceGetPalette = 2;
inline constexpr std::size_t kServiceMakeInfoHeader = 6;
extern const std::array<TCGVwOperation, kServiceSlots> ServiceTable;

// ---------------------------------------------------------------------------
// Dispatch

// Decodes a picture. The typed overload of cgvw_c.h is the one a call with
// the right types picks; this one has the shape of the tables.
//   image: const TCGVwImage* const*, the picture to decode.
//   backdropFlag: const std::uint32_t*; non-zero (and a Backdrop in the
//     descriptor) draws the picture over its backdrop on a 24-bit canvas.
//     Null means 0.
//   result: platform::HGLOBAL*, the block on status 0, else null.
std::int32_t CGVwDecode(const void* image, const void* backdropFlag, void* result);

// The decoders of the table, same arguments (the second one is not read).
std::int32_t CGVwDecodePlain(const void* image, const void* reserved, void* result);
std::int32_t CGVwDecodeTiled(const void* image, const void* reserved, void* result);
std::int32_t CGVwDecodeComposite(const void* image, const void* reserved, void* result);

// A descriptor where the address of a pointer to one belongs
// (CGVwDecode(&Catalogue[0].Image, ...)) does not compile.
std::int32_t CGVwDecode(const TCGVwImage* image, const void* backdropFlag, void* result) = delete;
std::int32_t CGVwDecodePlain(const TCGVwImage* image, const void* reserved, void* result) = delete;
std::int32_t CGVwDecodeTiled(const TCGVwImage* image, const void* reserved, void* result) = delete;
std::int32_t CGVwDecodeComposite(const TCGVwImage* image, const void* reserved,
                                 void* result) = delete;

// Draws a tiled picture of Depth code 2 into the 8-bit bottom-up pixel rows
// at `dest` from its tile map and 64-byte tiles, by the MapLayout bits of the
// descriptor's Flags. Nothing is read outside `map` and `tiles` and nothing
// is written outside `dest`: a cell whose entry lies past the end of the map,
// or whose tiles lie outside the tile data, is not drawn. `dest` must not
// overlap `map` or `tiles`.
void CGVwRenderTiles(std::span<std::uint8_t> dest, std::span<const std::uint8_t> map,
                     std::span<const std::uint8_t> tiles, const TCGVwImage* image);

// ---------------------------------------------------------------------------
// Services

// Reads Size bytes at Offset of the file SourceRoot + FileName into Buffer.
struct TArgs_CGVwReadFile00 {
  std::uint8_t* Buffer = nullptr;  // at least Size bytes
  std::string FileName;
  std::int32_t Offset = 0;
  std::int32_t Size = 0;
};
// args: const TArgs_CGVwReadFile00*; reserved: not read; result: std::int32_t*,
// receives 0 on success. Status 0, -2 when the file cannot be opened or
// read, or -3 when there is no memory for its path. Bytes past the end of a
// short file are left as they were.
std::int32_t CGVwReadFile(const void* args, const void* reserved, void* result);

// Converts 15-bit colour words into RGBQUAD entries (blue, green, red, 2).
struct TArgs_CGVwGetPalette00 {
  std::uint8_t* Dest = nullptr;  // room for the colour count entries of 4 bytes
  const void* Source = nullptr;  // Mode 0: the TCGVwImage; Mode 1: the words
  std::int32_t Mode = 0;         // 0: read PalFile; 1: words in memory
};
struct TCGVwPalInfo {
  std::int32_t Count = 0;   // words to convert (Mode 1)
  std::int32_t NoSwap = 0;  // 0: big-endian words; else little-endian
};
// args: const TArgs_CGVwGetPalette00*; info: const TCGVwPalInfo* (Mode 1
// only); result: std::int32_t*, 0 on entry, the colour count on success.
std::int32_t CGVwGetPalette(const void* args, const void* info, void* result);

// Writes the 40-byte BITMAPINFOHEADER of a picture at Dest.
struct TArgs_CGVwMakeInfoHeader00 {
  std::uint8_t* Dest = nullptr;
  const TCGVwImage* Image = nullptr;
};
// args: const TArgs_CGVwMakeInfoHeader00*; reserved: not read; result:
// std::int32_t*, receives 0. Always returns 0.
std::int32_t CGVwMakeInfoHeader(const void* args, const void* reserved, void* result);

// SourceRoot (cgvw_c.h) is the drive prefix of every source path of the
// classic entry points and of cgvw::DriveSource. A decode reads it as it
// opens each file.
inline constexpr int kSourceRootSize = CGVW_SOURCE_ROOT_SIZE;

namespace cgvw {

// The classic drive: SourceRoot ("q:\") followed by the name, through the
// Windows file interface of platform/win_api.h (on POSIX drive X is the
// folder, or disc image, $TVRCGCV_DRIVE_ROOT/x). This is what the classic
// entry points read from. SourceRoot is one process-wide buffer: every
// DriveSource reads the drive letter that it holds at the time of the read.
class DriveSource final : public Source {
 public:
  ReadResult Read(std::string_view name, std::uint64_t offset,
                  std::span<std::uint8_t> dest) noexcept override;
};

}  // namespace cgvw
