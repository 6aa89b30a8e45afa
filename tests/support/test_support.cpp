#include "test_support.h"

#include <unistd.h>
#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <system_error>

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

namespace {

// The failed parts of the running test from the `first` on.
int FailuresSince(int first) {
  const ::testing::TestResult* result =
      ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int failures = 0;
  for (int i = first; i < result->total_part_count(); ++i) {
    failures += result->GetTestPartResult(i).failed() ? 1 : 0;
  }
  return failures;
}

}  // namespace

void AsUnprivilegedUser(const std::filesystem::path& dir, const std::function<void()>& body) {
#ifndef _WIN32
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
    const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
    ASSERT_EQ(::lchown(dir.c_str(), uid, gid), 0) << dir;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
    }
    const int partsBefore =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << std::error_code(errno, std::system_category()).message();
    if (child == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        ADD_FAILURE() << "cannot become user " << uid << ": "
                      << std::error_code(errno, std::system_category()).message();
      } else {
        body();
      }
      std::fflush(stdout);
      ::_exit(FailuresSince(partsBefore) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the part run as user " << uid << " failed (wait status " << status << ")";
    return;
  }
#else
  (void)dir;
#endif
  body();
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
