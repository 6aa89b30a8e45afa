// The POSIX stand-ins for Windows global memory and files, the fault seam and
// temporary heap buffers.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "console_texts.h"
#include "platform/console.h"
#include "platform/faults.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "platform/shift_jis.h"
#include "platform/temp_buffer.h"
#include "platform/win_api.h"
#include "test_support.h"

namespace {

using namespace platform;
using testing_support::CurrentDirScope;
using testing_support::FaultScope;
using testing_support::NothingHeld;
using testing_support::TempDir;
using testing_support::TestDrive;

// ---------------------------------------------------------------------------
// Global memory

TEST(GlobalMemory, GhndBlockIsZeroFilledAndKeepsItsSize) {
  FaultScope faults;
  HGLOBAL block = GlobalAlloc(GHND, 86312);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 86312u);
  auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
  ASSERT_NE(bytes, nullptr);
  EXPECT_TRUE(std::all_of(bytes, bytes + 86312, [](unsigned char b) { return b == 0; }));
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST(GlobalMemory, LocksNestAndContentsSurviveUnlocking) {
  FaultScope faults;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, 16);
  ASSERT_NE(block, nullptr);
  auto* first = static_cast<char*>(GlobalLock(block));
  ASSERT_NE(first, nullptr);
  std::memcpy(first, "kept", 4);
  auto* second = static_cast<char*>(GlobalLock(block));
  EXPECT_EQ(second, first);
  EXPECT_EQ(faults::LiveCounts().globalLocks, 2);

  EXPECT_NE(GlobalUnlock(block), 0);  // still locked once
  EXPECT_EQ(GlobalUnlock(block), 0);  // now unlocked
  EXPECT_EQ(GlobalUnlock(block), 0);  // not locked: nothing to undo
  EXPECT_EQ(faults::LiveCounts().globalLocks, 0);

  auto* again = static_cast<char*>(GlobalLock(block));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::memcmp(again, "kept", 4), 0);
  EXPECT_EQ(GlobalFree(block), nullptr);  // freeing a locked block drops its lock
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

TEST(GlobalMemory, FreedAndMadeUpHandlesAreRefused) {
  FaultScope faults;
  HGLOBAL freed = GlobalAlloc(GHND, 8);
  ASSERT_EQ(GlobalFree(freed), nullptr);
  HGLOBAL madeUp = reinterpret_cast<HGLOBAL>(0x7654321);
  for (HGLOBAL handle : {freed, madeUp, HGLOBAL{nullptr}}) {
    EXPECT_EQ(GlobalLock(handle), nullptr);
    EXPECT_EQ(GlobalUnlock(handle), 0);
    EXPECT_EQ(GlobalSize(handle), 0u);
    EXPECT_EQ(GlobalFree(handle), handle);
  }
  // A new block never takes over the number of a freed one.
  HGLOBAL next = GlobalAlloc(GHND, 8);
  EXPECT_NE(next, freed);
  GlobalFree(next);
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// ---------------------------------------------------------------------------
// Files

HANDLE OpenForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateForWriting(const char* path) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The whole content of a source file opened by its drive path, or "<none>".
std::string ReadSource(const char* path) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    return "<none>";
  }
  char buffer[64] = {};
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(file);
  return std::string(buffer, got);
}

class Files : public testing::Test {
 protected:
  void Put(const std::string& name, const std::string& text) {
    drive_.WriteFile(name, std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  void TearDown() override { EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld(); }

  FaultScope faults_;
  TestDrive drive_{'q'};
};

TEST_F(Files, DriveLetterOfEitherCaseMapsToTheDriveDirectory) {
  Put("bg000_0.bg", "tiles");
  EXPECT_EQ(ReadSource("q:\\bg000_0.bg"), "tiles");
  EXPECT_EQ(ReadSource("Q:\\bg000_0.bg"), "tiles");
  EXPECT_EQ(ReadSource("r:\\bg000_0.bg"), "<none>");  // no such drive
}

TEST_F(Files, NamesAreLookedUpIgnoringCaseExactMatchFirst) {
  Put("TESUNA.BPL", "upper");
  EXPECT_EQ(ReadSource("q:\\Tesuna.bpl"), "upper");

  Put("abc", "lower");
  Put("ABC", "caps");
  Put("aBc", "mixed");
  EXPECT_EQ(ReadSource("q:\\abc"), "lower");
  EXPECT_EQ(ReadSource("q:\\aBc"), "mixed");
  // No exact match: the first of "ABC", "aBc", "abc" in byte order.
  EXPECT_EQ(ReadSource("q:\\Abc"), "caps");
}

TEST_F(Files, WhenTheExactNameCannotBeOpenedTheLookupStillDecides) {
  // A directory of the exact name hides the file that differs only in case.
  std::filesystem::create_directory(drive_.drive() / "hidden");
  Put("HIDDEN", "not this");
  EXPECT_EQ(ReadSource("q:\\hidden"), "<none>");
  // Directories on the way are looked up ignoring case as well.
  std::filesystem::create_directory(drive_.drive() / "SUB");
  drive_.WriteFile("SUB/Inner.bin", {'x'});
  EXPECT_EQ(ReadSource("q:\\sub\\inner.BIN"), "x");
  EXPECT_EQ(ReadSource("q:\\SUB\\Inner.bin"), "x");
}

TEST_F(Files, OnlyRegularFilesOnTheDriveCanBeOpened) {
  std::filesystem::create_directory(drive_.drive() / "folder");
  ASSERT_EQ(::mkfifo((drive_.drive() / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(OpenForReading("q:\\folder"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenForReading("q:\\pipe"), INVALID_HANDLE_VALUE);  // and does not block
  EXPECT_EQ(OpenForReading("q:\\"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenForReading("q:\\missing"), INVALID_HANDLE_VALUE);
}

TEST_F(Files, NamesCannotLeaveTheDrive) {
  std::ofstream(drive_.root() / "outside") << "secret";
  Put("inside", "ok");
  EXPECT_EQ(ReadSource("q:\\..\\outside"), "<none>");
  EXPECT_EQ(ReadSource("q:\\.\\inside"), "<none>");
  EXPECT_EQ(ReadSource("q:\\../outside"), "<none>");
  EXPECT_EQ(ReadSource("q:\\\\inside"), "<none>");
  // A drive character that would name the drive root itself is no drive.
  EXPECT_EQ(ReadSource(".:\\outside"), "<none>");
  EXPECT_EQ(ReadSource("/:\\outside"), "<none>");
}

TEST_F(Files, ReadStopsAtTheEndOfTheFile) {
  Put("ten", "0123456789");
  HANDLE file = OpenForReading("q:\\ten");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[10];
  std::memset(buffer, '#', sizeof buffer);
  DWORD got = 99;
  EXPECT_NE(ReadFile(file, buffer, 10, &got, nullptr), 0);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 10), "6789######");

  // Beyond the end the position can be set, and a read finds nothing.
  EXPECT_EQ(SetFilePointer(file, 100, nullptr, FILE_BEGIN), 100u);
  EXPECT_NE(ReadFile(file, buffer, 10, &got, nullptr), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_NE(CloseHandle(file), 0);

  // A closed handle is refused.
  EXPECT_EQ(CloseHandle(file), 0);
  EXPECT_EQ(ReadFile(file, buffer, 10, &got, nullptr), 0);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
}

// A handle closed by one thread while another reads through it: the read
// finishes on the file it began with, which is closed when it is done.
HANDLE g_closedDuringRead = INVALID_HANDLE_VALUE;
BOOL g_closeResult = 0;
void CloseTheReadHandle() {
  g_closeResult = CloseHandle(g_closedDuringRead);
}

TEST_F(Files, AHandleClosedDuringAReadLetsTheReadFinish) {
  Put("ten", "0123456789");
  g_closedDuringRead = OpenForReading("q:\\ten");
  ASSERT_NE(g_closedDuringRead, INVALID_HANDLE_VALUE);
  faults::ActAtNth(faults::Point::FileRead, 1, CloseTheReadHandle);  // inside the read
  char buffer[10] = {};
  DWORD got = 0;
  EXPECT_NE(ReadFile(g_closedDuringRead, buffer, 10, &got, nullptr), 0);
  EXPECT_EQ(std::string(buffer, got), "0123456789");
  EXPECT_NE(g_closeResult, 0);
  EXPECT_EQ(ReadFile(g_closedDuringRead, buffer, 10, &got, nullptr), 0);  // gone now
}

TEST_F(Files, CreateReplacesAnExistingLongerFileInTheCurrentDirectory) {
  TempDir work;
  CurrentDirScope cwd(work.path());
  std::ofstream(work.path() / "out.bmp") << std::string(1000, 'x');

  HANDLE file = CreateForWriting("out.bmp");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  EXPECT_NE(WriteFile(file, "new", 3, &put, nullptr), 0);
  EXPECT_EQ(put, 3u);
  EXPECT_NE(CloseHandle(file), 0);
  EXPECT_EQ(testing_support::ReadWholeFile(work.path() / "out.bmp"),
            (std::vector<std::uint8_t>{'n', 'e', 'w'}));

  EXPECT_EQ(DeleteFileA("q:\\out.bmp"), 0);  // source drives are never written
  EXPECT_NE(DeleteFileA("out.bmp"), 0);
  EXPECT_FALSE(std::filesystem::exists(work.path() / "out.bmp"));
}

TEST_F(Files, AnOutputNameThatIsAPipeIsNotCreated) {
  TempDir work;
  CurrentDirScope cwd(work.path());
  ASSERT_EQ(::mkfifo((work.path() / "tvrcg000.bmp").c_str(), 0600), 0);
  // Writing a picture into a pipe nobody reads would block the run forever.
  EXPECT_EQ(CreateForWriting("tvrcg000.bmp"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(faults::LiveCounts().openFiles, 0);
}

// Output files: the temporary names a run writes beside its outputs, which
// final names may be replaced, and the stale temporaries a later run removes.
TEST(OutputFiles, TemporaryNamesSayWhoseTheyAre) {
  const std::string temporary = TemporaryNameFor("out/tvrcg007.bmp");
  EXPECT_EQ(temporary, "out/tvrcg007.bmp." + std::to_string(::getpid()) + ".tvrcgcv.tmp");
  const std::pair<const char*, bool> names[] = {
      {"tvrcg000.bmp.4242.tvrcgcv.tmp", true},
      {"tvrcg000.bmp", false},
      {".4242.tvrcgcv.tmp", false},
      {"x.tvrcgcv.tmp", false},
      {"x.42a.tvrcgcv.tmp", false},
      {"x..tvrcgcv.tmp", false},
      {"x.4242.tvrcgcv.tmp.bmp", false},
      {"x.12345678901.tvrcgcv.tmp", false},
  };
  TempDir work;
  for (const auto& [name, ours] : names) {
    std::ofstream(work.path() / name) << "x";
  }
  // Process 4242 is taken to be gone; ours and our parent's are running.
  RemoveStaleTemporaries(work.path().c_str());
  for (const auto& [name, ours] : names) {
    EXPECT_EQ(std::filesystem::exists(work.path() / name), !ours || ::getpid() == 4242) << name;
  }
  const std::string running = "tvrcg001.bmp." + std::to_string(::getppid()) + ".tvrcgcv.tmp";
  const std::string own = "tvrcg002.bmp." + std::to_string(::getpid()) + ".tvrcgcv.tmp";
  std::ofstream(work.path() / running) << "x";
  std::ofstream(work.path() / own) << "x";  // only an earlier process can have left it
  RemoveStaleTemporaries(work.path().c_str());
  EXPECT_TRUE(std::filesystem::exists(work.path() / running));
  EXPECT_FALSE(std::filesystem::exists(work.path() / own));
}

TEST(OutputFiles, OnlyFilesAndLinksMayBeReplaced) {
  TempDir work;
  const auto path = [&](const char* name) { return (work.path() / name).string(); };
  std::ofstream(path("file")) << "x";
  std::ofstream(path("read-only")) << "x";
  std::filesystem::permissions(path("read-only"), std::filesystem::perms::owner_read);
  std::filesystem::create_directory(path("folder"));
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink(path("folder"), path("link-to-folder"));
  std::filesystem::create_symlink(path("absent"), path("dangling"));
  // The reason given when the name is refused: the one the run reports.
  const std::error_code none;
  const std::error_code denied = std::make_error_code(std::errc::permission_denied);
  const std::error_code folder = std::make_error_code(std::errc::is_a_directory);
  const std::error_code notDir = std::make_error_code(std::errc::not_a_directory);
  const struct {
    const char* name;
    bool replaceable;
    std::error_code why;
  } cases[] = {
      {"absent", true, none},
      {"file", true, none},
      {"read-only", false, denied},
      {"folder", false, folder},
      {"pipe", false, NotRegularFileError()},
      {"dangling", true, none},
      {"link-to-folder", true, none},
      {"folder/absent", true, none},
      {"file/absent", false, notDir},
  };
  // Root may write any file: the user's own read-only file is what is refused.
  testing_support::AsUnprivilegedUser(work.path(), [&] {
    for (const auto& [name, replaceable, reason] : cases) {
      std::error_code why = std::make_error_code(std::errc::io_error);  // overwritten
      EXPECT_EQ(MayReplace(path(name).c_str(), &why), replaceable) << name;
      EXPECT_EQ(why.default_error_condition(), reason.default_error_condition())
          << name << ": " << why.message();
    }
    std::error_code why;
    EXPECT_FALSE(MayReplace("/dev/null", &why));
    EXPECT_EQ(why, NotRegularFileError());
  });
  // An output file refuses the same names for the same reasons, wherever
  // it looks (before creating, or when a rename that replaces nothing
  // finds the name taken), and leaves no temporary file behind. Where that
  // rename is missing (an old kernel: ENOSYS; a file system without it:
  // EINVAL) the name is looked at first, and a plain rename, which would
  // put the file over a pipe, runs only then; the missing rename is tried
  // once. Those runs are forked: the platform remembers it for the process.
  const auto placeEach = [&](const std::vector<std::uint8_t>& content) {
    testing_support::AsUnprivilegedUser(work.path(), [&] {
      for (const auto& [name, replaceable, reason] : cases) {
        OutputFile file;
        std::error_code failure;
        const bool placed = file.Create(path(name), &failure) && file.Write(content, &failure) &&
                            file.Commit(&failure);
        EXPECT_EQ(placed, replaceable) << name;
        EXPECT_EQ(failure.default_error_condition(), reason.default_error_condition())
            << name << ": " << failure.message();
        EXPECT_FALSE(std::filesystem::exists(TemporaryNameFor(path(name)))) << name;
        if (placed) {
          EXPECT_FALSE(std::filesystem::is_symlink(path(name))) << name;
          EXPECT_EQ(testing_support::ReadWholeFile(path(name)), content) << name;
        }
      }
      EXPECT_TRUE(std::filesystem::is_directory(path("folder")));
      EXPECT_TRUE(std::filesystem::is_fifo(path("pipe")));
      EXPECT_EQ(testing_support::ReadWholeFile(path("read-only")), std::vector<std::uint8_t>{'x'});
    });
  };
  placeEach({'n', 'e', 'w'});
  if (std::getenv("TVRCGCV_TEST_NO_FORK") != nullptr) {
    return;  // an emulator that hangs a forked child (scripts/stages/54-i686.sh)
  }
  for (const int missing : {ENOSYS, EINVAL}) {
    SCOPED_TRACE(std::strerror(missing));
    // The links were replaced by files above: planted again.
    for (const char* link : {"dangling", "link-to-folder"}) {
      std::filesystem::remove(path(link));
    }
    std::filesystem::create_symlink(path("folder"), path("link-to-folder"));
    std::filesystem::create_symlink(path("absent"), path("dangling"));
    std::filesystem::remove(path("absent"));
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      faults::Reset();
      faults::FailNthWith(faults::Point::RenameNoReplace, 1, missing);
      placeEach({'l', 'o', 'o', 'k', 'e', 'd'});
#ifdef __linux__
      EXPECT_EQ(faults::Calls(faults::Point::RenameNoReplace), 1);
#endif
      std::fflush(nullptr);  // the failures said
      testing_support::EndChild(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
}

// The folders of --out: each missing one made, from the top; a path that
// cannot be made whole leaves none of those it made behind.
TEST(OutputFiles, FoldersAreMadeWholeOrNotAtAll) {
  TempDir work;
  std::ofstream(work.path() / "file") << "x";
  const std::string tooLong(NAME_MAX + 1, 'n');
  const struct {
    std::string path;
    std::errc why;  // std::errc{}: made
  } kPaths[] = {
      {"a/b/c", std::errc{}},
      {"a//b/c/", std::errc{}},
      {"a", std::errc{}},
      {"file", std::errc::not_a_directory},
      {"file/d", std::errc::not_a_directory},
      {"new/deeper/" + tooLong + "/x", std::errc::filename_too_long},
  };
  for (const auto& [path, why] : kPaths) {
    SCOPED_TRACE(path);
    const std::error_code error = CreateFolders((work.path() / path).string());
    EXPECT_EQ(error.default_error_condition(), std::make_error_condition(why)) << error.message();
    if (why == std::errc{}) {
      EXPECT_TRUE(std::filesystem::is_directory(work.path() / path));
    }
    // "new" and "new/deeper" were made, and removed again.
    EXPECT_EQ(testing_support::ListDirectory(work.path()), (std::vector<std::string>{"a", "file"}));
  }
}

// A name planted where the temporary file goes (a link to a file elsewhere,
// or to a name that does not exist yet) is never followed: the create fails
// and nothing outside is written or made.
TEST(OutputFiles, ALinkAtTheTemporaryNameIsNeverFollowed) {
  FaultScope faults;
  TempDir work;
  TempDir elsewhere;
  const auto final = (work.path() / "tvrcg000.bmp").string();
  std::ofstream(elsewhere.path() / "target") << "target";
  for (const char* planted : {"target", "absent"}) {
    SCOPED_TRACE(planted);
    std::filesystem::remove(TemporaryNameFor(final));
    std::filesystem::create_symlink(elsewhere.path() / planted, TemporaryNameFor(final));
    OutputFile file;
    std::error_code why;
    EXPECT_FALSE(file.Create(final, &why));
    EXPECT_EQ(why.default_error_condition(), std::errc::file_exists) << why.message();
    EXPECT_FALSE(file.Write(std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_FALSE(file.Commit());
    EXPECT_FALSE(std::filesystem::exists(final));
    EXPECT_EQ(testing_support::ReadWholeFile(elsewhere.path() / "target"),
              (std::vector<std::uint8_t>{'t', 'a', 'r', 'g', 'e', 't'}));
    EXPECT_EQ(testing_support::ListDirectory(elsewhere.path()), std::vector<std::string>{"target"});
    EXPECT_EQ(faults::LiveCounts().openFiles, 0);
  }
}

TEST(OutputFiles, RenamingReplacesTheNameNotWhatItLinksTo) {
  TempDir work;
  CurrentDirScope cwd(work.path());
  std::ofstream("new") << "new";
  std::ofstream("target") << "old";
  std::filesystem::create_symlink("target", "final");
  EXPECT_EQ(MoveFileExA("new", "final", 0), 0);  // may not replace
  EXPECT_NE(MoveFileExA("new", "final", MOVEFILE_REPLACE_EXISTING), 0);
  EXPECT_FALSE(std::filesystem::is_symlink("final"));
  EXPECT_EQ(testing_support::ReadWholeFile("final"), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(testing_support::ReadWholeFile("target"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(MoveFileExA("q:\\target", "moved", MOVEFILE_REPLACE_EXISTING), 0);
}

// Only a console window of the program's own waits for a key; a terminal
// outlives the program.
TEST(ConsoleLocale, NoWindowOfItsOwnWaits) {
  EXPECT_FALSE(platform::OwnsConsoleWindow());
  platform::faults::PretendOwnConsoleWindow(1);
  std::string sink;
  platform::faults::CaptureConsole(&sink);
  platform::WaitForKey("Press any key.");
  platform::faults::CaptureConsole(nullptr);
  EXPECT_TRUE(platform::OwnsConsoleWindow());
  platform::faults::PretendOwnConsoleWindow(-1);
  EXPECT_EQ(sink, "Press any key.");
  EXPECT_FALSE(platform::OwnsConsoleWindow());
}

TEST(ConsoleLocale, NamesOfUtf8AreToldApart) {
  const std::pair<const char*, bool> names[] = {
      {"ja_JP.UTF-8", true},
      {"C.utf8", true},
      {"en_US.Utf-8@euro", true},
      {"xx.U-T-F-8", true},
      {"ja_JP", false},
      {"ja_JP.eucJP", false},
      {"C", false},
      {"POSIX", false},
      {"", false},
      {"de_DE.UTF-16", false},
      {"x.utf", false},
      {"x@x.UTF-8", true},
  };
  for (const auto& [name, utf8] : names) {
    EXPECT_EQ(LocaleNameSaysUtf8(name), utf8) << name;
  }
}

// The program's Shift-JIS converter, through an output buffer of `room`
// bytes at a time.
std::string ThroughConverter(std::string_view text, std::size_t room) {
  std::string converted;
  std::vector<char> out(room);
  while (!text.empty()) {
    const std::size_t put = ShiftJisToUtf8(&text, out);
    if (put == 0) {
      return converted + "<stuck>";
    }
    converted.append(out.data(), put);
  }
  return converted;
}

// The same through the C library's code page 932, a byte that does not
// convert passed on as it is.
std::string ThroughIconv(iconv_t cd, std::string_view text) {
  std::string converted;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char out[16];
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    if (::iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) &&
        errno != E2BIG) {
      *outPtr++ = *in++;
      --inLeft;
    }
    converted.append(out, outPtr);
  }
  return converted;
}

// A terminal that expects UTF-8 is shown each console text, all kana and
// the bytes that are no characters as code page 932 shows them, whatever
// the converter's buffer.
TEST(ConsoleLocale, ShiftJisConvertsAsCodePage932) {
  const iconv_t cd = ::iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    GTEST_SKIP() << "this system's iconv has no CP932 to compare with";
  }
  std::vector<std::string> texts = {std::string(app::texts::kBanner1) + "\r\n",
                                    std::string(app::texts::kDecodeFailed),
                                    std::string(app::texts::kLockFailed),
                                    std::string(app::texts::kCreateFailed),
                                    std::string(app::texts::kFinished),
                                    std::string(app::texts::kUsage),
                                    "\x80",
                                    "\xA0",
                                    "\xFD\xFE\xFF",
                                    "x\x81",
                                    "\x81\x20",
                                    "\x85\x40",
                                    "\xE0\x7F",
                                    "a\0b",
                                    "\x81\x40\x81\x41\x81\x42"};
  std::string halfWidth;
  for (int c = 0xA1; c <= 0xDF; ++c) {
    halfWidth += static_cast<char>(c);
  }
  texts.push_back(halfWidth);
  for (const int row : {0x82, 0x83}) {  // hiragana, katakana
    std::string kana;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if ((row == 0x82 && trail >= 0x9F && trail <= 0xF1) ||
          (row == 0x83 && trail <= 0x96 && trail != 0x7F)) {
        kana += {static_cast<char>(row), static_cast<char>(trail)};
      }
    }
    texts.push_back(kana);
  }
  for (const std::string& text : texts) {
    const std::string expected = ThroughIconv(cd, text);
    for (const std::size_t room : {3, 4, 7, 4096}) {
      EXPECT_EQ(ThroughConverter(text, room), expected) << testing::PrintToString(text) << room;
    }
  }
  ::iconv_close(cd);
}

// A pair of bytes the converter does not hold (a kanji no text has, or a
// UTF-8 path) goes on as it is.
TEST(ConsoleLocale, ShiftJisPairsNotHeldGoOnAsTheyAre) {
  EXPECT_EQ(ThroughConverter("\x88\x9F", 16), "\x88\x9F");
  EXPECT_EQ(ThroughConverter("/tmp/\xE5\x86\x99", 16), "/tmp/\xE5\x86\x99");
  EXPECT_EQ(ThroughConverter("\x8F\x49", 2), "<stuck>");  // no room for a character
}

// ---------------------------------------------------------------------------
// Fault seam

TEST(FaultSeam, FailNthFiresOnceOnTheNthCallFromNow) {
  FaultScope faults;
  HGLOBAL before = GlobalAlloc(GHND, 4);  // counted, but before the arming
  faults::FailNth(faults::Point::GlobalAlloc, 2);
  HGLOBAL first = GlobalAlloc(GHND, 4);
  HGLOBAL second = GlobalAlloc(GHND, 4);
  HGLOBAL third = GlobalAlloc(GHND, 4);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(faults::Calls(faults::Point::GlobalAlloc), 4);
  EXPECT_EQ(faults::LiveCounts().globalBlocks, 3);
  for (HGLOBAL block : {before, first, third}) {
    GlobalFree(block);
  }

  faults::FailNth(faults::Point::GlobalLock, 1);
  faults::FailNth(faults::Point::GlobalLock, 0);  // disarmed again
  HGLOBAL block = GlobalAlloc(GHND, 4);
  EXPECT_NE(GlobalLock(block), nullptr);
  GlobalFree(block);

  faults::FailNth(faults::Point::HeapBuffer, 1);
  faults::Reset();
  EXPECT_EQ(faults::Calls(faults::Point::GlobalAlloc), 0);
  EXPECT_TRUE(TempBuffer::Obtain(4));
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

// ---------------------------------------------------------------------------
// Temporary buffers

TEST(TempBufferTest, IsZeroFilledAndReleasedWithItsLastOwner) {
  FaultScope faults;
  {
    TempBuffer buffer = TempBuffer::Obtain(1296);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer.size(), 1296u);
    EXPECT_TRUE(std::all_of(buffer.span().begin(), buffer.span().end(),
                            [](std::uint8_t b) { return b == 0; }));
    TempBuffer moved = std::move(buffer);
    EXPECT_TRUE(moved);
    EXPECT_EQ(faults::LiveCounts().heapBuffers, 1);
    moved = TempBuffer::Obtain(8);  // the old buffer goes first
    EXPECT_EQ(faults::LiveCounts().heapBuffers, 1);
  }
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();

  // Zero bytes count as a failure to obtain memory.
  EXPECT_FALSE(TempBuffer::Obtain(0));
  faults::FailNth(faults::Point::HeapBuffer, 1);
  EXPECT_FALSE(TempBuffer::Obtain(64));
  EXPECT_TRUE(NothingHeld()) << testing_support::DescribeHeld();
}

}  // namespace
