// The decoder dispatch and the operation tables. Slots 0, 1 and 3 of the
// decoder table hold the real decoders; these tests stay with the kinds that
// have no decoder.
#include <gtest/gtest.h>

#include <cstdint>

#include "cgvw/cgvw.h"
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

}  // namespace
