// End to end on the demo disc: the real program converts a complete
// synthetic disc, and every output file must show exactly the picture that
// was encoded onto it. The BMP files are read with an independent reader.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#define STBI_ONLY_BMP
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include "catalog/catalogue.h"
#include "demo_disc/demo_disc.h"
#include "expected_console.h"
#include "program_run.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadWholeFile;
using testing_support::TempDir;
using testing_support::TestDrive;

using expected::kRows;
using expected::OutputName;

std::size_t ExpectedFileSize(int row) {
  if (row >= 152) {
    return 9814;  // 104 x 84 portrait
  }
  return (row == 20 || row == 116) ? 86326 : 42550;  // 288 x 296, else 288 x 144
}

// Runs the converter with the argument "q" in `workDir`, drive q being the
// directory q under `driveRoot`.
testing_support::ProgramRun RunConverter(const fs::path& workDir, const fs::path& driveRoot) {
  return testing_support::RunProgram(testing_support::TestedProgram(),
                                     {testing_support::TestedProgram(), "q"}, workDir, driveRoot);
}

// The output file of `row` has the right size and, read as a BMP, shows
// demo::SourcePicture(row) pixel for pixel.
::testing::AssertionResult ShowsItsPicture(const fs::path& workDir, int row) {
  const fs::path path = workDir / OutputName(row);
  if (!fs::exists(path)) {
    return ::testing::AssertionFailure() << OutputName(row) << " was not written";
  }
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  if (bytes.size() != ExpectedFileSize(row)) {
    return ::testing::AssertionFailure() << OutputName(row) << " has " << bytes.size()
                                         << " bytes, expected " << ExpectedFileSize(row);
  }
  int width = 0;
  int height = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width,
                                          &height, &channels, 3);
  if (pixels == nullptr) {
    return ::testing::AssertionFailure()
           << OutputName(row) << " is not a readable BMP: " << stbi_failure_reason();
  }
  const std::vector<std::uint8_t> got(pixels,
                                      pixels + static_cast<std::size_t>(width) * height * 3);
  stbi_image_free(pixels);
  const demo::Picture want = demo::SourcePicture(row);
  if (width != want.width || height != want.height) {
    return ::testing::AssertionFailure() << OutputName(row) << " is " << width << " x " << height
                                         << ", expected " << want.width << " x " << want.height;
  }
  for (std::size_t i = 0; i < got.size(); i += 3) {
    if (got[i] != want.rgb[i] || got[i + 1] != want.rgb[i + 1] || got[i + 2] != want.rgb[i + 2]) {
      const std::size_t pixel = i / 3;
      return ::testing::AssertionFailure()
             << OutputName(row) << ": pixel (" << pixel % static_cast<std::size_t>(width) << ", "
             << pixel / static_cast<std::size_t>(width) << ") from the top left is RGB "
             << int{got[i]} << " " << int{got[i + 1]} << " " << int{got[i + 2]} << ", expected "
             << int{want.rgb[i]} << " " << int{want.rgb[i + 1]} << " " << int{want.rgb[i + 2]};
    }
  }
  return ::testing::AssertionSuccess();
}

// Rows from..to - 1 all show their pictures; on failure, how many do not and
// why for the first few.
::testing::AssertionResult ShowTheirPictures(const fs::path& workDir, int from, int to) {
  int wrong = 0;
  std::string first;
  for (int row = from; row < to; ++row) {
    const ::testing::AssertionResult one = ShowsItsPicture(workDir, row);
    if (!one && ++wrong <= 3) {
      first += std::string("\n  ") + one.message();
    }
  }
  if (wrong == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << wrong << " of " << to - from << " output files are wrong, for example:" << first;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

class DemoDiscConversion : public ::testing::Test {
 protected:
  void MakeDisc(bool upperCase) { demo::WriteDisc(drive_.drive(), upperCase); }
  testing_support::ProgramRun Run() { return RunConverter(work_.path(), drive_.root()); }

  TestDrive drive_{'q'};
  TempDir work_;
};

TEST_F(DemoDiscConversion, ConvertsEveryPictureExactly) {
  MakeDisc(false);
  const testing_support::ProgramRun run = Run();

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, expected::Transcript(kRows));
  EXPECT_EQ(FilesIn(work_.path()).size(), static_cast<std::size_t>(kRows));
  EXPECT_TRUE(ShowTheirPictures(work_.path(), 0, kRows));

  // What the reader does not show: the file header's fields and the
  // reserved byte of every colour table entry, for a background and a
  // portrait.
  for (const int row : {0, 160}) {
    SCOPED_TRACE(OutputName(row));
    const std::vector<std::uint8_t> bytes = ReadWholeFile(work_.path() / OutputName(row));
    ASSERT_EQ(bytes.size(), ExpectedFileSize(row));
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(Le32(bytes, 2), ExpectedFileSize(row));  // bfSize
    EXPECT_EQ(Le32(bytes, 6), 0u);                     // bfReserved1, bfReserved2
    EXPECT_EQ(Le32(bytes, 10), 1078u);                 // bfOffBits
    EXPECT_EQ(Le32(bytes, 14), 40u);                   // biSize
    for (std::size_t entry = 0; entry < 256; ++entry) {
      ASSERT_EQ(bytes[54 + entry * 4 + 3], 2) << "colour table entry " << entry;
    }
  }
}

TEST_F(DemoDiscConversion, ConvertsAnUpperCaseDiscTheSame) {
  MakeDisc(true);
  ASSERT_TRUE(fs::exists(drive_.drive() / "BG000_0.BG"));
  const testing_support::ProgramRun run = Run();

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, expected::Transcript(kRows));
  EXPECT_TRUE(ShowTheirPictures(work_.path(), 0, kRows));
}

// A source file missing at row k stops the run there: the rows before it
// are converted, no file is made for row k, and a file of a later row left
// by an earlier run is not touched.
class DemoDiscMissingSource : public DemoDiscConversion,
                              public ::testing::WithParamInterface<int> {};

TEST_P(DemoDiscMissingSource, StopsAtThatRow) {
  const int stopRow = GetParam();
  MakeDisc(false);
  // A background's only file, or a portrait's pixel file (read after its
  // palette file).
  ASSERT_TRUE(
      fs::remove(drive_.drive() / Catalogue[static_cast<std::size_t>(stopRow)].Image.PixFile));
  const std::string laterName = OutputName(stopRow + 5);
  const std::vector<std::uint8_t> laterBytes = {'l', 'e', 'f', 't', ' ', 'o', 'v', 'e', 'r'};
  {
    std::ofstream later(work_.path() / laterName, std::ios::binary);
    later.write(reinterpret_cast<const char*>(laterBytes.data()),
                static_cast<std::streamsize>(laterBytes.size()));
  }

  const testing_support::ProgramRun run = Run();

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, expected::Transcript(stopRow));
  EXPECT_TRUE(ShowTheirPictures(work_.path(), 0, stopRow));
  EXPECT_FALSE(fs::exists(work_.path() / OutputName(stopRow)));
  EXPECT_EQ(ReadWholeFile(work_.path() / laterName), laterBytes);
  EXPECT_EQ(FilesIn(work_.path()).size(), static_cast<std::size_t>(stopRow) + 1);
}

INSTANTIATE_TEST_SUITE_P(BackgroundAndPortrait, DemoDiscMissingSource, ::testing::Values(57, 155));

// The disc is only a good test if it makes a decoder use what it must: the
// whole tile range (so tile numbers beyond one byte where there is room for
// them), map entries with and without the ignored bit 0, and palette entries
// beyond the first 128.
TEST(DemoDisc, ExercisesTheWholeFormat) {
  for (int row = 0; row < kRows; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const TCGVwImage& image = Catalogue[static_cast<std::size_t>(row)].Image;
    const std::vector<demo::DiscFile> files = demo::EncodeRow(row, false);
    ASSERT_EQ(files.front().name, image.PalFile);
    ASSERT_EQ(files.back().name, image.PixFile);
    const std::vector<std::uint8_t>& pixelFile = files.back().bytes;
    ASSERT_GE(pixelFile.size(), image.PixOffset + image.PixSize);

    // The palette indices that the picture shows.
    std::vector<std::uint8_t> shown;
    if (image.Extra == nullptr) {
      shown.assign(pixelFile.begin() + image.PixOffset,
                   pixelFile.begin() + image.PixOffset + image.PixSize);
    } else {
      const auto& map = *static_cast<const TCGVwChunk*>(image.Extra);
      ASSERT_GE(pixelFile.size(), map.Offset + map.Size);
      unsigned highestTile = 0;
      std::size_t flagged = 0;
      for (std::size_t at = map.Offset; at < map.Offset + map.Size; at += 2) {
        const unsigned entry = (pixelFile[at] << 8) | pixelFile[at + 1];
        const unsigned tile = entry >> 1;
        ASSERT_LT(tile, image.PixSize / 64);
        highestTile = std::max(highestTile, tile);
        flagged += entry & 1;
        const auto first = pixelFile.begin() + image.PixOffset + tile * 64;
        shown.insert(shown.end(), first, first + 64);
      }
      EXPECT_EQ(highestTile, image.PixSize / 64 - 1);
      EXPECT_GT(flagged, 0u);
      EXPECT_LT(flagged, map.Size / 2);
    }
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](std::uint8_t i) { return i >= 128; }));
  }
}

}  // namespace
