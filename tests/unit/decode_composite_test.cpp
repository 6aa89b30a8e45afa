// The composite decoder and the backdrop option of the dispatch: layers
// painted in order on a 24-bit canvas, transparency, padding columns,
// layers that are decoded but not painted, clipping, and the failures that
// show the error box.
#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dib_test_util.h"
#include "test_support.h"

namespace {

using platform::faults::Calls;
using platform::faults::Point;
using testing_support::Bytes;
using testing_support::Decoded;
using testing_support::DecodeWith;
using testing_support::FaultScope;
using testing_support::NothingHeld;
using testing_support::TestDrive;

// Colour word of palette index k in the test palette: red k & 31, green
// (k >> 5) & 31, blue 31 - (k & 31), so every index used here looks different.
std::uint16_t Word(unsigned k) {
  return static_cast<std::uint16_t>((k & 31) | ((k >> 5) & 31) << 5 | (31 - (k & 31)) << 10);
}
std::array<std::uint8_t, 3> Bgr(unsigned k) {
  const std::uint16_t w = Word(k);
  auto scale = [](unsigned v) { return static_cast<std::uint8_t>(v * 255 / 31); };
  return {scale((w >> 10) & 31), scale((w >> 5) & 31), scale(w & 31)};
}
const std::array<std::uint8_t, 3> kBlack = {0, 0, 0};

class CompositeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bytes palette;
    for (unsigned k = 0; k < 256; ++k) {
      palette.BE16(Word(k));
    }
    drive.WriteFile("layers.bpl", palette.get());
    // The error boxes write their text on standard error in a test program:
    // captured, and checked to be one "Step err" line for each box shown.
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override {
    std::string boxes;
    for (long i = 0; i < Calls(Point::MessageBox); ++i) {
      boxes += "Step err\n";
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), boxes);
  }

  // An 8-bit plain layer whose pixels are `indices`, rows top first.
  const TCGVwImage& Layer(std::uint16_t width, std::uint16_t height,
                          const std::vector<std::uint8_t>& indices, std::uint32_t flags = 0x40) {
    const std::string name = "layer" + std::to_string(names.size()) + ".btx";
    names.push_back(name);
    drive.WriteFile(name, indices);
    images.push_back(std::make_unique<TCGVwImage>(
        TCGVwImage{flags, width, height, 0, 0, nullptr, "layers.bpl", 0, nullptr, 0,
                   static_cast<std::uint32_t>(indices.size()), nullptr}));
    images.back()->PixFile = names.back().c_str();
    return *images.back();
  }

  Decoded Compose(std::uint16_t width, std::uint16_t height, std::vector<TCGVwLayer> layers,
                  std::uint32_t flags = 0x63) {
    placements = std::move(layers);
    list = {static_cast<std::uint16_t>(placements.size()), placements.data()};
    composite = {flags, width, height, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &list};
    return DecodeWith(CGVwDecodeComposite, composite);
  }

  // Pixel (x, line) of a decoded canvas with the given row stride.
  static std::array<std::uint8_t, 3> At(const Decoded& d, std::size_t stride, std::size_t x,
                                        std::size_t line) {
    const std::size_t height = d.U32(8);
    const std::uint8_t* p = d.bytes.data() + 40 + (height - 1 - line) * stride + 3 * x;
    return {p[0], p[1], p[2]};
  }

  FaultScope faults;
  TestDrive drive;
  std::deque<std::string> names;
  std::vector<std::unique_ptr<TCGVwImage>> images;
  std::vector<TCGVwLayer> placements;
  TCGVwLayers list{};
  TCGVwImage composite{};
};

TEST_F(CompositeTest, NoLayersGiveABlackCanvas) {
  const auto d = Compose(5, 3, {});
  ASSERT_EQ(d.status, kCGVwOk);
  EXPECT_TRUE(d.wasUnlocked);
  ASSERT_EQ(d.bytes.size(), 40u + 3 * 16);  // rows of 15 bytes padded to 16
  EXPECT_EQ(d.U32(4), 5u);
  EXPECT_EQ(d.U16(14), 24u);
  EXPECT_EQ(d.U32(20), 48u);
  for (std::size_t i = 40; i < d.bytes.size(); ++i) {
    ASSERT_EQ(d.bytes[i], 0);
  }
  EXPECT_TRUE(NothingHeld());
}

TEST_F(CompositeTest, LaterLayersCoverEarlierOnesExceptWhereTransparent) {
  const TCGVwImage& back = Layer(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  const TCGVwImage& front = Layer(4, 1, {0, 9, 0, 10});
  auto d = Compose(8, 4, {{&back, 0, 1, 1}, {&front, 1, 2, 1}});
  ASSERT_EQ(d.status, kCGVwOk);
  const std::size_t stride = 24;
  EXPECT_EQ(At(d, stride, 0, 0), kBlack);
  EXPECT_EQ(At(d, stride, 1, 1), Bgr(1));
  EXPECT_EQ(At(d, stride, 4, 2), Bgr(8));
  EXPECT_EQ(At(d, stride, 2, 1), Bgr(2));  // front's index 0: back shows through
  EXPECT_EQ(At(d, stride, 3, 1), Bgr(9));
  EXPECT_EQ(At(d, stride, 4, 1), Bgr(4));   // transparent again
  EXPECT_EQ(At(d, stride, 5, 1), Bgr(10));  // beyond back: on black
  EXPECT_EQ(At(d, stride, 5, 2), kBlack);

  // Without the transparency flag index 0 is painted with entry 0's colour.
  d = Compose(8, 4, {{&back, 0, 1, 1}, {&front, 0, 2, 1}});
  ASSERT_EQ(d.status, kCGVwOk);
  EXPECT_EQ(At(d, stride, 2, 1), Bgr(0));
}

TEST_F(CompositeTest, PaddingColumnsOfANarrowLayerArePainted) {
  // A 3-pixel-wide layer covers 4 columns; its block holds 0 in the fourth.
  const TCGVwImage& layer = Layer(3, 1, {5, 6, 7});
  auto d = Compose(8, 1, {{&layer, 0, 2, 0}});
  ASSERT_EQ(d.status, kCGVwOk);
  EXPECT_EQ(At(d, 24, 4, 0), Bgr(7));
  EXPECT_EQ(At(d, 24, 5, 0), Bgr(0));
  EXPECT_EQ(At(d, 24, 6, 0), kBlack);

  d = Compose(8, 1, {{&layer, 1, 2, 0}});  // transparent: the padding index 0 is not painted
  EXPECT_EQ(At(d, 24, 5, 0), kBlack);
}

TEST_F(CompositeTest, CanvasOfWidthThreeKeepsItsFourthColumnUnlessPainted) {
  const TCGVwImage& layer = Layer(4, 1, {1, 2, 3, 4});
  auto d = Compose(3, 1, {});
  ASSERT_EQ(d.bytes.size(), 40u + 12);
  EXPECT_EQ(At(d, 12, 3, 0), kBlack);
  d = Compose(3, 1, {{&layer, 0, 0, 0}});
  EXPECT_EQ(At(d, 12, 3, 0), Bgr(4));
}

TEST_F(CompositeTest, LayersOfOtherDepthsAreDecodedButNotPainted) {
  const TCGVwImage& four = Layer(4, 1, {0x12, 0x34}, 0x00);
  const TCGVwImage& direct = Layer(2, 1, {0x7C, 0x00, 0x03, 0xE0}, 0x60);
  TCGVwLayers emptyList{0, nullptr};
  TCGVwImage nested{0x63, 2, 2, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &emptyList};
  const auto d = Compose(4, 2, {{&four, 0, 0, 0}, {&direct, 0, 0, 0}, {&nested, 0, 0, 0}});
  ASSERT_EQ(d.status, kCGVwOk);
  for (std::size_t i = 40; i < d.bytes.size(); ++i) {
    ASSERT_EQ(d.bytes[i], 0);
  }
  EXPECT_EQ(Calls(Point::FileOpen), 3);  // 4-bit palette and pixels, 15-bit pixels
  EXPECT_TRUE(NothingHeld());
}

TEST_F(CompositeTest, LayersAreClippedToTheCanvas) {
  std::vector<std::uint8_t> indices(6 * 5);
  for (std::size_t i = 0; i < indices.size(); ++i) {
    indices[i] = static_cast<std::uint8_t>(i + 1);
  }
  const TCGVwImage& big = Layer(6, 5, indices);  // padded to 8 columns
  // Over the right and bottom edges, and a second one wholly outside.
  auto d = Compose(4, 3, {{&big, 0, 1, 1}, {&big, 0, 40, 40}});
  ASSERT_EQ(d.status, kCGVwOk);
  ASSERT_EQ(d.bytes.size(), 40u + 3 * 12);
  EXPECT_EQ(At(d, 12, 0, 0), kBlack);
  EXPECT_EQ(At(d, 12, 1, 1), Bgr(1));
  EXPECT_EQ(At(d, 12, 3, 1), Bgr(3));
  EXPECT_EQ(At(d, 12, 3, 2), Bgr(9));
  EXPECT_EQ(At(d, 12, 0, 2), kBlack);

  // A 1-pixel-wide canvas has room for one pixel a row, not four.
  d = Compose(1, 2, {{&big, 0, 0, 0}});
  ASSERT_EQ(d.bytes.size(), 40u + 2 * 4);
  EXPECT_EQ(At(d, 4, 0, 1), Bgr(7));
  EXPECT_EQ(d.bytes[40 + 3], 0);  // the padding byte of the row
}

TEST_F(CompositeTest, FailingSecondLayerShowsOneBoxAndFreesEverything) {
  const TCGVwImage& good = Layer(4, 1, {1, 2, 3, 4});
  TCGVwImage missing = good;
  missing.PixFile = "nowhere.btx";
  const auto d = Compose(4, 1, {{&good, 0, 0, 0}, {&missing, 0, 0, 0}, {&good, 0, 0, 0}});
  EXPECT_EQ(d.status, kCGVwCannotOpen);
  EXPECT_FALSE(d.gotHandle);
  EXPECT_EQ(Calls(Point::MessageBox), 1);
  EXPECT_EQ(Calls(Point::FileOpen), 4);  // the third layer is never decoded
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST_F(CompositeTest, LayerWithoutADecoderFails) {
  TCGVwImage kindTwo{0x42, 4, 1, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, nullptr};
  EXPECT_EQ(Compose(4, 1, {{&kindTwo, 0, 0, 0}}).status, kCGVwUnsupported);
  EXPECT_EQ(Compose(4, 1, {{nullptr, 0, 0, 0}}).status, kCGVwUnsupported);
  EXPECT_EQ(Calls(Point::MessageBox), 2);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(CompositeTest, RefusedBeforeAnythingIsAllocated) {
  for (std::uint32_t depth : {0u, 1u, 2u, 4u, 5u, 6u, 7u}) {
    const auto d = Compose(4, 1, {}, 0x03 | depth << 5);
    EXPECT_EQ(d.status, kCGVwUnsupported) << "depth " << depth;
    EXPECT_FALSE(d.gotHandle);
  }
  composite = {0x63, 4, 1, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, nullptr};
  EXPECT_EQ(DecodeWith(CGVwDecodeComposite, composite).status, kCGVwUnsupported);
  TCGVwLayers noItems{2, nullptr};
  composite.Extra = &noItems;
  EXPECT_EQ(DecodeWith(CGVwDecodeComposite, composite).status, kCGVwUnsupported);
  EXPECT_EQ(Calls(Point::GlobalAlloc), 0);
  EXPECT_EQ(Calls(Point::MessageBox), 0);
}

TEST_F(CompositeTest, ACompositeThatContainsItselfIsRefusedNotRecursedForever) {
  TCGVwLayer self{&composite, 0, 0, 0};
  list = {1, &self};
  composite = {0x63, 4, 1, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &list};
  const auto d = DecodeWith(CGVwDecodeComposite, composite);
  EXPECT_EQ(d.status, kCGVwUnsupported);
  EXPECT_FALSE(d.gotHandle);
  EXPECT_GT(Calls(Point::MessageBox), 0);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();

  // A few levels of honest nesting still decode.
  TCGVwLayers none{0, nullptr};
  TCGVwImage inner{0x63, 2, 1, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &none};
  TCGVwLayer innerLayer{&inner, 0, 0, 0};
  TCGVwLayers middleList{1, &innerLayer};
  TCGVwImage middle{0x63, 2, 1, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &middleList};
  EXPECT_EQ(Compose(4, 1, {{&middle, 0, 0, 0}}).status, kCGVwOk);
}

// The backdrop option of the dispatch.
TEST_F(CompositeTest, PictureOverItsBackdrop) {
  const TCGVwImage& backdrop = Layer(8, 4, std::vector<std::uint8_t>(32, 3));
  TCGVwImage picture = Layer(4, 2, {0, 5, 5, 0, 6, 0, 0, 6});
  picture.Backdrop = &backdrop;
  picture.PosX = 2;
  picture.PosY = 1;
  const TCGVwImage* descriptor = &picture;
  for (std::uint32_t flag : {1u, 0x80000000u, 0xFFFFFFFFu}) {
    platform::HGLOBAL handle = nullptr;
    ASSERT_EQ(CGVwDecode(&descriptor, &flag, &handle), kCGVwOk);
    Decoded d;
    const auto* bytes = static_cast<const std::uint8_t*>(platform::GlobalLock(handle));
    d.bytes.assign(bytes, bytes + platform::GlobalSize(handle));
    platform::GlobalUnlock(handle);
    platform::GlobalFree(handle);
    EXPECT_EQ(d.U16(14), 24u);
    EXPECT_EQ(d.U32(4), 8u);
    EXPECT_EQ(d.U32(8), 4u);
    EXPECT_EQ(At(d, 24, 0, 0), Bgr(3));
    EXPECT_EQ(At(d, 24, 2, 1), Bgr(3));  // transparent
    EXPECT_EQ(At(d, 24, 3, 1), Bgr(5));
    EXPECT_EQ(At(d, 24, 2, 2), Bgr(6));
    EXPECT_EQ(At(d, 24, 7, 3), Bgr(3));
  }
  // Flag 0, or no flag at all: the picture alone.
  const std::uint32_t off = 0;
  EXPECT_EQ(DecodeWith(CGVwDecode, picture, &off).U16(14), 8u);
  EXPECT_EQ(DecodeWith(CGVwDecode, picture, nullptr).U32(4), 4u);
  // A flag without a backdrop: the picture alone as well.
  picture.Backdrop = nullptr;
  const std::uint32_t on = 7;
  EXPECT_EQ(DecodeWith(CGVwDecode, picture, &on).U16(14), 8u);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(CompositeTest, EachBackdropCallGetsItsOwnBackdropSize) {
  const TCGVwImage& small = Layer(4, 2, std::vector<std::uint8_t>(8, 1));
  const TCGVwImage& large = Layer(12, 6, std::vector<std::uint8_t>(72, 2));
  TCGVwImage first = Layer(4, 1, {1, 1, 1, 1});
  TCGVwImage second = first;
  first.Backdrop = &large;
  second.Backdrop = &small;
  const std::uint32_t on = 1;
  const auto a = DecodeWith(CGVwDecode, first, &on);
  const auto b = DecodeWith(CGVwDecode, second, &on);
  EXPECT_EQ(a.U32(4), 12u);
  EXPECT_EQ(a.U32(8), 6u);
  EXPECT_EQ(a.bytes.size(), 40u + 6 * 36);
  EXPECT_EQ(b.U32(4), 4u);
  EXPECT_EQ(b.U32(8), 2u);
  EXPECT_EQ(b.bytes.size(), 40u + 2 * 12);
}

TEST_F(CompositeTest, BackdropWithAPictureWithoutDecoderFails) {
  const TCGVwImage& backdrop = Layer(4, 1, {1, 2, 3, 4});
  TCGVwImage picture{0x44, 4, 1, 0, 0, &backdrop, nullptr, 0, nullptr, 0, 0, nullptr};
  const std::uint32_t on = 1;
  const auto d = DecodeWith(CGVwDecode, picture, &on);
  EXPECT_EQ(d.status, kCGVwUnsupported);
  EXPECT_FALSE(d.gotHandle);
  EXPECT_EQ(Calls(Point::MessageBox), 1);
  EXPECT_TRUE(NothingHeld());
}

}  // namespace
