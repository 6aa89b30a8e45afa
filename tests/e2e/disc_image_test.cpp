// End to end from disc images: the real program converts the demo disc from
// an image of every kind exactly as from the directory it was made of, and
// stops at the first picture on an image that holds no file system.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_disc/demo_disc.h"
#include "disc_images.h"
#include "expected_console.h"
#include "program_run.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HaveXorriso;
using testing_support::ImageKind;
using testing_support::KindName;
using testing_support::ReadWholeFile;
using testing_support::TempDir;
using testing_support::WhyNoDiscImages;

struct Conversion {
  int exitStatus = -1;
  std::string out;
  std::map<std::string, std::vector<std::uint8_t>> files;  // what it left in its directory
};

// Runs the converter for drive q in a fresh directory, drive q being
// `driveRoot`/q, and collects its output and files.
Conversion Convert(const fs::path& driveRoot, const fs::path& workDir) {
  fs::create_directories(workDir);
  const testing_support::ProgramRun program =
      testing_support::RunProgram(TVRCGCV_BINARY, {TVRCGCV_BINARY, "q"}, workDir, driveRoot);
  Conversion run;
  run.exitStatus = program.exitStatus;
  run.out = program.out;
  for (const auto& entry : fs::directory_iterator(workDir)) {
    run.files[entry.path().filename().string()] = ReadWholeFile(entry.path());
  }
  return run;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class ImageRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = WhyNoDiscImages(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    demo::WriteDisc(work_.path() / "disc", false);
    fs::create_directory(Drives());
  }

  fs::path Drives() const { return work_.path() / "drives"; }

  // Converts with drive q linked to `target`.
  Conversion ConvertFrom(const fs::path& target) {
    fs::remove(Drives() / "q");
    fs::create_symlink(target, Drives() / "q");
    return Convert(Drives(), work_.path() / ("out" + std::to_string(runs_++)));
  }

  TempDir work_;
  int runs_ = 0;
};

class DiscImageConversion : public ImageRuns, public ::testing::WithParamInterface<ImageKind> {};

TEST_P(DiscImageConversion, ConvertsAsFromTheDirectory) {
  const Conversion fromDirectory = ConvertFrom(work_.path() / "disc");
  ASSERT_EQ(fromDirectory.files.size(), 161u);  // the reference is a complete run

  fs::create_directory(work_.path() / "image");
  const fs::path image = MakeImage(work_.path() / "disc", work_.path() / "image", GetParam());
  ASSERT_FALSE(image.empty());
  const Conversion fromImage = ConvertFrom(image);

  EXPECT_EQ(fromImage.exitStatus, 0);
  EXPECT_EQ(fromImage.out, fromDirectory.out);
  ASSERT_EQ(fromImage.files.size(), fromDirectory.files.size());
  for (const auto& [name, bytes] : fromDirectory.files) {
    const auto found = fromImage.files.find(name);
    ASSERT_NE(found, fromImage.files.end()) << name;
    EXPECT_TRUE(found->second == bytes) << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DiscImageConversion,
                         ::testing::ValuesIn(testing_support::kAllImageKinds),
                         [](const auto& info) { return KindName(info.param); });

// An image without a readable file system is a disc whose files cannot be
// opened: the run stops at the first picture, as on an empty drive.
using DamagedDiscImage = ImageRuns;

TEST_F(DamagedDiscImage, StopsAtTheFirstPicture) {
  fs::create_directory(work_.path() / "empty");
  const Conversion fromEmpty = ConvertFrom(work_.path() / "empty");
  ASSERT_TRUE(EndsWith(fromEmpty.out, expected::Progress(0) + expected::kDecodeFailed))
      << "an empty drive stops at row 0";

  const fs::path iso = MakeImage(work_.path() / "disc", work_.path(), ImageKind::RockRidge);
  ASSERT_FALSE(iso.empty());
  const std::vector<std::uint8_t> whole = ReadWholeFile(iso);
  std::vector<std::uint8_t> random(1 << 20);
  std::uint32_t state = 12345;
  for (auto& byte : random) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  const std::vector<std::vector<std::uint8_t>> damaged = {
      {whole.begin(), whole.begin() + 20 * 2048},  // truncated in its directories
      {whole.begin(), whole.begin() + 16 * 2048},  // truncated before its descriptors
      random,
  };
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE("damaged image " + std::to_string(i));
    const fs::path path = work_.path() / ("damaged" + std::to_string(i) + ".iso");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged[i].data()),
               static_cast<std::streamsize>(damaged[i].size()));
    const Conversion run = ConvertFrom(path);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, fromEmpty.out);
    EXPECT_TRUE(run.files.empty());
  }
}

}  // namespace
