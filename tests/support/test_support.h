// Shared helpers of the tests: temporary directories, a source drive in one,
// and a guard around the platform's fault seam.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/faults.h"

namespace testing_support {

class DriveLetterMapping;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A drive root (what TVRCGCV_DRIVE_ROOT names) with one drive directory in
// it. While the object lives, TVRCGCV_DRIVE_ROOT points at the root and the
// first character of SourceRoot is the drive letter. On Windows, where
// drive letters are real, the letter itself names the drive directory.
class TestDrive {
 public:
  explicit TestDrive(char letter = 'q');
  ~TestDrive();
  TestDrive(const TestDrive&) = delete;
  TestDrive& operator=(const TestDrive&) = delete;

  const std::filesystem::path& root() const { return root_.path(); }
  std::filesystem::path drive() const;  // root/<letter>
  // Makes another drive beside the first, root/<letter> (lower-cased), and
  // returns its directory; on Windows the letter then names it.
  std::filesystem::path AddDrive(char letter);
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  char letter() const { return letter_; }

 private:
  TempDir root_;
  char letter_;
  std::string savedRoot_;
  bool hadRoot_;
  char savedSourceRoot_;
#ifdef _WIN32
  std::vector<std::unique_ptr<DriveLetterMapping>> mappings_;
#endif
};

// Resets the fault seam on construction and again on destruction, so an
// armed fault never leaks into the next test.
class FaultScope {
 public:
  FaultScope() { platform::faults::Reset(); }
  ~FaultScope() { platform::faults::Reset(); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
};

// Makes `directory` the current directory while the object lives; the old
// one is restored afterwards. Output files of the program land there.
class CurrentDirScope {
 public:
  explicit CurrentDirScope(const std::filesystem::path& directory);
  ~CurrentDirScope();
  CurrentDirScope(const CurrentDirScope&) = delete;
  CurrentDirScope& operator=(const CurrentDirScope&) = delete;

 private:
  std::filesystem::path saved_;
};

// Runs `body` as a user without root's privileges, so that permission
// checks bite: as it is when the process has none; when it runs as root (as
// CI runs the tests), as the user "nobody" for the time of `body`, with
// `dir` and everything in it given to that user as its own files.
void AsUnprivilegedUser(const std::filesystem::path& dir, const std::function<void()>& body);

// The names of the entries of a directory, sorted.
std::vector<std::string> ListDirectory(const std::filesystem::path& directory);

// True when no global block, lock, heap buffer or file is held.
bool NothingHeld();
// The live counts as text, for failure messages.
std::string DescribeHeld();

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);

// Ends a forked child at once (_exit) with the status; in a coverage build
// it first writes the child's counts, which _exit would lose.
[[noreturn]] void EndChild(int status);

}  // namespace testing_support
