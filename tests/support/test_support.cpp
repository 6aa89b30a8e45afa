#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "catalog/descriptors.h"

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
  ::setenv("TVRCGCV_DRIVE_ROOT", root_.path().c_str(), 1);
  std::filesystem::create_directory(drive());
  savedSourceRoot_ = SourceRoot[0];
  SourceRoot[0] = letter;
}

TestDrive::~TestDrive() {
  SourceRoot[0] = savedSourceRoot_;
  if (hadRoot_) {
    ::setenv("TVRCGCV_DRIVE_ROOT", savedRoot_.c_str(), 1);
  } else {
    ::unsetenv("TVRCGCV_DRIVE_ROOT");
  }
}

std::filesystem::path TestDrive::drive() const {
  const char lower =
      (letter_ >= 'A' && letter_ <= 'Z') ? static_cast<char>(letter_ - 'A' + 'a') : letter_;
  return root_.path() / std::string(1, lower);
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
