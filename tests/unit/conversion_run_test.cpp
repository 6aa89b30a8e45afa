// The conversion run in-process, with its console output captured: the runs
// that end before the first picture or stop at it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "console.h"
#include "console_texts.h"
#include "exit_status.h"
#include "manual_page.h"
#include "options.h"
#include "platform/faults.h"
#include "run.h"
#include "test_support.h"

namespace {

using platform::faults::FailNth;
using platform::faults::Point;
namespace texts = app::texts;

std::string Line(std::string_view text) {
  return std::string(text) + "\r\n";
}

std::string Banner() {
  return Line(texts::kBanner1) + Line(texts::kBanner2) + Line(texts::kBanner3);
}

class ConversionRun : public testing::Test {
 protected:
  ConversionRun() { platform::faults::CaptureConsole(&console_); }
  ~ConversionRun() override { platform::faults::CaptureConsole(nullptr); }
  void TearDown() override {
    EXPECT_TRUE(testing_support::NothingHeld()) << testing_support::DescribeHeld();
    EXPECT_TRUE(testing_support::ListDirectory(work_.path()).empty());
  }

  int Run(std::vector<const char*> args) {
    args.insert(args.begin(), "tvrcgcv");
    return app::RunConversion(static_cast<int>(args.size()), args.data());
  }

  testing_support::FaultScope faults_;
  // An empty disc in drive q; SourceRoot gets its first character back.
  testing_support::TestDrive drive_{'q'};
  testing_support::TempDir work_;
  testing_support::CurrentDirScope cwd_{work_.path()};
  std::string console_;
};

TEST_F(ConversionRun, WithoutADriveItShowsTheUsage) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(console_, Banner() + Line(texts::kUsage));
  EXPECT_EQ(platform::faults::Calls(Point::FileOpen), 0);

  console_.clear();
  EXPECT_EQ(Run({""}), 0);
  EXPECT_EQ(console_, Banner() + Line(texts::kUsage));
}

TEST_F(ConversionRun, AFirstRowThatCannotBeDecodedStopsTheRun) {
  for (const char* drive : {"q", "m", "5"}) {
    SCOPED_TRACE(drive);
    console_.clear();
    EXPECT_EQ(Run({drive}), 0);
    EXPECT_EQ(console_, Banner() + "creating 'tvrcg000.bmp'..." + Line(texts::kDecodeFailed));
    EXPECT_EQ(SourceRoot[0], drive[0]);
  }
}

TEST_F(ConversionRun, OnlyTheFirstCharacterOfTheFirstArgumentIsTheDrive) {
  const std::vector<std::vector<const char*>> commandLines = {
      {"e"}, {"e:\\pictures"}, {"elephant"}, {"e", "f"}};
  for (const auto& args : commandLines) {
    SourceRoot[0] = 'c';
    EXPECT_EQ(Run(args), 0);
    EXPECT_EQ(SourceRoot[0], 'e') << args[0];
    EXPECT_STREQ(SourceRoot + 1, ":\\");
  }
  Run({"Q"});
  EXPECT_EQ(SourceRoot[0], 'Q');  // stored as it stands
}

TEST_F(ConversionRun, AFailedConsoleWriteEndsTheRunWithStatusOne) {
  // Writes of a stopped run: three banner lines, the progress text and the
  // failure message; of a usage run: the banner and the usage line.
  const std::string writes[] = {Line(texts::kBanner1), Line(texts::kBanner2), Line(texts::kBanner3),
                                "creating 'tvrcg000.bmp'...", Line(texts::kDecodeFailed)};
  std::string before;
  for (long nth = 1; nth <= 5; ++nth) {
    SCOPED_TRACE("failing console write " + std::to_string(nth));
    console_.clear();
    FailNth(Point::Console, nth);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run({"m"}), 1);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_EQ(console_, before);  // nothing is written after the failure
    before += writes[nth - 1];
    EXPECT_TRUE(testing_support::NothingHeld()) << testing_support::DescribeHeld();
  }
  FailNth(Point::Console, 4);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run({}), 1);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
}

// Runs with options of every kind: standard output that fails at any write
// ends the run with status 1, saying so, having written nothing after it.
TEST_F(ConversionRun, AFailedConsoleWriteEndsARunWithOptionsWithStatusOne) {
  const std::vector<std::string> kRuns[] = {
      {"q", "--out", "o/", "--only", "0,1", "--keep-going"},
      {"q", "--only", "0", "--quiet", "--keep-going"},
      {"q", "--check", "--only", "0"},
      {"--list", "--only", "0-1"},
      {"--version"},
      {"--help"},
  };
  for (const auto& args : kRuns) {
    SCOPED_TRACE(testing::PrintToString(args));
    const app::CommandLine line = app::ParseCommandLine(args);
    ASSERT_EQ(line.error, "");
    platform::faults::Reset();
    console_.clear();
    testing::internal::CaptureStderr();
    EXPECT_NE(app::RunWithOptions(line, "tvrcgcv"), app::kExitConsoleFailed);
    testing::internal::GetCapturedStderr();
    const std::string clean = console_;
    const long writes = platform::faults::Calls(Point::Console);
    ASSERT_GT(writes, 0);
    for (long n = 1; n <= writes; ++n) {
      SCOPED_TRACE("failing console write " + std::to_string(n));
      platform::faults::Reset();
      console_.clear();
      FailNth(Point::Console, n);
      testing::internal::CaptureStderr();
      EXPECT_EQ(app::RunWithOptions(line, "tvrcgcv"), app::kExitConsoleFailed);
      EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(
          std::string(texts::kConsoleWriteFailed) + "\n"));
      EXPECT_EQ(platform::faults::Calls(Point::Console), n);
      EXPECT_TRUE(clean.starts_with(console_));
      EXPECT_LT(console_.size(), clean.size());
    }
  }
  std::filesystem::remove_all(work_.path() / "o");
}

// Checking a disc whose file is there but ends before every range it has:
// the end is known only to lie at or before the first range's offset.
TEST_F(ConversionRun, ACheckSaysWhereAFileThatEndsBeforeItsRangesMayEnd) {
  drive_.WriteFile("bg000_0.bg", std::vector<std::uint8_t>(10));
  const app::CommandLine line = app::ParseCommandLine({"q", "--check", "--only", "0"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(app::RunWithOptions(line, "tvrcgcv"), app::kExitDiscUnreadable);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "tvrcgcv: q:\\bg000_0.bg: short: its ranges reach byte 43384, the file ends at or "
            "before byte 24\n");
  EXPECT_EQ(console_,
            "incomplete  q:\\bg000_0.bg  short: its ranges reach byte 43384, the file ends at or "
            "before byte 24\r\nThe disc is incomplete: 1 of 1 files are missing, short or "
            "unreadable.\r\n");
}

// Command lines that are taken, and what they ask for. (The refused ones,
// with their messages, are the end-to-end tests' table.)
TEST(CommandLine, AcceptedLinesSayWhatTheyAskFor) {
  using app::OutputFormat;
  const struct {
    std::vector<std::string> args;
    bool hasOptions;
    char drive;  // 0: none
    const char* out;
    const char* image;
    OutputFormat format;
    std::size_t pictures;
  } kCases[] = {
      // Without options: the first character of the first non-empty argument.
      {{"quick", "r"}, false, 'q', nullptr, nullptr, OutputFormat::kBmp, 161},
      {{"", "./disc"}, false, '.', nullptr, nullptr, OutputFormat::kBmp, 161},
      {{"-image", "d.iso"}, false, '-', nullptr, nullptr, OutputFormat::kBmp, 161},
      // With options, a drive letter in any of its spellings, on either side.
      {{"q", "--quiet"}, true, 'q', nullptr, nullptr, OutputFormat::kBmp, 161},
      {{"--quiet", "Q:"}, true, 'Q', nullptr, nullptr, OutputFormat::kBmp, 161},
      {{"q:\\", "--out", "a b"}, true, 'q', "a b", nullptr, OutputFormat::kBmp, 161},
      {{"--out=x=y", "q:/"}, true, 'q', "x=y", nullptr, OutputFormat::kBmp, 161},
      {{"--image", "d.cue", "--format=png"}, true, 0, nullptr, "d.cue", OutputFormat::kPng, 161},
      {{"--image=-", "--format", "bmp"}, true, 0, nullptr, "-", OutputFormat::kBmp, 161},
      {{"q", "--only", "0-151,155"}, true, 'q', nullptr, nullptr, OutputFormat::kBmp, 153},
      {{"q", "--only=160,0,160"}, true, 'q', nullptr, nullptr, OutputFormat::kBmp, 2},
      {{"q", "--out=--quiet"}, true, 'q', "--quiet", nullptr, OutputFormat::kBmp, 161},
      {{"/?"}, true, 0, nullptr, nullptr, OutputFormat::kBmp, 161},
  };
  for (const auto& c : kCases) {
    const app::CommandLine line = app::ParseCommandLine(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.hasOptions, c.hasOptions);
    EXPECT_EQ(line.options.drive.value_or(0), c.drive);
    EXPECT_EQ(line.options.out.value_or("<none>"), c.out ? c.out : "<none>");
    EXPECT_EQ(line.options.image.value_or("<none>"), c.image ? c.image : "<none>");
    EXPECT_EQ(line.options.format, c.format);
    EXPECT_EQ(line.options.only.count(), c.pictures);
  }
}

// Names too long for a message are cut in the middle, never inside a
// character of UTF-8: the cut moves out to the nearest whole character on
// either side.
TEST(CommandLine, LongNamesAreCutBetweenCharacters) {
  const auto times = [](std::string_view text, int count) {
    std::string repeated;
    for (int i = 0; i < count; ++i) {
      repeated += text;
    }
    return repeated;
  };
  const std::string e = "\xC3\xA9";        // two bytes
  const std::string a = "\xE3\x81\x82";    // three bytes
  const std::string cut = "\xE2\x80\xA6";  // the ellipsis
  const struct {
    std::string name, shown;
  } kCases[] = {
      {times("n", 160), times("n", 160)},
      {times("n", 161), times("n", 80) + cut + times("n", 80)},
      {times("x", 1) + times(e, 100) + "y",
       times("x", 1) + times(e, 39) + cut + times(e, 39) + "y"},
      {times(a, 70), times(a, 26) + cut + times(a, 26)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name.size());
    EXPECT_EQ(app::Shown(c.name), c.shown);
  }
}

// The manual page describes every option of the table, in every form, and
// no other: the options of its OPTIONS section, "\\-\\-out" and the like
// after each .TP.
TEST(CommandLine, TheManualPageListsTheOptionsOfTheTable) {
  std::set<std::string> table;
  for (const app::OptionSpec& option : app::OptionTable()) {
    table.emplace(option.name);
    table.insert(option.otherForms.begin(), option.otherForms.end());
  }
  std::set<std::string> manual;
  const std::string page = testing_support::kManualPage;
  const std::size_t options = page.find("\n.SH OPTIONS");
  const std::size_t end = page.find("\n.SH ", options + 1);
  ASSERT_NE(options, std::string::npos);
  std::istringstream section(page.substr(options, end - options));
  std::string line;
  bool afterTp = false;
  while (std::getline(section, line)) {
    if (afterTp) {
      std::string word;
      std::istringstream words(line.substr(line.find(' ') + 1));
      while (words >> word) {
        std::erase(word, '\\');
        std::erase(word, '"');
        std::erase(word, ',');
        if (word.starts_with("-") || word == "/?") {
          manual.insert(word);
        }
      }
    }
    afterTp = line == ".TP";
  }
  EXPECT_EQ(manual, table);
}

}  // namespace
