// The two ways in: the classic dispatch with its operation tables, and the
// typed API over the same decoders. Slots 0, 1 and 3 of the decoder table
// hold the real decoders; the classic tests stay with the kinds that have
// none. The typed API must give, from any source, the bytes that the
// classic entry points give, and keep to the caller's limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "cgvw/decode.h"
#include "dib_test_util.h"
#include "test_support.h"

namespace {

using testing_support::NothingHeld;

platform::HGLOBAL const kStale = reinterpret_cast<platform::HGLOBAL>(0x5a5a5a);

TCGVwImage Picture(std::uint32_t flags, const TCGVwImage* backdrop = nullptr) {
  return TCGVwImage{flags, 16, 16, 3, 4, backdrop, nullptr, 0, nullptr, 0, 0, nullptr};
}

std::int32_t Decode(const TCGVwImage& image, const std::uint32_t* flag, platform::HGLOBAL* slot) {
  const TCGVwImage* pointer = &image;
  *slot = kStale;
  return CGVwDecode(&pointer, flag, slot);
}

bool IsEmptyKind(std::uint32_t kind) {
  return kind == 2 || kind >= 4;
}

TEST(Dispatch, KindsWithoutADecoderAreRefused) {
  testing_support::FaultScope faults;
  const std::uint32_t off = 0;
  for (std::uint32_t kind = 0; kind < 32; ++kind) {
    if (!IsEmptyKind(kind)) {
      continue;
    }
    // Only bits 0-4 choose the slot: every other bit may be set.
    for (std::uint32_t others : {0x0u, 0x241u & ~0x1Fu, 0xFFFFFFE0u}) {
      platform::HGLOBAL slot;
      EXPECT_EQ(Decode(Picture(others | kind), &off, &slot), -1) << kind << " " << others;
      EXPECT_EQ(slot, nullptr) << kind << " " << others;
    }
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST(Dispatch, BackdropOptionNeedsBothAFlagAndABackdrop) {
  testing_support::FaultScope faults;
  // Were the backdrop option taken, the composite decoder would obtain a
  // canvas and fail on this backdrop with its error box.
  const TCGVwImage backdrop = Picture(0x2);
  const TCGVwImage alone = Picture(0x2);
  const TCGVwImage withBackdrop = Picture(0x2, &backdrop);
  platform::HGLOBAL slot;

  // A missing flag counts as 0: the picture is decoded alone.
  EXPECT_EQ(Decode(withBackdrop, nullptr, &slot), -1);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Decode(alone, nullptr, &slot), -1);
  EXPECT_EQ(slot, nullptr);
  const std::uint32_t zero = 0;
  EXPECT_EQ(Decode(withBackdrop, &zero, &slot), -1);
  EXPECT_EQ(slot, nullptr);

  // A set flag without a backdrop decodes the picture alone too.
  for (std::uint32_t flag : {1u, 2u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Decode(alone, &flag, &slot), -1) << flag;
    EXPECT_EQ(slot, nullptr) << flag;
  }
  EXPECT_EQ(platform::faults::Calls(platform::faults::Point::GlobalAlloc), 0);
  EXPECT_EQ(platform::faults::Calls(platform::faults::Point::MessageBox), 0);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// A null argument record, descriptor or result slot is refused with -1 by
// every entry point; nothing is read, allocated or written. A valid
// descriptor stands beside each null pointer, so that only the null one
// can be the reason.
TEST(Dispatch, NullPointersAreRefused) {
  testing_support::FaultScope faults;
  testing_support::TestDrive drive;
  const std::vector<std::uint8_t> disc = testing_support::sample::DiscBytes();
  drive.WriteFile(testing_support::sample::kDisc, disc);
  const TCGVwImage picture = testing_support::sample::Plain(0x40, 5, 3, 15);
  const TCGVwImage* pointer = &picture;
  const TCGVwImage* none = nullptr;
  std::uint8_t dest[1024];
  std::int32_t count = 0;
  const TArgs_CGVwReadFile00 read{dest, testing_support::sample::kDisc, 0, 16};
  const TArgs_CGVwReadFile00 noBuffer{nullptr, testing_support::sample::kDisc, 0, 16};
  const TArgs_CGVwGetPalette00 palette{dest, &picture, 0};
  const TArgs_CGVwGetPalette00 noDest{nullptr, &picture, 0};
  const TArgs_CGVwGetPalette00 noWords{dest, nullptr, 1};
  const TCGVwPalInfo words{4, 0};
  const TArgs_CGVwMakeInfoHeader00 header{dest, &picture};
  const TArgs_CGVwMakeInfoHeader00 noImage{dest, nullptr};
  const TArgs_CGVwMakeInfoHeader00 noHeader{nullptr, &picture};
  platform::HGLOBAL slot = kStale;
  struct Case {
    const char* what;
    TCGVwOperation operation;
    const void* args;
    const void* second;
    void* result;
  };
  const Case cases[] = {
      {"decode, no descriptor pointer", CGVwDecode, nullptr, nullptr, &slot},
      {"decode, null descriptor", CGVwDecode, &none, nullptr, &slot},
      {"decode, no result slot", CGVwDecode, &pointer, nullptr, nullptr},
      {"plain, no descriptor pointer", CGVwDecodePlain, nullptr, nullptr, &slot},
      {"plain, no result slot", CGVwDecodePlain, &pointer, nullptr, nullptr},
      {"tiled, no result slot", CGVwDecodeTiled, &pointer, nullptr, nullptr},
      {"composite, no result slot", CGVwDecodeComposite, &pointer, nullptr, nullptr},
      {"read, no record", CGVwReadFile, nullptr, nullptr, &count},
      {"read, no result slot", CGVwReadFile, &read, nullptr, nullptr},
      {"read, no buffer", CGVwReadFile, &noBuffer, nullptr, &count},
      {"palette, no record", CGVwGetPalette, nullptr, nullptr, &count},
      {"palette, no result slot", CGVwGetPalette, &palette, nullptr, nullptr},
      {"palette, no destination", CGVwGetPalette, &noDest, nullptr, &count},
      {"palette, no words", CGVwGetPalette, &noWords, &words, &count},
      {"header, no record", CGVwMakeInfoHeader, nullptr, nullptr, &count},
      {"header, no result slot", CGVwMakeInfoHeader, &header, nullptr, nullptr},
      {"header, no descriptor", CGVwMakeInfoHeader, &noImage, nullptr, &count},
      {"header, no destination", CGVwMakeInfoHeader, &noHeader, nullptr, &count},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    platform::faults::Reset();
    slot = kStale;
    count = 7;
    EXPECT_EQ(test.operation(test.args, test.second, test.result), kCGVwUnsupported);
    if (test.result == &slot) {
      EXPECT_EQ(slot, nullptr);
    }
    for (const auto point :
         {platform::faults::Point::GlobalAlloc, platform::faults::Point::HeapBuffer,
          platform::faults::Point::FileOpen}) {
      EXPECT_EQ(platform::faults::Calls(point), 0);
    }
  }
  // The typed entry points of cgvw_c.h check the same.
  EXPECT_EQ(CGVwDecode(static_cast<const TCGVwImage* const*>(nullptr), nullptr, &slot),
            kCGVwUnsupported);
  EXPECT_EQ(CGVwDecode(&pointer, nullptr, static_cast<TCGVwHandle*>(nullptr)), kCGVwUnsupported);
  EXPECT_EQ(platform::faults::Calls(platform::faults::Point::GlobalAlloc), 0);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// Each per-kind entry point takes only its own Kind: another kind's
// descriptor, whose Extra is another record or none, is refused with -1
// before anything kind-specific is read, allocated or opened. Every record
// lies on the heap at its exact size, so that a read past one is an
// AddressSanitizer report.
TEST(Dispatch, EachDecoderRefusesAnotherKindsDescriptorUnread) {
  testing_support::FaultScope faults;
  const auto chunk = std::make_unique<TCGVwChunk>(TCGVwChunk{"map.bin", 0, 16});
  const auto layer = std::make_unique<TCGVwLayer>();
  const auto layers = std::make_unique<TCGVwLayers>(TCGVwLayers{1, layer.get()});
  auto make = [](std::uint32_t flags, const void* extra) {
    return std::make_unique<TCGVwImage>(
        TCGVwImage{flags, 16, 16, 0, 0, nullptr, "pal.bin", 0, "pix.bin", 0, 256, extra});
  };
  const auto plain = make(0x40, nullptr);
  const auto plainWithList = make(0x60, layers.get());  // direct colour, as a canvas would be
  const auto tiled = make(0x241, chunk.get());
  const auto tiledDirect = make(0x261, chunk.get());  // the composite's depth, a chunk in Extra
  const auto composite = make(0x63, layers.get());
  const auto compositeIndexed = make(0x43, layers.get());
  const auto kind2 = make(0x242, layers.get());
  const auto kind31 = make(0x7F, chunk.get());
  layer->Image = plain.get();
  const TCGVwImage* descriptors[] = {plain.get(),       plainWithList.get(), tiled.get(),
                                     tiledDirect.get(), composite.get(),     compositeIndexed.get(),
                                     kind2.get(),       kind31.get()};
  const std::pair<TCGVwOperation, std::uint32_t> decoders[] = {
      {CGVwDecodePlain, 0}, {CGVwDecodeTiled, 1}, {CGVwDecodeComposite, 3}};
  for (const auto& [decoder, kind] : decoders) {
    for (const TCGVwImage* image : descriptors) {
      if ((image->Flags & 0x1F) == kind) {
        continue;
      }
      SCOPED_TRACE(::testing::Message()
                   << "decoder of kind " << kind << ", Flags 0x" << std::hex << image->Flags);
      platform::faults::Reset();
      platform::HGLOBAL slot = kStale;
      EXPECT_EQ(decoder(&image, nullptr, &slot), kCGVwUnsupported);
      EXPECT_EQ(slot, nullptr);
      for (const auto point :
           {platform::faults::Point::GlobalAlloc, platform::faults::Point::HeapBuffer,
            platform::faults::Point::FileOpen, platform::faults::Point::MessageBox}) {
        EXPECT_EQ(platform::faults::Calls(point), 0);
      }
    }
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// The untyped entry points cannot tell what their pointers point to; a
// debug build stops at one that is not aligned as it must be (here a
// descriptor where the address of a pointer to one belongs, whose Flags and
// Width read as a pointer).
TEST(Dispatch, DebugBuildAssertsOnAMisalignedDescriptorPointer) {
#ifdef NDEBUG
  GTEST_SKIP() << "assertions are compiled out";
#else
  const TCGVwOperation decode = CGVwDecode;
  platform::HGLOBAL slot = nullptr;
  EXPECT_DEATH(decode(&Catalogue[0].Image, nullptr, &slot), "alignof");
#endif
}

// ---------------------------------------------------------------------------
// The typed API

using namespace testing_support::sample;

// A descriptor is taken by reference and a picture given by value: a
// pointer to a descriptor, or a classic block handle where a Picture is
// wanted, does not compile.
template <typename Image>
concept TypedDecodeTakes = requires(Image image, cgvw::Source& source) {
  cgvw::Decode(image, source);
};
static_assert(TypedDecodeTakes<const TCGVwImage&>);
static_assert(!TypedDecodeTakes<const TCGVwImage*>);
static_assert(!TypedDecodeTakes<TCGVwImage*>);
static_assert(!std::is_convertible_v<platform::HGLOBAL, const cgvw::Picture&>);
static_assert(!std::is_constructible_v<cgvw::Picture, platform::HGLOBAL>);
static_assert(!std::is_copy_constructible_v<cgvw::Picture>);

using testing_support::ClassicStatus;

struct TypedCase {
  const char* what;
  TCGVwImage image;
  bool backdrop = false;
};

class TypedApi : public ::testing::Test {
 protected:
  TypedApi() {
    disc_ = DiscBytes();
    drive_.WriteFile(kDisc, disc_);
    memory_.Add(kDisc, disc_);
  }

  // Every kind, depth and map layout, pictures that fail, and the backdrop
  // option; the descriptors point into this fixture.
  std::vector<TypedCase> Cases() {
    const TCGVwImage plain8 = Plain(0x40, 5, 3, 15);
    tiled_ = Tiled(0x241, 32, 24, &map16_);
    layers_[0] = {&tiled_, 0, 0, 0};
    layers_[1] = {&plain8_, 1, 30, 20};
    layers_[2] = {&plain4_, 0, 1, 1};
    layers_[3] = {&plain15_, 1, 2, 2};
    list_ = {4, layers_};
    badLayers_[0] = {nullptr, 0, 0, 0};
    badList_ = {1, badLayers_};
    TCGVwImage overBackdrop = plain8;
    overBackdrop.Backdrop = &tiled_;
    overBackdrop.PosX = 3;
    overBackdrop.PosY = 4;
    TCGVwImage missing = plain8;
    missing.PixFile = "missing.bin";
    std::vector<TypedCase> cases = {
        {"plain 4-bit", plain4_},
        {"plain 8-bit, 128 colours", Plain(0x20, 5, 3, 15)},
        {"plain 8-bit", plain8},
        {"plain 15-bit, little-endian", Plain(0x160, 5, 3, 30)},
        {"plain 15-bit, short data", Plain(0x60, 7, 5, 30)},
        {"generated 16-bit map", Tiled(0x241, 32, 32, &generated16_)},
        {"generated 32-bit map", Tiled(0x441, 32, 32, &generated32_)},
        {"composite", {0x63, 33, 21, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &list_}},
        {"backdrop option", overBackdrop, true},
        {"missing pixel file", missing},
        {"depth code 5", Plain(0xA0, 5, 3, 15)},
        {"tiled without a map", Tiled(0x241, 32, 24, nullptr)},
        {"tiled direct colour", Tiled(0x261, 32, 24, &map16_)},
        {"layer without a picture",
         {0x63, 8, 8, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &badList_}},
        {"kind 2", Plain(0x42, 5, 3, 15)},
    };
    for (std::uint32_t depth : {0x00u, 0x20u, 0x40u}) {
      for (const auto& [layout, map] :
           {std::pair{0x200u, &map16_}, std::pair{0x400u, &map32_}, std::pair{0xC00u, &cells_}}) {
        cases.push_back({"tiled", Tiled(0x01 | depth | layout, 32, 24, map)});
      }
    }
    return cases;
  }

  testing_support::FaultScope faults_;
  testing_support::TestDrive drive_;
  std::vector<std::uint8_t> disc_;
  cgvw::MemorySource memory_;
  const TCGVwChunk map16_{kDisc, kMap16, 16 * 2};
  const TCGVwChunk map32_{kDisc, kMap32, 16 * 4};
  const TCGVwChunk cells_{kDisc, kCells, 64 * 2};
  const TCGVwChunk generated16_{nullptr, 0, 16 * 2};
  const TCGVwChunk generated32_{nullptr, 0, 16 * 4};
  const TCGVwImage plain4_ = Plain(0x00, 5, 3, 8);
  const TCGVwImage plain8_ = Plain(0x40, 5, 3, 15);
  const TCGVwImage plain15_ = Plain(0x60, 5, 3, 30);
  TCGVwImage tiled_{};
  TCGVwLayer layers_[4]{};
  TCGVwLayers list_{};
  TCGVwLayer badLayers_[1]{};
  TCGVwLayers badList_{};
};

TEST_F(TypedApi, EverySourceGivesTheBytesOfTheClassicEntryPoints) {
  cgvw::FolderSource folder(drive_.drive().string());
  cgvw::DriveSource drive;
  for (const TypedCase& test : Cases()) {
    SCOPED_TRACE(test.what);
    const std::uint32_t flag = test.backdrop ? 1 : 0;
    ::testing::internal::CaptureStderr();  // the classic error box
    const testing_support::Decoded classic =
        testing_support::DecodeWith(CGVwDecode, test.image, &flag);
    ::testing::internal::GetCapturedStderr();
    const long boxes = platform::faults::Calls(platform::faults::Point::MessageBox);
    cgvw::DecodeOptions options;
    options.backdrop = test.backdrop;
    for (cgvw::Source* source : std::initializer_list<cgvw::Source*>{&memory_, &folder, &drive}) {
      const cgvw::Result<cgvw::Picture> typed = cgvw::Decode(test.image, *source, options);
      ASSERT_EQ(ClassicStatus(typed.status()), classic.status);
      if (!typed) {
        continue;
      }
      const std::span<const std::uint8_t> dib = typed->dib();
      ASSERT_LE(dib.size(), classic.bytes.size());
      EXPECT_TRUE(std::equal(dib.begin(), dib.end(), classic.bytes.begin()));
      EXPECT_EQ(typed->bitCount(), classic.U16(14));
      EXPECT_EQ(typed->pixels().size(), classic.U32(20));
      EXPECT_EQ(typed->width(), classic.U32(4));
    }
    // The typed API shows no box, whatever fails.
    EXPECT_EQ(platform::faults::Calls(platform::faults::Point::MessageBox), boxes);
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST_F(TypedApi, APictureSaysWhatItIs) {
  // Five pixels across, three rows: 8-bit rows of 8 bytes, the top row first
  // in row(0) and last in the DIB.
  const auto picture = cgvw::Decode(Plain(0x40, 5, 3, 15), memory_);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width(), 5u);
  EXPECT_EQ(picture->height(), 3u);
  EXPECT_EQ(picture->stride(), 8u);
  EXPECT_EQ(picture->colourTable().size(), 1024u);
  EXPECT_EQ(picture->pixels().size(), 24u);
  EXPECT_EQ(picture->row(0)[0], disc_[0x200]);
  EXPECT_EQ(picture->row(2)[4], disc_[0x200 + 14]);
  EXPECT_EQ(picture->row(2).data(), picture->pixels().data());
  EXPECT_TRUE(picture->row(3).empty());
  EXPECT_FALSE(picture->missingSourceBytes());
  const auto header = picture->BmpFileHeader();
  EXPECT_EQ(header[0], 'B');
  EXPECT_EQ(cgvw::LoadLE32(&header[2]), 14u + 40 + 1024 + 24);
  EXPECT_EQ(cgvw::LoadLE32(&header[10]), 1078u);

  // A range that the file ends inside: the missing bytes read as 0, and
  // the picture says so.
  const std::vector<std::uint8_t> shortDisc(disc_.begin(), disc_.begin() + 0x205);
  cgvw::MemorySource shortSource;
  shortSource.Add("SWEEP.BIN", shortDisc);  // found ignoring case
  const auto shortPicture = cgvw::Decode(Plain(0x40, 5, 3, 15), shortSource);
  ASSERT_TRUE(shortPicture);
  EXPECT_TRUE(shortPicture->missingSourceBytes());
  EXPECT_EQ(shortPicture->row(1)[0], 0);

  // A failed decode holds its status and no picture; an empty picture's
  // every part is empty.
  cgvw::MemorySource nothing;
  const auto failed = cgvw::Decode(Plain(0x40, 5, 3, 15), nothing);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.status(), cgvw::Status::CannotOpen);
  const cgvw::Picture empty;
  for (const auto part : {empty.dib(), empty.colourTable(), empty.pixels(), empty.row(0)}) {
    EXPECT_TRUE(part.empty());
  }
}

TEST_F(TypedApi, LimitsRefuseADescriptorBeforeAnythingIsAllocatedOrRead) {
  const TCGVwChunk bigMap{kDisc, kMap16, 5000};
  const TCGVwLayer layer{&plain8_, 0, 0, 0};
  const TCGVwLayers oneLayer{1, &layer};
  struct Case {
    const char* what;
    TCGVwImage image;
    cgvw::Limits limits;
  };
  const Case cases[] = {
      {"plain picture", Plain(0x60, 4000, 4000, 30), {1 << 20, 1 << 20}},
      {"plain pixel range", Plain(0x40, 5, 3, 5000), {1 << 20, 4096}},
      {"tiled picture", Tiled(0x241, 2048, 2048, &map16_), {1 << 20, 1 << 20}},
      {"tiled map range", Tiled(0x241, 32, 24, &bigMap), {1 << 20, 4096}},
      {"composite canvas",
       {0x63, 1000, 1000, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &oneLayer},
       {1 << 20, 1 << 20}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    platform::faults::Reset();
    cgvw::DecodeOptions options;
    options.limits = test.limits;
    EXPECT_EQ(cgvw::Decode(test.image, memory_, options).status(), cgvw::Status::TooLarge);
    EXPECT_EQ(platform::faults::Calls(platform::faults::Point::HeapBuffer), 0);
  }
  // Within the limits the same picture decodes.
  cgvw::DecodeOptions roomy;
  roomy.limits = {64 << 20, 1 << 20};
  EXPECT_TRUE(cgvw::Decode(Plain(0x60, 4000, 4000, 30), memory_, roomy));
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST_F(TypedApi, FailuresSayWhichFileAndWhy) {
  cgvw::FolderSource folder(drive_.drive().string());
  TCGVwImage missing = Plain(0x40, 5, 3, 15);
  missing.PixFile = "nowhere.btx";
  cgvw::Problem problem;
  EXPECT_EQ(cgvw::Decode(missing, folder, {}, &problem).status(), cgvw::Status::CannotOpen);
  EXPECT_EQ(problem.file, "nowhere.btx");
  EXPECT_EQ(problem.error, std::errc::no_such_file_or_directory);
  EXPECT_STREQ(cgvw::StatusText(cgvw::Status::CannotOpen), "a source file cannot be opened");

  // The caller hears of a failing composite through its hook, once.
  struct Heard {
    int calls = 0;
    cgvw::Status status = cgvw::Status::Ok;
  } heard;
  cgvw::DecodeOptions options;
  options.context = &heard;
  options.onCompositeFailure = [](void* context, cgvw::Status status, bool canvas) {
    auto* h = static_cast<Heard*>(context);
    ++h->calls;
    h->status = status;
    EXPECT_FALSE(canvas);
  };
  const TCGVwLayer layer{&missing, 0, 0, 0};
  const TCGVwLayers list{1, &layer};
  const TCGVwImage composite{0x63, 8, 8, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &list};
  EXPECT_EQ(cgvw::Decode(composite, folder, options).status(), cgvw::Status::CannotOpen);
  EXPECT_EQ(heard.calls, 1);
  EXPECT_EQ(heard.status, cgvw::Status::CannotOpen);
}

// Every fault of a descriptor that cgvw_c.h and the README list: the
// status of the classic entry points (the dispatch and the decoder of the
// descriptor's Kind alike) with their "Step err" boxes, and the typed
// API's, which names a field that is missing or zero.
TEST_F(TypedApi, DescriptorFaultsNameTheFieldAndKeepTheirClassicCodes) {
  TCGVwImage noPixels = plain8_;
  noPixels.PixSize = 0;
  TCGVwImage noPalette = plain8_;
  noPalette.PalFile = nullptr;
  TCGVwImage noPixelFile = plain8_;
  noPixelFile.PixFile = nullptr;
  TCGVwImage noTileFile = Tiled(0x241, 32, 24, &map16_);
  noTileFile.PixFile = nullptr;
  TCGVwImage noWidth = plain8_;
  noWidth.Width = 0;
  TCGVwImage noHeight = Tiled(0x241, 32, 0, &map16_);
  TCGVwImage direct = plain15_;  // reads no palette
  direct.PalFile = nullptr;
  const TCGVwChunk emptyMap{kDisc, kMap16, 0};
  const TCGVwImage noMap = Tiled(0x241, 32, 24, &emptyMap);
  const TCGVwImage noChunk = Tiled(0x241, 32, 24, nullptr);
  auto composite = [](const TCGVwLayers* list) {
    return TCGVwImage{0x63, 16, 16, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, list};
  };
  const TCGVwLayers none{0, nullptr};
  const TCGVwLayers noItems{1, nullptr};
  const TCGVwLayer nobody{nullptr, 0, 0, 0};
  const TCGVwLayers nobodyList{1, &nobody};
  const TCGVwLayer inner{&noPixels, 0, 0, 0};
  const TCGVwLayers innerList{1, &inner};
  const TCGVwImage innerComposite = composite(&innerList);
  const TCGVwLayer outer[2] = {{&plain8_, 0, 0, 0}, {&innerComposite, 0, 0, 0}};
  const TCGVwLayers outerList{2, outer};
  TCGVwImage itself = composite(nullptr);
  const TCGVwLayer loop{&itself, 0, 0, 0};
  const TCGVwLayers loopList{1, &loop};
  itself.Extra = &loopList;
  const TCGVwImage composites[] = {composite(nullptr), composite(&none), composite(&noItems),
                                   composite(&nobodyList), composite(&outerList)};
  const TCGVwLayers plainList{1, outer};
  TCGVwImage emptyCanvas = composite(&plainList);
  emptyCanvas.Width = 0;
  TCGVwImage overEmpty = plain8_;
  overEmpty.Backdrop = &noPixels;
  TCGVwImage paletteless = noPalette;
  paletteless.Backdrop = &plain8_;
  TCGVwImage depth5 = plain8_;
  depth5.Flags = 0xA0;
  const TCGVwImage tiledDirect = Tiled(0x261, 32, 24, &map16_);
  TCGVwImage indexedCanvas = composite(&plainList);
  indexedCanvas.Flags = 0x43;
  TCGVwImage missingFile = plain8_;
  missingFile.PixFile = "missing.bin";
  constexpr cgvw::Status kBad = cgvw::Status::BadDescriptor;
  constexpr cgvw::Status kOk = cgvw::Status::Ok;
  struct Case {
    cgvw::Status typed;
    const char* field;  // what the typed API names
    const TCGVwImage* image;
    std::int32_t classic;
    long boxes = 0;  // "Step err" boxes of a classic decode
    bool backdrop = false;
  };
  const Case cases[] = {
      {kBad, "PixSize is 0", &noPixels, kCGVwNoMemory},
      {kBad, "PalFile is null", &noPalette, kCGVwUnsupported},
      {kBad, "PixFile is null", &noPixelFile, kCGVwUnsupported},
      {kBad, "PixFile is null", &noTileFile, kCGVwUnsupported},
      {kBad, "Width is 0", &noWidth, kCGVwOk},    // a block of no rows
      {kBad, "Height is 0", &noHeight, kCGVwOk},  // the same
      {kBad, "Width is 0", &emptyCanvas, kCGVwOk},
      {kOk, "", &direct, kCGVwOk},
      {kBad, "Extra->Size is 0", &noMap, kCGVwNoMemory},
      {kBad, "Extra is null", &noChunk, kCGVwUnsupported},
      {kBad, "Extra is null", &composites[0], kCGVwUnsupported},
      {kBad, "Extra->Count is 0", &composites[1], kCGVwOk},  // a black canvas
      {kBad, "Extra->Items is null", &composites[2], kCGVwUnsupported},
      {kBad, "Extra->Items[0].Image is null", &composites[3], kCGVwUnsupported, 1},
      {kBad, "Extra->Items[1].Image->Extra->Items[0].Image->PixSize is 0", &composites[4],
       kCGVwNoMemory, 2},
      {kBad, "Extra->Items[0].Image is a composite that contains it", &itself, kCGVwUnsupported,
       16},
      {kBad, "Backdrop->PixSize is 0", &overEmpty, kCGVwNoMemory, 1, true},
      {kBad, "PalFile is null", &paletteless, kCGVwUnsupported, 1, true},
      {kOk, "", &overEmpty, kCGVwOk},  // the backdrop is not decoded
      // Faults that are no missing field.
      {cgvw::Status::Unsupported, "", &depth5, kCGVwUnsupported},
      {cgvw::Status::Unsupported, "", &tiledDirect, kCGVwUnsupported},
      {cgvw::Status::Unsupported, "", &indexedCanvas, kCGVwUnsupported},
      {cgvw::Status::CannotOpen, "", &missingFile, kCGVwCannotOpen},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::Message()
                 << test.field << " (Flags 0x" << std::hex << test.image->Flags << ")");
    cgvw::DecodeOptions options;
    options.backdrop = test.backdrop;
    cgvw::Problem problem;
    const auto typed = cgvw::Decode(*test.image, memory_, options, &problem);
    EXPECT_EQ(typed.status(), test.typed);
    EXPECT_EQ(problem.field, test.field);
    const std::uint32_t flag = test.backdrop ? 1 : 0;
    ::testing::internal::CaptureStderr();  // the classic error box
    platform::faults::Reset();
    EXPECT_EQ(testing_support::DecodeWith(CGVwDecode, *test.image, &flag).status, test.classic);
    EXPECT_EQ(platform::faults::Calls(platform::faults::Point::MessageBox), test.boxes);
    if (!test.backdrop) {  // the decoder of its Kind, called directly
      const TCGVwOperation decoder = DecoderTable[test.image->Flags & 0x1F];
      EXPECT_EQ(testing_support::DecodeWith(decoder, *test.image).status, test.classic);
    }
    ::testing::internal::GetCapturedStderr();
  }
  EXPECT_STREQ(cgvw::StatusText(cgvw::Status::BadDescriptor),
               "a descriptor field is missing or zero");
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// A moved-from Picture is an empty one: nothing in it points at the bytes
// that went to the new owner.
TEST_F(TypedApi, AMovedFromPictureIsEmpty) {
  auto decoded = cgvw::Decode(plain8_, memory_);
  ASSERT_TRUE(decoded);
  const std::vector<std::uint8_t> bytes(decoded->dib().begin(), decoded->dib().end());
  auto expectEmpty = [](const cgvw::Picture& picture) {
    EXPECT_EQ(picture.width(), 0u);
    EXPECT_EQ(picture.height(), 0u);
    EXPECT_EQ(picture.bitCount(), 0u);
    EXPECT_EQ(picture.stride(), 0u);
    EXPECT_FALSE(picture.missingSourceBytes());
    for (const auto part :
         {picture.dib(), picture.colourTable(), picture.pixels(), picture.row(0)}) {
      EXPECT_TRUE(part.empty());
      EXPECT_EQ(part.data(), nullptr);
    }
  };
  cgvw::Picture kept = std::move(*decoded);
  expectEmpty(*decoded);
  cgvw::Picture assigned;
  assigned = std::move(kept);
  expectEmpty(kept);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), assigned.dib().begin(), assigned.dib().end()));
  EXPECT_EQ(assigned.row(0).data(), assigned.dib().data() + bytes.size() - 8);

  // The flag of missing bytes goes along too, by construction and by
  // assignment, and the moved-from picture has none.
  const std::vector<std::uint8_t> shortDisc(disc_.begin(), disc_.begin() + 0x205);
  cgvw::MemorySource shortSource;
  shortSource.Add(kDisc, shortDisc);
  auto incomplete = cgvw::Decode(plain8_, shortSource);
  ASSERT_TRUE(incomplete);
  ASSERT_TRUE(incomplete->missingSourceBytes());
  cgvw::Picture incompleteKept = std::move(*incomplete);
  expectEmpty(*incomplete);
  EXPECT_TRUE(incompleteKept.missingSourceBytes());
  assigned = std::move(incompleteKept);
  expectEmpty(incompleteKept);
  EXPECT_TRUE(assigned.missingSourceBytes());
}

// Add copies the bytes where asked to, so that they may go at once; a file
// added again replaces the earlier one, copied or not.
TEST_F(TypedApi, AMemorySourceCopiesWhereAsked) {
  cgvw::MemorySource copies;
  EXPECT_EQ(copies.Add(kDisc, std::vector<std::uint8_t>(disc_), cgvw::kCopy), cgvw::Status::Ok);
  const auto first = cgvw::Decode(plain8_, copies);
  ASSERT_TRUE(first);
  std::vector<std::uint8_t> changed = disc_;
  changed[0x200] ^= 0xFF;
  EXPECT_EQ(copies.Add(kDisc, std::vector<std::uint8_t>(changed), cgvw::kCopy), cgvw::Status::Ok);
  const auto second = cgvw::Decode(plain8_, copies);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->row(0)[0], first->row(0)[0] ^ 0xFF);
  EXPECT_EQ(copies.Add(kDisc, disc_), cgvw::Status::Ok);  // not copied: the caller's own
  const auto third = cgvw::Decode(plain8_, copies);
  ASSERT_TRUE(third);
  EXPECT_TRUE(std::ranges::equal(third->dib(), first->dib()));
}

// Classic and typed decodes on several threads at once, each typed one from
// a source of its own: every picture comes out whole and right, and the
// platform's tables and counters hold (the sanitizer stage runs this under
// ThreadSanitizer).
TEST_F(TypedApi, DecodesOnSeveralThreadsAtOnce) {
  const std::vector<TypedCase> cases = Cases();
  std::vector<std::vector<std::uint8_t>> expected;
  for (const TypedCase& test : cases) {
    cgvw::DecodeOptions options;
    options.backdrop = test.backdrop;
    const auto picture = cgvw::Decode(test.image, memory_, options);
    expected.emplace_back(
        picture ? std::vector<std::uint8_t>(picture->dib().begin(), picture->dib().end())
                : std::vector<std::uint8_t>{});
  }
  constexpr int kThreads = 6;
  constexpr int kRounds = 20;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  ::testing::internal::CaptureStderr();  // the classic error boxes
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      cgvw::MemorySource own;  // the typed threads share no source
      own.Add(kDisc, disc_);
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
          std::vector<std::uint8_t> got;
          if (t % 2 == 0) {
            const std::uint32_t flag = cases[i].backdrop ? 1 : 0;
            const auto classic = testing_support::DecodeWith(CGVwDecode, cases[i].image, &flag);
#ifdef _WIN32
            // Windows: the classic reader opens a file without sharing it,
            // as it always has, so another thread reading it at that moment
            // is told it cannot be opened. A refusal, never a wrong picture.
            if (classic.status == kCGVwCannotOpen && !expected[i].empty()) {
              continue;
            }
#endif
            got = classic.bytes;
            got.resize(std::min(got.size(), expected[i].size()));
          } else {
            cgvw::DecodeOptions options;
            options.backdrop = cases[i].backdrop;
            if (const auto picture = cgvw::Decode(cases[i].image, own, options)) {
              got.assign(picture->dib().begin(), picture->dib().end());
            }
          }
          wrong[t] += got != expected[i];
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

}  // namespace
