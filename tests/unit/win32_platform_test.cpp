// The Windows side of the platform layer against the real system (or Wine):
// global memory, files through drive letters, standard output and the
// message box, each with the fault seam's counting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/faults.h"
#include "platform/folder_files.h"
#include "platform/output_files.h"
#include "platform/win_api.h"
#include "test_support.h"

namespace {
// The platform's values, taken before <windows.h> hides their names.
constexpr platform::UINT kGhnd = platform::GHND;
constexpr platform::UINT kFixed = platform::GMEM_FIXED;
constexpr platform::DWORD kRead = platform::GENERIC_READ;
constexpr platform::DWORD kReadWrite = platform::GENERIC_READ | platform::GENERIC_WRITE;
constexpr platform::DWORD kOpenExisting = platform::OPEN_EXISTING;
constexpr platform::DWORD kCreateAlways = platform::CREATE_ALWAYS;
constexpr platform::DWORD kNormal = platform::FILE_ATTRIBUTE_NORMAL;
constexpr platform::DWORD kBegin = platform::FILE_BEGIN;
constexpr platform::DWORD kBadPointer = platform::INVALID_SET_FILE_POINTER;
constexpr platform::UINT kOkCancel = platform::MB_OKCANCEL;
platform::HANDLE const kBadHandle = platform::INVALID_HANDLE_VALUE;
constexpr platform::faults::Point kBoxPoint = platform::faults::Point::MessageBox;
}  // namespace

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

namespace fs = std::filesystem;
using platform::faults::Calls;
using platform::faults::FailNth;
using platform::faults::LiveCounts;
using platform::faults::Point;
using testing_support::DescribeHeld;
using testing_support::FaultScope;
using testing_support::NothingHeld;
using testing_support::ReadWholeFile;
using testing_support::TempDir;
using testing_support::TestDrive;

// "終了。" (finished) and the banner's "コンバーター" (converter), as stored.
const std::string kFinished = "\x8F\x49\x97\xB9\x81\x42";
const std::string kConverter = "\x83\x52\x83\x93\x83\x6F\x81\x5B\x83\x5E\x81\x5B";

// ---------------------------------------------------------------------------
// Global memory

TEST(Win32GlobalMemory, MoveableBlockStartsZeroedAndKeepsItsBytesBetweenLocks) {
  FaultScope faults;
  platform::HGLOBAL block = platform::GlobalAlloc(kGhnd, 86312);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(platform::GlobalSize(block), 86312u);
  auto* bytes = static_cast<std::uint8_t*>(platform::GlobalLock(block));
  ASSERT_NE(bytes, nullptr);
  EXPECT_TRUE(std::all_of(bytes, bytes + 86312, [](std::uint8_t b) { return b == 0; }));
  for (std::size_t i = 0; i < 86312; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  }
  EXPECT_EQ(platform::GlobalUnlock(block), 0);  // no lock left

  bytes = static_cast<std::uint8_t*>(platform::GlobalLock(block));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[86311], static_cast<std::uint8_t>(86311 * 7));
  EXPECT_EQ(bytes[1000], static_cast<std::uint8_t>(7000));
  platform::GlobalUnlock(block);
  EXPECT_EQ(platform::GlobalFree(block), nullptr);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32GlobalMemory, LocksAreCountedForFixedAndEmptyBlocks) {
  FaultScope faults;
  platform::HGLOBAL fixed = platform::GlobalAlloc(kFixed, 10);
  platform::HGLOBAL empty = platform::GlobalAlloc(kGhnd, 0);
  ASSERT_NE(fixed, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(platform::GlobalSize(empty), 0u);
  EXPECT_NE(platform::GlobalLock(empty), nullptr);  // a zero-byte block still has an address

  ASSERT_NE(platform::GlobalLock(fixed), nullptr);
  ASSERT_NE(platform::GlobalLock(fixed), nullptr);
  EXPECT_EQ(LiveCounts().globalLocks, 3);
  EXPECT_NE(platform::GlobalUnlock(fixed), 0);  // still locked once
  EXPECT_EQ(platform::GlobalUnlock(fixed), 0);
  EXPECT_EQ(platform::GlobalUnlock(fixed), 0);  // not locked: nothing changes
  EXPECT_EQ(LiveCounts().globalLocks, 1);

  // Freeing a block that is still locked gives its locks back.
  EXPECT_EQ(platform::GlobalFree(empty), nullptr);
  EXPECT_EQ(platform::GlobalFree(fixed), nullptr);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32GlobalMemory, UnknownAndFreedHandlesAreRefused) {
  FaultScope faults;
  int notABlock = 0;
  platform::HGLOBAL madeUp = &notABlock;
  EXPECT_EQ(platform::GlobalLock(madeUp), nullptr);
  EXPECT_EQ(platform::GlobalUnlock(madeUp), 0);
  EXPECT_EQ(platform::GlobalFree(madeUp), madeUp);
  EXPECT_EQ(platform::GlobalSize(madeUp), 0u);

  platform::HGLOBAL block = platform::GlobalAlloc(kGhnd, 16);
  ASSERT_EQ(platform::GlobalFree(block), nullptr);
  EXPECT_EQ(platform::GlobalLock(block), nullptr);
  EXPECT_EQ(platform::GlobalFree(block), block);
  EXPECT_EQ(notABlock, 0);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32GlobalMemory, FaultsFailTheNthCallAndHoldNothing) {
  FaultScope faults;
  FailNth(Point::GlobalAlloc, 2);
  platform::HGLOBAL first = platform::GlobalAlloc(kGhnd, 8);
  EXPECT_EQ(platform::GlobalAlloc(kGhnd, 8), nullptr);
  platform::HGLOBAL third = platform::GlobalAlloc(kFixed, 8);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(Calls(Point::GlobalAlloc), 3);
  EXPECT_EQ(LiveCounts().globalBlocks, 2);

  FailNth(Point::GlobalLock, 1);
  EXPECT_EQ(platform::GlobalLock(first), nullptr);
  EXPECT_EQ(LiveCounts().globalLocks, 0);
  EXPECT_NE(platform::GlobalLock(first), nullptr);
  EXPECT_EQ(Calls(Point::GlobalLock), 2);
  platform::GlobalUnlock(first);
  platform::GlobalFree(first);
  platform::GlobalFree(third);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

// ---------------------------------------------------------------------------
// Files

std::vector<std::uint8_t> Ramp(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 3 + 1);
  }
  return bytes;
}

platform::HANDLE OpenSource(const char* path) {
  return platform::CreateFileA(path, kRead, 0, nullptr, kOpenExisting, kNormal, nullptr);
}

platform::HANDLE CreateOutput(const std::string& path) {
  return platform::CreateFileA(path.c_str(), kReadWrite, 0, nullptr, kCreateAlways, kNormal,
                               nullptr);
}

TEST(Win32Files, SourceIsReadThroughItsDriveLetterFromAnyOffset) {
  FaultScope faults;
  TestDrive drive('q');
  const auto content = Ramp(1000);
  drive.WriteFile("bg000_0.bg", content);

  // Drive letters and file names are found whatever their case.
  platform::HANDLE file = OpenSource("Q:\\BG000_0.BG");
  ASSERT_NE(file, kBadHandle);
  EXPECT_EQ(LiveCounts().openFiles, 1);

  std::vector<std::uint8_t> buffer(50, 0xEE);
  platform::DWORD got = 0;
  EXPECT_EQ(platform::SetFilePointer(file, 100, nullptr, kBegin), 100u);
  EXPECT_NE(platform::ReadFile(file, buffer.data(), 50, &got, nullptr), 0);
  EXPECT_EQ(got, 50u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin() + 100));

  // A range that runs past the end gives the bytes that exist.
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(platform::SetFilePointer(file, 990, nullptr, kBegin), 990u);
  EXPECT_NE(platform::ReadFile(file, buffer.data(), 50, &got, nullptr), 0);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(buffer[9], content[999]);
  EXPECT_EQ(buffer[10], 0xEE);
  EXPECT_EQ(platform::SetFilePointer(file, 5000, nullptr, kBegin), 5000u);
  EXPECT_NE(platform::ReadFile(file, buffer.data(), 50, &got, nullptr), 0);
  EXPECT_EQ(got, 0u);

  EXPECT_NE(platform::CloseHandle(file), 0);
  EXPECT_EQ(platform::CloseHandle(file), 0);  // closed already
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32Files, MissingFilesAndDirectoriesDoNotOpen) {
  FaultScope faults;
  TestDrive drive('q');
  fs::create_directory(drive.drive() / "sub");
  EXPECT_EQ(OpenSource("q:\\bg001_0.bg"), kBadHandle);
  EXPECT_EQ(OpenSource("q:\\sub"), kBadHandle);
  EXPECT_EQ(OpenSource(nullptr), kBadHandle);
  EXPECT_EQ(Calls(Point::FileOpen), 3);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32Files, OpenFilesAreNotShared) {
  FaultScope faults;
  TestDrive drive('q');
  drive.WriteFile("Tesuna.bpl", Ramp(16));
  TempDir out;
  const std::string output = (out.path() / "tvrcg000.bmp").string();

  platform::HANDLE source = OpenSource("q:\\Tesuna.bpl");
  platform::HANDLE target = CreateOutput(output);
  ASSERT_NE(source, kBadHandle);
  ASSERT_NE(target, kBadHandle);
  const std::string sourcePath = (drive.drive() / "Tesuna.bpl").string();
  for (const std::string& path : {sourcePath, output}) {
    HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << path;
    if (other != INVALID_HANDLE_VALUE) {
      ::CloseHandle(other);
    }
  }
  platform::CloseHandle(source);
  platform::CloseHandle(target);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32Files, OutputReplacesAnOlderFileAndCanBeReadBack) {
  FaultScope faults;
  TempDir out;
  const fs::path path = out.path() / "tvrcg001.bmp";
  {
    platform::HANDLE old = CreateOutput(path.string());
    ASSERT_NE(old, kBadHandle);
    const auto filler = std::vector<std::uint8_t>(5000, 0xAA);
    platform::DWORD put = 0;
    platform::WriteFile(old, filler.data(), 5000, &put, nullptr);
    platform::CloseHandle(old);
  }
  const auto header = Ramp(14);
  const auto block = Ramp(300);
  platform::HANDLE file = CreateOutput(path.string());
  ASSERT_NE(file, kBadHandle);
  platform::DWORD put = 0;
  EXPECT_NE(platform::WriteFile(file, header.data(), 14, &put, nullptr), 0);
  EXPECT_EQ(put, 14u);
  EXPECT_NE(platform::WriteFile(file, block.data(), 300, &put, nullptr), 0);
  EXPECT_EQ(put, 300u);

  // Opened for reading as well as writing.
  std::vector<std::uint8_t> back(14);
  platform::DWORD got = 0;
  EXPECT_EQ(platform::SetFilePointer(file, 0, nullptr, kBegin), 0u);
  EXPECT_NE(platform::ReadFile(file, back.data(), 14, &got, nullptr), 0);
  EXPECT_EQ(back, header);
  EXPECT_NE(platform::CloseHandle(file), 0);

  auto expected = header;
  expected.insert(expected.end(), block.begin(), block.end());
  EXPECT_EQ(ReadWholeFile(path), expected);  // nothing of the older, longer file is left
  EXPECT_NE(platform::DeleteFileA(path.string().c_str()), 0);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(platform::DeleteFileA(path.string().c_str()), 0);
  EXPECT_EQ(platform::DeleteFileA(nullptr), 0);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

TEST(Win32Files, OutputThatCannotBeCreatedFails) {
  FaultScope faults;
  TempDir out;
  EXPECT_EQ(CreateOutput((out.path() / "missing" / "tvrcg000.bmp").string()), kBadHandle);
  // A file that another handle holds open.
  const std::string held = (out.path() / "tvrcg002.bmp").string();
  platform::HANDLE first = CreateOutput(held);
  ASSERT_NE(first, kBadHandle);
  EXPECT_EQ(CreateOutput(held), kBadHandle);
  platform::CloseHandle(first);
  EXPECT_EQ(Calls(Point::FileCreate), 3);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

// What may stand where an output goes, and why not; and the folders made
// for --out, with either separator, up to a file in the way.
TEST(Win32Files, OutputNamesAndFoldersOfOutputs) {
  TempDir out;
  const auto at = [&](const char* name) { return (out.path() / name).string(); };
  fs::create_directory(at("folder"));
  { std::ofstream(at("read-only")) << "x"; }
  ASSERT_NE(::SetFileAttributesA(at("read-only").c_str(), FILE_ATTRIBUTE_READONLY), 0);
  const struct {
    std::string path;
    bool replaceable;
    std::error_code why;
  } kNames[] = {
      {at("absent"), true, {}},
      {at("folder"), false, std::make_error_code(std::errc::is_a_directory)},
      {at("read-only"), false, {ERROR_ACCESS_DENIED, std::system_category()}},
      {at("folder") + "\\absent", true, {}},
  };
  for (const auto& name : kNames) {
    std::error_code why = std::make_error_code(std::errc::io_error);
    EXPECT_EQ(platform::MayReplace(name.path.c_str(), &why), name.replaceable) << name.path;
    EXPECT_EQ(why, name.why) << name.path << ": " << why.message();
  }
  ::SetFileAttributesA(at("read-only").c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_FALSE(platform::CreateFolders(at("a") + "\\b/c\\"));
  EXPECT_TRUE(fs::is_directory(out.path() / "a" / "b" / "c"));
  EXPECT_FALSE(platform::CreateFolders(at("a")));                 // there already
  EXPECT_TRUE(platform::CreateFolders(at("read-only") + "\\d"));  // a file in the way
  EXPECT_EQ(platform::CreateFolders(at("read-only")),
            std::make_error_code(std::errc::not_a_directory));
}

TEST(Win32Files, HandlesThisLayerDidNotOpenAreRefused) {
  FaultScope faults;
  HANDLE standardError = ::GetStdHandle(STD_ERROR_HANDLE);
  char byte = 'x';
  platform::DWORD count = 99;
  for (platform::HANDLE handle : {static_cast<platform::HANDLE>(standardError), kBadHandle,
                                  static_cast<platform::HANDLE>(nullptr)}) {
    EXPECT_EQ(platform::ReadFile(handle, &byte, 1, &count, nullptr), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(platform::WriteFile(handle, &byte, 1, &count, nullptr), 0);
    EXPECT_EQ(platform::SetFilePointer(handle, 0, nullptr, kBegin), kBadPointer);
    EXPECT_EQ(platform::CloseHandle(handle), 0);
  }
  EXPECT_EQ(Calls(Point::FileRead), 0);
  EXPECT_EQ(Calls(Point::FileWrite), 0);
  if (standardError != nullptr && standardError != INVALID_HANDLE_VALUE) {
    DWORD flags = 0;
    EXPECT_NE(::GetHandleInformation(standardError, &flags), 0);  // still open
  }
}

TEST(Win32Files, FaultsStopTheCallBeforeItReachesTheSystem) {
  FaultScope faults;
  TestDrive drive('q');
  drive.WriteFile("Sofu.btx", Ramp(64));
  TempDir out;
  const fs::path path = out.path() / "tvrcg160.bmp";

  FailNth(Point::FileCreate, 1);
  EXPECT_EQ(CreateOutput(path.string()), kBadHandle);
  EXPECT_FALSE(fs::exists(path));  // nothing was created

  FailNth(Point::FileOpen, 1);
  EXPECT_EQ(OpenSource("q:\\Sofu.btx"), kBadHandle);
  platform::HANDLE source = OpenSource("q:\\Sofu.btx");
  ASSERT_NE(source, kBadHandle);
  std::uint8_t buffer[64] = {};
  platform::DWORD got = 7;
  FailNth(Point::FileRead, 1);
  EXPECT_EQ(platform::ReadFile(source, buffer, 64, &got, nullptr), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_NE(platform::ReadFile(source, buffer, 64, &got, nullptr), 0);
  EXPECT_EQ(got, 64u);
  EXPECT_NE(platform::CloseHandle(source), 0);

  platform::HANDLE target = CreateOutput(path.string());
  ASSERT_NE(target, kBadHandle);
  FailNth(Point::FileWrite, 2);
  EXPECT_NE(platform::WriteFile(target, buffer, 14, &got, nullptr), 0);
  EXPECT_EQ(platform::WriteFile(target, buffer, 50, &got, nullptr), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_NE(platform::CloseHandle(target), 0);
  EXPECT_EQ(fs::file_size(path), 14u);

  EXPECT_EQ(Calls(Point::FileCreate), 2);
  EXPECT_EQ(Calls(Point::FileOpen), 2);
  EXPECT_EQ(Calls(Point::FileRead), 2);
  EXPECT_EQ(Calls(Point::FileWrite), 2);
  EXPECT_TRUE(NothingHeld()) << DescribeHeld();
}

// ---------------------------------------------------------------------------
// Standard output

// Points standard output (or standard error) at the write end of a pipe
// while it lives.
class StdHandleOnPipe {
 public:
  explicit StdHandleOnPipe(DWORD which = STD_OUTPUT_HANDLE)
      : which_(which), saved_(::GetStdHandle(which)) {
    if (::CreatePipe(&read_, &write_, nullptr, 1 << 16) != 0) {
      ::SetStdHandle(which_, write_);
    }
  }
  ~StdHandleOnPipe() {
    ::SetStdHandle(which_, saved_);
    CloseReadEnd();
    if (write_ != nullptr) {
      ::CloseHandle(write_);
    }
  }
  StdHandleOnPipe(const StdHandleOnPipe&) = delete;
  StdHandleOnPipe& operator=(const StdHandleOnPipe&) = delete;

  bool ok() const { return write_ != nullptr; }
  // The bytes that arrived so far.
  std::string Take() {
    std::string bytes;
    DWORD waiting = 0;
    while (::PeekNamedPipe(read_, nullptr, 0, nullptr, &waiting, nullptr) != 0 && waiting > 0) {
      std::string piece(waiting, '\0');
      DWORD got = 0;
      if (::ReadFile(read_, piece.data(), waiting, &got, nullptr) == 0) {
        break;
      }
      bytes.append(piece, 0, got);
    }
    return bytes;
  }
  void CloseReadEnd() {
    if (read_ != nullptr) {
      ::CloseHandle(read_);
      read_ = nullptr;
    }
  }

 private:
  DWORD which_;
  HANDLE saved_;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

TEST(Win32Console, PipesGetTheStoredBytesAtOnce) {
  FaultScope faults;
  StdHandleOnPipe pipe;
  ASSERT_TRUE(pipe.ok());
  const std::string progress = "creating 'tvrcg000.bmp'...";
  ASSERT_TRUE(platform::ConsoleWrite(progress));
  EXPECT_EQ(pipe.Take(), progress);  // no line end needed to get it out
  ASSERT_TRUE(platform::ConsoleWrite("done.\r\n"));
  ASSERT_TRUE(
      platform::ConsoleWrite("Tavorin CG" + kConverter + " ver 1.0\r\n" + kFinished + "\r\n"));
  // CR LF stays two bytes and Shift-JIS is not converted.
  EXPECT_EQ(pipe.Take(), "done.\r\nTavorin CG" + kConverter + " ver 1.0\r\n" + kFinished + "\r\n");
  EXPECT_EQ(Calls(Point::Console), 3);
}

// Started by a double click, the program has a console window of its own,
// which would close as it ends: it waits for a key there. Started from a
// console, or with its output redirected (as here, or on a pipe), it does
// not.
TEST(Win32Console, AWindowOfItsOwnWaitsForAKey) {
  FaultScope faults;
  EXPECT_FALSE(platform::OwnsConsoleWindow());
  {
    StdHandleOnPipe pipe;
    ASSERT_TRUE(pipe.ok());
    EXPECT_FALSE(platform::OwnsConsoleWindow());
  }
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  ::DWORD mode = 0;
  if (::GetConsoleMode(input, &mode) == 0) {
    GTEST_SKIP() << "this process has no console input";
  }
  platform::faults::PretendOwnConsoleWindow(1);
  EXPECT_TRUE(platform::OwnsConsoleWindow());
  ::INPUT_RECORD key{};
  key.EventType = KEY_EVENT;
  key.Event.KeyEvent.bKeyDown = TRUE;
  key.Event.KeyEvent.wRepeatCount = 1;
  key.Event.KeyEvent.uChar.UnicodeChar = L' ';
  ::DWORD put = 0;
  ASSERT_NE(::WriteConsoleInputW(input, &key, 1, &put), 0);
  std::string sink;
  platform::faults::CaptureConsole(&sink);
  platform::WaitForKey("Press any key.");  // the key is there: it returns at once
  platform::faults::CaptureConsole(nullptr);
  platform::faults::PretendOwnConsoleWindow(-1);
  EXPECT_EQ(sink, "Press any key.");
}

TEST(Win32Console, FailedWritesAreReported) {
  FaultScope faults;
  StdHandleOnPipe pipe;
  ASSERT_TRUE(pipe.ok());
  FailNth(Point::Console, 1);
  EXPECT_FALSE(platform::ConsoleWrite("done.\r\n"));
  std::string sink;
  platform::faults::CaptureConsole(&sink);
  EXPECT_TRUE(platform::ConsoleWrite(kFinished));
  platform::faults::CaptureConsole(nullptr);
  EXPECT_EQ(sink, kFinished);
  EXPECT_EQ(pipe.Take(), "");  // neither reached standard output

  pipe.CloseReadEnd();  // the reader went away
  EXPECT_FALSE(platform::ConsoleWrite("done.\r\n"));

  HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, nullptr);  // no standard output at all
  EXPECT_FALSE(platform::ConsoleWrite("done.\r\n"));
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
}

TEST(Win32Console, ConsoleWindowShowsTheTextInItsOwnCharacters) {
  FaultScope faults;
  HANDLE screen =
      ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (screen == INVALID_HANDLE_VALUE) {
    GTEST_SKIP() << "this process has no console";
  }
  const UINT codePage = ::GetConsoleOutputCP();
  HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, screen);
  const bool written = platform::ConsoleWrite(kConverter + "\r\n" + kFinished);
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
  EXPECT_TRUE(written);

  wchar_t line0[6] = {};
  wchar_t line1[3] = {};
  DWORD got = 0;
  ASSERT_NE(::ReadConsoleOutputCharacterW(screen, line0, 6, COORD{0, 0}, &got), 0);
  EXPECT_EQ(std::wstring(line0, got), L"\u30B3\u30F3\u30D0\u30FC\u30BF\u30FC");  // コンバーター
  ASSERT_NE(::ReadConsoleOutputCharacterW(screen, line1, 3, COORD{0, 1}, &got), 0);
  EXPECT_EQ(std::wstring(line1, got), L"\u7D42\u4E86\u3002");  // 終了。 on the next line
  EXPECT_EQ(::GetConsoleOutputCP(), codePage);                 // the user's code page is left alone
  ::CloseHandle(screen);
}

TEST(Win32Console, InitPutsTheRuntimesStandardOutputInBinaryMode) {
  platform::ConsoleInit();
  const int before = _setmode(_fileno(stdout), _O_BINARY);
  EXPECT_EQ(before, _O_BINARY);
}

// ---------------------------------------------------------------------------
// Message box

TEST(Win32MessageBox, TestProgramsShowNoBoxButCountIt) {
  FaultScope faults;
  ASSERT_TRUE(platform::faults::MessageBoxesSuppressed());  // switched on by the test main
  StdHandleOnPipe errors(STD_ERROR_HANDLE);
  ASSERT_TRUE(errors.ok());
  EXPECT_EQ(platform::MessageBoxA(nullptr, "Step err", nullptr, kOkCancel), IDOK);
  EXPECT_EQ(errors.Take(), "Step err\r\n");
  FailNth(kBoxPoint, 1);
  EXPECT_EQ(platform::MessageBoxA(nullptr, "Step err", nullptr, kOkCancel), 0);
  EXPECT_EQ(Calls(kBoxPoint), 2);
}

}  // namespace
