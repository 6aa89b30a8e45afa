// Drive letters for tests on Windows: while a mapping lives, a letter names
// a directory, as `subst` makes it. Source paths ("q:\bg000_0.bg") then reach
// files that a test wrote, through the real file system.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

class DriveLetterMapping {
 public:
  // Maps the letter (either case) to the directory; ok() says whether it
  // worked, error() why not.
  DriveLetterMapping(char letter, const std::filesystem::path& directory);
  // Gives the letter back what it named before.
  ~DriveLetterMapping();
  DriveLetterMapping(const DriveLetterMapping&) = delete;
  DriveLetterMapping& operator=(const DriveLetterMapping&) = delete;

  bool ok() const { return how_ != How::kNone; }
  const std::string& error() const { return error_; }

 private:
  enum class How { kNone, kDosDevice, kWineMountManager };
  bool MapWithDosDevice();
  bool MapWithWineMountManager();
  bool LetterShowsDirectory() const;

  char letter_;  // upper case
  std::filesystem::path directory_;
  How how_ = How::kNone;
  std::string error_;
  // What a Wine drive letter named before (restored on destruction).
  bool hadWineDrive_ = false;
  unsigned long oldType_ = 0;
  std::string oldMountPoint_;
  std::string oldDevice_;
};

}  // namespace testing_support
