// The fault sweep: a decode (every decoder kind, depth and map layout) or a
// conversion run is first done cleanly to count its acquisitions at every
// point of the platform seam, then repeated once for each of them with just
// that one made to fail. Each failure must end in the status or console
// message that the code documents, hand nothing back, and leave nothing
// allocated, locked or open.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "console_texts.h"
#include "dib_test_util.h"
#include "exit_status.h"
#include "platform/faults.h"
#include "platform/output_files.h"
#include "run.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "cgvw/decode.h"
#include "cgvw/decode_c.h"
#include "cgvw/disc_image_c.h"
#include "disc_images.h"
#include "failing_new.h"
#endif

namespace {

using platform::faults::Calls;
using platform::faults::FailNth;
using platform::faults::Point;
using testing_support::Bytes;
using testing_support::DescribeHeld;
using testing_support::FaultScope;
using testing_support::NothingHeld;
using testing_support::TestDrive;

const char* PointName(Point point) {
  switch (point) {
    case Point::GlobalAlloc:
      return "GlobalAlloc";
    case Point::GlobalLock:
      return "GlobalLock";
    case Point::HeapBuffer:
      return "HeapBuffer";
    case Point::FileOpen:
      return "FileOpen";
    case Point::FileCreate:
      return "FileCreate";
    case Point::FileRead:
      return "FileRead";
    case Point::FileWrite:
      return "FileWrite";
    case Point::Console:
      return "Console";
    case Point::MessageBox:
      return "MessageBox";
    case Point::FileClose:
      return "FileClose";
    case Point::FileReplace:
      return "FileReplace";
    case Point::RenameNoReplace:
      return "RenameNoReplace";
  }
  return "?";
}

// A line of captured standard error (the error box writes there in a test
// program) ends in \n on every system: the capture is read back as text.
constexpr char kErrorLineEnd[] = "\n";

// Every point at which something is obtained or written. The message box
// only reports; it obtains nothing. A decoder only reads, and a source file
// that will not close has still been read whole, so closing and replacing
// files are swept in runs only.
constexpr Point kDecoderPoints[] = {Point::GlobalAlloc, Point::GlobalLock, Point::HeapBuffer,
                                    Point::FileOpen,    Point::FileCreate, Point::FileRead,
                                    Point::FileWrite,   Point::Console};
constexpr Point kRunPoints[] = {
    Point::GlobalAlloc, Point::GlobalLock, Point::HeapBuffer, Point::FileOpen,  Point::FileCreate,
    Point::FileRead,    Point::FileWrite,  Point::Console,    Point::FileClose, Point::FileReplace};

template <std::size_t N>
std::map<Point, long> CountCalls(const Point (&points)[N]) {
  std::map<Point, long> calls;
  for (Point point : points) {
    calls[point] = Calls(point);
  }
  return calls;
}

// The status a decoder documents for a failure at the point.
std::int32_t StatusFor(Point point) {
  return (point == Point::FileOpen || point == Point::FileRead) ? kCGVwCannotOpen : kCGVwNoMemory;
}

// ---------------------------------------------------------------------------
// Decoders

using namespace testing_support::sample;

struct Sweep {
  long points = 0;
};

struct Decode {
  std::int32_t status = 0;
  bool gotHandle = false;
  std::map<Point, long> calls;  // at every point, counted before the block is freed
  std::string boxText;          // what the error boxes showed
};

// One decode; a block that comes back is freed without being looked at, so
// that the counts are the decoder's own.
Decode DecodeOnce(TCGVwOperation decoder, const TCGVwImage& image, const void* second) {
  Decode result;
  const TCGVwImage* descriptor = &image;
  platform::HGLOBAL handle = reinterpret_cast<platform::HGLOBAL>(0x1);  // must be overwritten
  ::testing::internal::CaptureStderr();                                 // where the error box goes
  result.status = decoder(&descriptor, second, &handle);
  result.boxText = ::testing::internal::GetCapturedStderr();
  result.calls = CountCalls(kDecoderPoints);
  result.gotHandle = handle != nullptr;
  if (handle != nullptr && result.status == kCGVwOk) {
    platform::GlobalFree(handle);
  }
  return result;
}

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override { drive_.WriteFile(kDisc, DiscBytes()); }

  // Sweeps one decode. `second` is the decoder's second argument; `boxes`
  // says how many error boxes a failure at (point, n) may show.
  template <typename Boxes>
  Sweep SweepDecode(const char* what, TCGVwOperation decoder, const TCGVwImage& image,
                    const void* second, std::int32_t cleanStatus, Boxes boxes) {
    SCOPED_TRACE(what);
    Sweep sweep;
    platform::faults::Reset();
    const Decode clean = DecodeOnce(decoder, image, second);
    EXPECT_EQ(clean.status, cleanStatus);
    EXPECT_EQ(clean.gotHandle, cleanStatus == kCGVwOk);
    EXPECT_TRUE(NothingHeld()) << DescribeHeld();
    for (const auto& [point, count] : clean.calls) {
      for (long n = 1; n <= count; ++n) {
        platform::faults::Reset();
        FailNth(point, n);
        const Decode failed = DecodeOnce(decoder, image, second);
        const std::string where = std::string(PointName(point)) + " #" + std::to_string(n);
        EXPECT_EQ(failed.status, StatusFor(point)) << where;
        EXPECT_FALSE(failed.gotHandle) << where;
        EXPECT_TRUE(NothingHeld()) << where << ": " << DescribeHeld();
        EXPECT_GE(Calls(point), n) << where << ": the fault never fired";
        const long shown = Calls(Point::MessageBox);
        const auto [least, most] = boxes(point, n);
        EXPECT_TRUE(shown >= least && shown <= most) << where << ": " << shown << " boxes";
        std::string boxText;
        for (long i = 0; i < shown; ++i) {
          boxText += std::string("Step err") + kErrorLineEnd;
        }
        EXPECT_EQ(failed.boxText, boxText) << where;
        ++sweep.points;
      }
    }
    return sweep;
  }

  Sweep SweepDecode(const char* what, TCGVwOperation decoder, const TCGVwImage& image,
                    std::int32_t cleanStatus = kCGVwOk) {
    return SweepDecode(what, decoder, image, nullptr, cleanStatus, [](Point, long) {
      return std::pair<long, long>{0, 0};
    });
  }

  static void Report(const char* what, long points) {
    ::testing::Test::RecordProperty("swept_points", static_cast<int>(points));
    std::printf("[ sweep    ] %s: %ld fault points\n", what, points);
  }

  FaultScope faults_;
  TestDrive drive_;
};

TEST_F(FaultSweep, PlainPicturesAtEveryDepth) {
  long points = 0;
  // Odd sizes so that nibble rows and padded rows are both taken.
  points += SweepDecode("4-bit", CGVwDecodePlain, Plain(0x00, 5, 3, 8)).points;
  points += SweepDecode("8-bit, 128 colours", CGVwDecodePlain, Plain(0x20, 5, 3, 15)).points;
  points += SweepDecode("8-bit, 256 colours", CGVwDecodePlain, Plain(0x40, 5, 3, 15)).points;
  points += SweepDecode("15-bit", CGVwDecodePlain, Plain(0x160, 5, 3, 30)).points;
  EXPECT_EQ(points, 4 * 8 - 3);  // the 15-bit picture has no palette to obtain
  Report("plain pictures", points);
}

TEST_F(FaultSweep, TiledPicturesAtEveryDepthAndMapLayout) {
  const TCGVwChunk map16{kDisc, kMap16, 16 * 2};
  const TCGVwChunk map32{kDisc, kMap32, 16 * 4};
  const TCGVwChunk cells{kDisc, kCells, 64 * 2};
  const TCGVwChunk generated16{nullptr, 0, 16 * 2};
  const TCGVwChunk generated32{nullptr, 0, 16 * 4};
  long points = 0;
  for (std::uint32_t depth : {0x00u, 0x20u, 0x40u}) {
    for (const auto& [layout, map] :
         {std::pair{0x200u, &map16}, std::pair{0x400u, &map32}, std::pair{0xC00u, &cells}}) {
      const std::string what = "depth " + std::to_string(depth >> 5) + ", layout " +
                               std::to_string(layout >> 9) + ", map from the disc";
      const Sweep sweep =
          SweepDecode(what.c_str(), CGVwDecodeTiled, Tiled(0x01 | depth | layout, 32, 24, map));
      EXPECT_EQ(sweep.points, 11) << what;
      points += sweep.points;
    }
  }
  points += SweepDecode("generated 16-bit map", CGVwDecodeTiled, Tiled(0x241, 32, 32, &generated16))
                .points;
  points += SweepDecode("generated 32-bit map", CGVwDecodeTiled, Tiled(0x441, 32, 32, &generated32))
                .points;
  // No direct-colour tiles: refused once the block is held.
  points += SweepDecode("depth 3", CGVwDecodeTiled, Tiled(0x261, 32, 24, &map16), kCGVwUnsupported)
                .points;
  Report("tiled pictures", points);
}

TEST_F(FaultSweep, CompositesWithLayersOfEveryKind) {
  const TCGVwChunk map16{kDisc, kMap16, 16 * 2};
  const TCGVwImage plain8 = Plain(0x40, 5, 3, 15);
  const TCGVwImage plain4 = Plain(0x00, 5, 3, 8);
  const TCGVwImage plain15 = Plain(0x60, 5, 3, 30);
  const TCGVwImage tiled = Tiled(0x241, 32, 24, &map16);
  const TCGVwLayer layers[] = {
      {&tiled, 0, 0, 0}, {&plain8, 1, 30, 20}, {&plain4, 0, 1, 1}, {&plain15, 1, 2, 2}};
  const TCGVwLayers list{4, layers};
  const TCGVwImage composite{0x63, 33, 21, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &list};
  // The canvas allocation comes first and fails without a box; every later
  // failure shows exactly one.
  const auto oneBox = [](Point point, long n) {
    const long box = (point == Point::GlobalAlloc && n == 1) ? 0 : 1;
    return std::pair<long, long>{box, box};
  };
  long points =
      SweepDecode("four layers", CGVwDecodeComposite, composite, nullptr, kCGVwOk, oneBox).points;

  // A composite as a layer of another: decoded, freed, not painted. A failure
  // inside it shows its own box as well.
  const TCGVwLayer outerLayers[] = {{&composite, 0, 0, 0}, {&plain8, 1, 0, 0}};
  const TCGVwLayers outerList{2, outerLayers};
  const TCGVwImage outer{0x63, 8, 8, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &outerList};
  points += SweepDecode(
                "nested composite", CGVwDecodeComposite, outer, nullptr, kCGVwOk,
                [](Point point, long n) {
                  return std::pair<long, long>{(point == Point::GlobalAlloc && n == 1) ? 0 : 1, 2};
                })
                .points;

  // The backdrop option of the dispatch builds the same kind of composite.
  TCGVwImage picture = Plain(0x40, 5, 3, 15);
  picture.Backdrop = &tiled;
  picture.PosX = 3;
  picture.PosY = 4;
  const std::uint32_t on = 1;
  points += SweepDecode("backdrop option", CGVwDecode, picture, &on, kCGVwOk, oneBox).points;
  Report("composites", points);
}

// ---------------------------------------------------------------------------
// The conversion run

std::string Line(std::string_view text) {
  return std::string(text) + std::string(app::texts::kLineEnd);
}

// A disc holding the files of the first catalogue rows only: the run
// converts those and stops at the next row, whose file is missing.
constexpr int kRowsOnDisc = 3;

void WriteFirstRows(const TestDrive& drive, std::uint32_t seed = 12345u) {
  for (int row = 0; row < kRowsOnDisc; ++row) {
    const TCGVwImage& image = Catalogue[static_cast<std::size_t>(row)].Image;
    const auto* map = static_cast<const TCGVwChunk*>(image.Extra);
    const std::uint32_t size =
        std::max({image.PalOffset + 512, image.PixOffset + image.PixSize, map->Offset + map->Size});
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed + static_cast<std::uint32_t>(row);
    for (auto& byte : bytes) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(state >> 16);
    }
    drive.WriteFile(image.PixFile, bytes);
  }
}

struct RunOutcome {
  int exitStatus = -1;
  std::string console;
  std::string errors;
  std::map<std::string, std::vector<std::uint8_t>> files;
};

class RunFaultSweep : public ::testing::Test {
 protected:
  RunFaultSweep() { platform::faults::CaptureConsole(&console_); }
  ~RunFaultSweep() override { platform::faults::CaptureConsole(nullptr); }

  // Runs the conversion in the work directory, holding `files` beforehand.
  RunOutcome Run(const std::map<std::string, std::vector<std::uint8_t>>& files = {}) {
    for (const auto& name : testing_support::ListDirectory(work_.path())) {
      std::filesystem::remove(work_.path() / name);
    }
    for (const auto& [name, bytes] : files) {
      std::ofstream(work_.path() / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    }
    console_.clear();
    ::testing::internal::CaptureStderr();
    const char* argv[] = {"tvrcgcv", "q"};
    RunOutcome outcome;
    outcome.exitStatus = app::RunConversion(2, argv);
    outcome.errors = ::testing::internal::GetCapturedStderr();
    outcome.console = console_;
    for (const auto& name : testing_support::ListDirectory(work_.path())) {
      outcome.files[name] = testing_support::ReadWholeFile(work_.path() / name);
    }
    return outcome;
  }

  FaultScope faults_;
  TestDrive drive_{'q'};
  testing_support::TempDir work_;
  testing_support::CurrentDirScope cwd_{work_.path()};
  std::string console_;
};

// Which message a failure at (point, n) must end the run with. Each row
// locks twice: the decoder its new block, then the run the finished one.
std::string_view MessageFor(Point point, long n) {
  switch (point) {
    case Point::GlobalLock:
      return n % 2 == 1 ? app::texts::kDecodeFailed : app::texts::kLockFailed;
    case Point::FileCreate:
    case Point::FileWrite:
    case Point::FileClose:
    case Point::FileReplace:
      return app::texts::kCreateFailed;
    default:
      return app::texts::kDecodeFailed;
  }
}

TEST_F(RunFaultSweep, EveryAcquisitionOfARunStopsItCleanly) {
  WriteFirstRows(drive_);
  platform::faults::Reset();
  const RunOutcome clean = Run();
  ASSERT_EQ(clean.exitStatus, 0);
  ASSERT_EQ(clean.files.size(), static_cast<std::size_t>(kRowsOnDisc));
  const std::string stopLine = "creating 'tvrcg003.bmp'..." + Line(app::texts::kDecodeFailed);
  ASSERT_TRUE(clean.console.ends_with(stopLine)) << clean.console;
  ASSERT_TRUE(NothingHeld()) << DescribeHeld();

  long points = 0;
  long harmlessCloses = 0;
  for (const auto& [point, count] : CountCalls(kRunPoints)) {
    for (long n = 1; n <= count; ++n) {
      const std::string where = std::string(PointName(point)) + " #" + std::to_string(n);
      SCOPED_TRACE(where);
      platform::faults::Reset();
      FailNth(point, n);
      const RunOutcome failed = Run();
      ++points;
      EXPECT_TRUE(NothingHeld()) << DescribeHeld();
      // A source file that reports an error on closing has been read whole:
      // the run goes on as if nothing happened. An output file's close is
      // the last word on whether its bytes made it.
      if (point == Point::FileClose && failed.console == clean.console) {
        ++harmlessCloses;
        EXPECT_EQ(failed.files, clean.files);
        continue;
      }
      EXPECT_EQ(Calls(point), n) << "the run went on after the failure";
      // Whatever files are left are complete and exactly those of a clean
      // run: a failure never leaves a short or a wrong file behind.
      for (const auto& [name, bytes] : failed.files) {
        ASSERT_TRUE(clean.files.contains(name)) << name;
        EXPECT_TRUE(bytes == clean.files.at(name)) << name << " differs from a clean run";
      }
      if (point == Point::Console) {
        EXPECT_EQ(failed.exitStatus, app::kExitConsoleFailed);
        EXPECT_EQ(failed.errors, std::string(app::texts::kConsoleWriteFailed) + kErrorLineEnd);
        EXPECT_TRUE(clean.console.starts_with(failed.console));
        continue;
      }
      EXPECT_EQ(failed.exitStatus, 0);
      EXPECT_EQ(failed.errors, "");
      // The console shows the rows before the failing one, then the failing
      // row's progress text completed by the message for the point.
      const std::size_t progress = failed.console.rfind("creating '");
      ASSERT_NE(progress, std::string::npos) << failed.console;
      const std::string row = failed.console.substr(progress + 10, 12);
      EXPECT_EQ(failed.console.substr(progress),
                "creating '" + row + "'..." + Line(MessageFor(point, n)));
      EXPECT_TRUE(clean.console.starts_with(failed.console.substr(0, progress)));
      EXPECT_FALSE(failed.files.contains(row)) << "a file was left for the failing row";
      EXPECT_EQ(failed.files.size(), static_cast<std::size_t>(std::stoi(row.substr(5, 3))));
    }
  }
  EXPECT_GT(points, 50);
  // Three source files closed per row written.
  EXPECT_EQ(harmlessCloses, 3 * kRowsOnDisc);
  ::testing::Test::RecordProperty("swept_points", static_cast<int>(points));
  std::printf("[ sweep    ] conversion run: %ld fault points\n", points);
}

}  // namespace

#ifndef _WIN32
namespace {

int g_interruption = 0;
void Interrupt() {
  ::raise(g_interruption);
}

// A forked child gets the signal dispositions and mask of the test program,
// which may have been started with them ignored (nohup, a service manager)
// or blocked: the child sets the interruptions back to their defaults, or
// has them ignored, before the program installs its handlers.
void StartChildWithInterruptions(void (*disposition)(int)) {
  sigset_t interruptions;
  sigemptyset(&interruptions);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signal, disposition);
    sigaddset(&interruptions, signal);
  }
  ::sigprocmask(SIG_UNBLOCK, &interruptions, nullptr);
}

// An interruption at any moment of a run over the files of an earlier run:
// at every create, write, close and rename of an output file, the run is
// interrupted (Ctrl-C, a request to terminate, the terminal going away, or
// a kill that cannot be caught). Every final file is then the earlier one or
// the complete new one. A caught interruption removes its temporary file
// and ends the program by that signal; after a kill at most the one
// temporary file is left, and the next run removes it.
TEST_F(RunFaultSweep, AnInterruptionAnywhereLeavesEachFileOldOrNew) {
  WriteFirstRows(drive_, 777u);
  const RunOutcome earlier = Run();
  WriteFirstRows(drive_);
  platform::faults::Reset();
  const RunOutcome clean = Run(earlier.files);
  ASSERT_EQ(clean.files.size(), earlier.files.size());
  const auto calls = CountCalls(kRunPoints);
  long interruptions = 0;
  for (const Point point :
       {Point::FileCreate, Point::FileWrite, Point::FileClose, Point::FileReplace}) {
    for (long n = 1; n <= calls.at(point); ++n) {
      for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(::testing::Message()
                     << PointName(point) << " #" << n << ", signal " << signal);
        Run(earlier.files);  // the earlier run's files, and nothing else
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
          StartChildWithInterruptions(SIG_DFL);
          platform::faults::Reset();
          g_interruption = signal;
          platform::faults::ActAtNth(point, n, Interrupt);
          platform::InstallInterruptHandlers();
          const char* argv[] = {"tvrcgcv", "q"};
          testing_support::EndChild(app::RunConversion(2, argv) == 0 ? 100
                                                                     : 101);  // not interrupted
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        ++interruptions;
        long temporaries = 0;
        for (const auto& name : testing_support::ListDirectory(work_.path())) {
          if (!earlier.files.contains(name)) {
            EXPECT_TRUE(name.ends_with(".tvrcgcv.tmp")) << name;
            ++temporaries;
            continue;
          }
          const auto bytes = testing_support::ReadWholeFile(work_.path() / name);
          EXPECT_TRUE(bytes == earlier.files.at(name) || bytes == clean.files.at(name)) << name;
        }
        EXPECT_LE(temporaries, signal == SIGKILL ? 1 : 0);
        if (temporaries > 0) {
          const char* argv[] = {"tvrcgcv", "q"};
          app::RunConversion(2, argv);
          EXPECT_EQ(testing_support::ListDirectory(work_.path()).size(), earlier.files.size());
        }
      }
    }
  }
  // Per row: a create, two writes, three source closes and an output close, a rename.
  EXPECT_EQ(interruptions, 4 * kRowsOnDisc * (1 + 2 + 4 + 1));
}

// A program started with the interruptions ignored (nohup, say) keeps them
// ignored: one that arrives while a file is written changes nothing.
TEST_F(RunFaultSweep, AnIgnoredInterruptionStaysIgnored) {
  WriteFirstRows(drive_);
  const RunOutcome clean = Run();
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(::testing::Message() << "signal " << signal);
    Run();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      StartChildWithInterruptions(SIG_IGN);
      platform::faults::Reset();
      g_interruption = signal;
      platform::faults::ActAtNth(Point::FileWrite, 1, Interrupt);
      platform::InstallInterruptHandlers();
      const char* argv[] = {"tvrcgcv", "q"};
      testing_support::EndChild(app::RunConversion(2, argv) == 0 ? 100 : 101);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 100);
    for (const auto& name : testing_support::ListDirectory(work_.path())) {
      ASSERT_TRUE(clean.files.contains(name)) << name;
      EXPECT_TRUE(testing_support::ReadWholeFile(work_.path() / name) == clean.files.at(name))
          << name;
    }
    EXPECT_EQ(testing_support::ListDirectory(work_.path()).size(), clean.files.size());
  }
}

}  // namespace
#endif

#ifndef _WIN32
namespace {

namespace allocations = testing_support::allocations;

// Memory that runs out anywhere in a run: each allocation of a clean run is
// made to fail in turn. The run must end as it documents, never through an
// exception: the row under way ends with its message (a console write that
// cannot be made ends the program with status 1), nothing stays held, and
// every file left is byte for byte a clean run's.
TEST_F(RunFaultSweep, AnAllocationThatFailsAnywhereIsReportedNotThrown) {
  WriteFirstRows(drive_);
  const auto run = [&](long failAt) {
    for (const auto& name : testing_support::ListDirectory(work_.path())) {
      std::filesystem::remove(work_.path() / name);
    }
    console_.clear();
    console_.reserve(1 << 16);
    ::testing::internal::CaptureStderr();
    const char* argv[] = {"tvrcgcv", "q"};
    allocations::Count(failAt);
    RunOutcome outcome;
    outcome.exitStatus = app::RunConversion(2, argv);
    allocations::Stop();
    outcome.errors = ::testing::internal::GetCapturedStderr();
    outcome.console = console_;
    for (const auto& name : testing_support::ListDirectory(work_.path())) {
      outcome.files[name] = testing_support::ReadWholeFile(work_.path() / name);
    }
    return outcome;
  };
  const RunOutcome clean = run(0);
  allocations::Count();
  run(0);
  const long count = allocations::Stop();
  if (count == 0) {
    GTEST_SKIP() << allocations::kNotOurOperatorNew;
  }
  ASSERT_GT(count, 20);
  const std::string_view messages[] = {app::texts::kDecodeFailed, app::texts::kLockFailed,
                                       app::texts::kCreateFailed};
  for (long n = 1; n <= count; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n << " of " << count);
    const RunOutcome failed = run(n);
    EXPECT_TRUE(NothingHeld()) << DescribeHeld();
    for (const auto& [name, bytes] : failed.files) {
      ASSERT_TRUE(clean.files.contains(name)) << name;
      EXPECT_TRUE(bytes == clean.files.at(name)) << name;
    }
    if (failed.exitStatus == app::kExitConsoleFailed) {
      EXPECT_EQ(failed.errors, std::string(app::texts::kConsoleWriteFailed) + kErrorLineEnd);
      continue;
    }
    ASSERT_EQ(failed.exitStatus, 0);
    if (failed.console == clean.console) {
      continue;  // it failed where a failure changes nothing (a file name for a message)
    }
    EXPECT_TRUE(std::any_of(std::begin(messages), std::end(messages), [&](std::string_view text) {
      return failed.console.ends_with("'..." + Line(text));
    })) << failed.console.substr(failed.console.size() > 80 ? failed.console.size() - 80 : 0);
  }
}

// The same for runs with options, of every kind: into a folder made for
// them, as PNG files, going on after failures, quietly; checking and
// listing the disc. Each ends with a status of its own kind, having said
// why on standard error, or as a clean run did; never through an
// exception. Nothing stays held, and every file left is a clean run's.
TEST_F(RunFaultSweep, AnAllocationThatFailsInARunWithOptionsIsReported) {
  WriteFirstRows(drive_);
  const std::string image = drive_.drive().string();
  const std::vector<std::string> kRuns[] = {
      {"q", "--out", "out/deep", "--only", "0-3", "--keep-going"},
      {"q", "--out", "png", "--only", "0-2", "--format", "png", "--quiet"},
      {"--image", image, "--only", "1-3", "--keep-going", "--quiet"},
      {"q", "--check", "--only", "0-3"},
      {"--list", "--only", "0,160"},
  };
  const auto run = [&](const std::vector<std::string>& args, long failAt) {
    std::filesystem::remove_all(work_.path() / "out");
    std::filesystem::remove_all(work_.path() / "png");
    for (const auto& name : testing_support::ListDirectory(work_.path())) {
      std::filesystem::remove(work_.path() / name);
    }
    console_.clear();
    console_.reserve(1 << 16);
    const app::CommandLine line = app::ParseCommandLine(args);
    ::testing::internal::CaptureStderr();
    allocations::Count(failAt);
    RunOutcome outcome;
    try {
      outcome.exitStatus = app::RunWithOptions(line, "tvrcgcv");
    } catch (const std::bad_alloc&) {
      outcome.exitStatus = -2;  // escaped
    }
    allocations::Stop();
    outcome.errors = ::testing::internal::GetCapturedStderr();
    outcome.console = console_;
    for (const auto& folder : {"out/deep", "png"}) {
      if (!std::filesystem::is_directory(work_.path() / folder)) {
        continue;
      }
      for (const auto& name : testing_support::ListDirectory(work_.path() / folder)) {
        outcome.files[name] = testing_support::ReadWholeFile(work_.path() / folder / name);
      }
    }
    return outcome;
  };
  const std::string kNoMemoryText = std::make_error_code(std::errc::not_enough_memory).message();
  for (const auto& args : kRuns) {
    if (!TVRCGCV_PNG_EXPECTED && std::find(args.begin(), args.end(), "png") != args.end()) {
      continue;  // no libspng of the target to load (a cross build under qemu)
    }
    SCOPED_TRACE(testing::PrintToString(args));
    const RunOutcome clean = run(args, 0);
    ASSERT_TRUE(clean.exitStatus == app::kExitOk || clean.exitStatus == app::kExitPicturesFailed ||
                clean.exitStatus == app::kExitDiscUnreadable)
        << clean.exitStatus << clean.errors;
    allocations::Count();
    run(args, 0);
    const long count = allocations::Stop();
    if (count == 0) {
      GTEST_SKIP() << allocations::kNotOurOperatorNew;
    }
    long reported = 0;
    for (long n = 1; n <= count; ++n) {
      SCOPED_TRACE(::testing::Message() << "allocation " << n << " of " << count);
      const RunOutcome failed = run(args, n);
      EXPECT_TRUE(NothingHeld()) << DescribeHeld();
      for (const auto& [name, bytes] : failed.files) {
        ASSERT_TRUE(clean.files.contains(name)) << name;
        EXPECT_TRUE(bytes == clean.files.at(name)) << name;
      }
      if (failed.exitStatus == clean.exitStatus && failed.console == clean.console &&
          failed.errors == clean.errors) {
        continue;  // it failed where a failure changes nothing
      }
      ++reported;
      EXPECT_NE(failed.exitStatus, -2) << "the exception escaped the run";
      EXPECT_NE(failed.exitStatus, app::kExitOk);
      // The drive's files are opened through the Windows file interface,
      // which has no word for memory running out: such a file reads as one
      // that cannot be opened.
      EXPECT_TRUE(failed.errors.find("out of memory") != std::string::npos ||
                  failed.errors.find(kNoMemoryText) != std::string::npos ||
                  failed.errors.find(": a source file cannot be opened\n") != std::string::npos)
          << failed.errors;
      EXPECT_TRUE(failed.errors.starts_with("tvrcgcv: ")) << failed.errors;
    }
    EXPECT_GT(reported, 0);
  }
}

// The C API under memory that runs out at every allocation of a decoder, a
// source of each kind and their decodes: each call returns CGVW_OK or
// CGVW_NO_MEMORY, a handle that could not be made is null, and a decode
// that succeeds gives the clean run's bytes.
TEST(AllocationSweep, TheCApiReportsRunningOutOfMemory) {
  using namespace testing_support::sample;
  FaultScope faults;
  const std::vector<std::uint8_t> disc = DiscBytes();
  TestDrive drive;
  drive.WriteFile(kDisc, disc);
  const std::string folder = drive.drive().string();
  const TCGVwImage plain = Plain(0x60, 5, 3, 30);
  const cgvw_read_fn read = [](void* user, const char* name, std::uint64_t offset, void* dest,
                               std::size_t size, std::size_t* got) -> int {
    const auto& bytes = *static_cast<const std::vector<std::uint8_t>*>(user);
    if (std::strcmp(name, kDisc) != 0) {
      return CGVW_CANNOT_OPEN;
    }
    *got = offset >= bytes.size() ? 0 : std::min<std::size_t>(size, bytes.size() - offset);
    std::memcpy(dest, bytes.data() + offset, *got);
    return CGVW_OK;
  };
  // Every call's status, and the bytes of each decode (empty where it
  // failed), in room made before the allocations are counted.
  struct Calls {
    std::vector<int> statuses;
    std::vector<std::uint8_t> decoded[6];
    Calls() {
      statuses.reserve(32);
      for (auto& bytes : decoded) {
        bytes.reserve(4096);
      }
    }
  };
  const auto calls = [&](Calls* made) {
    std::vector<int>* statuses = &made->statuses;
    cgvw_decoder* decoder = reinterpret_cast<cgvw_decoder*>(made);
    statuses->push_back(cgvw_decoder_new(&decoder));
    EXPECT_EQ(decoder == nullptr, statuses->back() != CGVW_OK);
    cgvw_source* sources[3] = {};
    statuses->push_back(cgvw_source_new_memory(&sources[0]));
    if (sources[0] != nullptr) {
      statuses->push_back(cgvw_source_add(sources[0], kDisc, disc.data(), disc.size(), CGVW_COPY));
      if (statuses->back() != CGVW_OK) {
        cgvw_source_free(sources[0]);  // it holds no file to decode from
        sources[0] = nullptr;
      }
    }
    statuses->push_back(cgvw_source_new_folder(folder.c_str(), &sources[1]));
    statuses->push_back(
        cgvw_source_new_reader(read, const_cast<std::vector<std::uint8_t>*>(&disc), &sources[2]));
    for (int i = 0; i < 3; ++i) {
      if (decoder == nullptr || sources[i] == nullptr) {
        continue;
      }
      std::vector<std::uint8_t>& pixels = made->decoded[2 * i];
      pixels.assign(5 * 3 * 3, 0);
      cgvw_output output{};
      output.format = CGVW_FORMAT_RGB8;
      output.pixels = pixels.data();
      output.size = pixels.size();
      statuses->push_back(cgvw_decode(decoder, sources[i], &plain, &output));
      if (statuses->back() != CGVW_OK) {
        pixels.clear();
      }
      void* bmp = nullptr;
      std::size_t size = 1;
      statuses->push_back(cgvw_decode_bmp(decoder, sources[i], &plain, &bmp, &size));
      EXPECT_EQ(bmp == nullptr, statuses->back() != CGVW_OK);
      if (bmp != nullptr) {
        made->decoded[2 * i + 1].assign(static_cast<std::uint8_t*>(bmp),
                                        static_cast<std::uint8_t*>(bmp) + size);
      }
      cgvw_free(bmp);
    }
    for (cgvw_source* source : sources) {
      cgvw_source_free(source);
    }
    cgvw_decoder_free(decoder);
  };
  Calls clean;
  allocations::Count();
  calls(&clean);
  const long count = allocations::Stop();
  ASSERT_EQ(clean.statuses, std::vector<int>(clean.statuses.size(), CGVW_OK));
  for (const auto& bytes : clean.decoded) {
    ASSERT_FALSE(bytes.empty());
  }
  if (count == 0) {
    GTEST_SKIP() << allocations::kNotOurOperatorNew;
  }
  long outOfMemory = 0;
  for (long n = 1; n <= count; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n << " of " << count);
    Calls failed;
    allocations::Count(n);
    calls(&failed);
    allocations::Stop();
    for (const int status : failed.statuses) {
      EXPECT_TRUE(status == CGVW_OK || status == CGVW_NO_MEMORY)
          << status << " from call " << (&status - failed.statuses.data());
      outOfMemory += status == CGVW_NO_MEMORY;
    }
    for (int i = 0; i < 6; ++i) {
      EXPECT_TRUE(failed.decoded[i].empty() || failed.decoded[i] == clean.decoded[i]) << i;
    }
    EXPECT_TRUE(NothingHeld()) << DescribeHeld();
  }
  EXPECT_GT(outOfMemory, count / 2);
}

// Disc images opened through the C API: memory that runs out anywhere in
// the opening is CGVW_NO_MEMORY, with no source and a reason that says
// only that (or none), never an exception nor a refusal of the image; a
// sheet that names a file that is not there is refused with the reason
// that names it whenever memory lasts long enough to say it.
TEST(AllocationSweep, DiscImagesOpenedFromCReportRunningOutOfMemory) {
  testing_support::TempDir work;
  const std::filesystem::path sheet = work.path() / "disc.cue";
  std::ofstream(sheet)
      << "FILE \"gone.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  std::vector<std::pair<std::filesystem::path, int>> images = {{sheet, CGVW_CANNOT_OPEN}};
  if (testing_support::WhyNoDiscImages().empty()) {
    std::filesystem::create_directories(work.path() / "tree");
    std::ofstream(work.path() / "tree" / "A.TXT") << "a file";
    ASSERT_TRUE(testing_support::MakeIsoImage(work.path() / "tree", work.path() / "disc.iso",
                                              testing_support::ImageKind::Joliet));
    images.emplace_back(work.path() / "disc.iso", CGVW_OK);
  }
  const std::string noMemory = cgvw::StatusText(cgvw::Status::NoMemory);
  for (const auto& [image, expected] : images) {
    SCOPED_TRACE(image.filename().string());
    const std::string path = image.string();
    char clean[256] = "x";
    cgvw_source* source = nullptr;
    allocations::Count();
    ASSERT_EQ(cgvw_source_new_disc_image(path.c_str(), &source, clean, sizeof clean), expected);
    const long count = allocations::Stop();
    EXPECT_EQ(source != nullptr, expected == CGVW_OK);
    cgvw_source_free(source);
    if (expected != CGVW_OK) {
      EXPECT_NE(std::strstr(clean, "gone.bin"), nullptr) << clean;
    }
    if (count == 0) {
      GTEST_SKIP() << allocations::kNotOurOperatorNew;
    }
    long outOfMemory = 0;
    for (long n = 1; n <= count; ++n) {
      SCOPED_TRACE(::testing::Message() << "allocation " << n << " of " << count);
      char problem[256] = "x";
      source = reinterpret_cast<cgvw_source*>(&problem);
      allocations::Count(n);
      const int status = cgvw_source_new_disc_image(path.c_str(), &source, problem, sizeof problem);
      allocations::Stop();
      if (status == CGVW_NO_MEMORY) {
        ++outOfMemory;
        EXPECT_EQ(source, nullptr);
        const std::string why = problem;
        EXPECT_TRUE(
            why.empty() || why == noMemory || why.ends_with(": out of memory") ||
            why.ends_with(": " + std::make_error_code(std::errc::not_enough_memory).message()))
            << why;
        continue;
      }
      EXPECT_EQ(status, expected);
      EXPECT_EQ(source != nullptr, expected == CGVW_OK);
      EXPECT_STREQ(problem, clean);
      cgvw_source_free(source);
    }
    EXPECT_GT(outOfMemory, 0);
  }
}

// The same for typed decodes of every kind: a status, never an exception.
TEST(AllocationSweep, TypedDecodesReportRunningOutOfMemory) {
  using namespace testing_support::sample;
  FaultScope faults;
  const std::vector<std::uint8_t> disc = DiscBytes();
  TestDrive drive;
  drive.WriteFile(kDisc, disc);
  cgvw::MemorySource memory;
  memory.Add(kDisc, disc);
  cgvw::FolderSource folder(drive.drive().string());
  const TCGVwChunk cells{kDisc, kCells, 64 * 2};
  const TCGVwImage tiled = Tiled(0xC41, 32, 32, &cells);
  const TCGVwImage plain = Plain(0x60, 5, 3, 30);
  const TCGVwLayer layers[] = {{&tiled, 0, 0, 0}, {&plain, 1, 2, 2}};
  const TCGVwLayers list{2, layers};
  const TCGVwImage composite{0x63, 33, 21, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, &list};
  for (cgvw::Source* source : std::initializer_list<cgvw::Source*>{&memory, &folder}) {
    for (const TCGVwImage* image : {&tiled, &plain, &composite}) {
      allocations::Count();
      const cgvw::Status clean = cgvw::Decode(*image, *source).status();
      const long count = allocations::Stop();
      ASSERT_EQ(clean, cgvw::Status::Ok);
      for (long n = 1; n <= count; ++n) {
        allocations::Count(n);
        cgvw::Problem problem;
        const cgvw::Status status = cgvw::Decode(*image, *source, {}, &problem).status();
        allocations::Stop();
        EXPECT_TRUE(status == cgvw::Status::Ok || status == cgvw::Status::NoMemory) << n;
        EXPECT_TRUE(NothingHeld()) << DescribeHeld();
      }
    }
  }
}

}  // namespace
#endif
