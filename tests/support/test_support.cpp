#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "catalog/descriptors.h"
#ifdef _WIN32
#include "drive_letter_win32.h"
#endif

namespace testing_support {

TempDir::TempDir() {
  std::random_device random;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("tvrcgcv-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) {
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TestDrive::TestDrive(char letter) : letter_(letter) {
  const char* old = std::getenv("TVRCGCV_DRIVE_ROOT");
  hadRoot_ = old != nullptr;
  savedRoot_ = hadRoot_ ? old : "";
  AddDrive(letter);
#ifndef _WIN32
  ::setenv("TVRCGCV_DRIVE_ROOT", root_.path().c_str(), 1);
#endif
  savedSourceRoot_ = SourceRoot[0];
  SourceRoot[0] = letter;
}

TestDrive::~TestDrive() {
  SourceRoot[0] = savedSourceRoot_;
#ifndef _WIN32
  if (hadRoot_) {
    ::setenv("TVRCGCV_DRIVE_ROOT", savedRoot_.c_str(), 1);
  } else {
    ::unsetenv("TVRCGCV_DRIVE_ROOT");
  }
#endif
}

namespace {

std::filesystem::path DriveDirectory(const std::filesystem::path& root, char letter) {
  const char lower =
      (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
  return root / std::string(1, lower);
}

}  // namespace

std::filesystem::path TestDrive::drive() const {
  return DriveDirectory(root_.path(), letter_);
}

std::filesystem::path TestDrive::AddDrive(char letter) {
  const std::filesystem::path directory = DriveDirectory(root_.path(), letter);
  std::filesystem::create_directory(directory);
#ifdef _WIN32
  auto mapping = std::make_unique<DriveLetterMapping>(letter, directory);
  if (!mapping->ok()) {
    ADD_FAILURE() << "drive " << letter << ": cannot be mapped: " << mapping->error();
  }
  mappings_.push_back(std::move(mapping));
#endif
  return directory;
}

void TestDrive::WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream out(drive() / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

CurrentDirScope::CurrentDirScope(const std::filesystem::path& directory)
    : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(directory);
}

CurrentDirScope::~CurrentDirScope() {
  std::error_code ignored;
  std::filesystem::current_path(saved_, ignored);
}

std::vector<std::string> ListDirectory(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool NothingHeld() {
  const auto live = platform::faults::LiveCounts();
  return live.globalBlocks == 0 && live.globalLocks == 0 && live.heapBuffers == 0 &&
         live.openFiles == 0;
}

std::string DescribeHeld() {
  const auto live = platform::faults::LiveCounts();
  std::ostringstream text;
  text << "blocks " << live.globalBlocks << ", locks " << live.globalLocks << ", heap buffers "
       << live.heapBuffers << ", open files " << live.openFiles;
  return text.str();
}

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace testing_support
