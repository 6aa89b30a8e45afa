#include "test_support.h"

#include <unistd.h>
#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#ifdef _WIN32
#include "drive_letter_win32.h"
#endif

#ifdef TVRCGCV_COVERAGE
extern "C" void __gcov_dump();  // gcc's runtime of --coverage
#endif

namespace testing_support {

void EndChild(int status) {
#ifdef TVRCGCV_COVERAGE
  __gcov_dump();
#endif
  std::_Exit(status);
}

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

#ifndef _WIN32
namespace {

// While it lives, the process is the user "nobody" in all but its saved
// user ID, which stays root's so that the destructor can come back: file
// permissions are then checked as for that user, access(2) included (it
// goes by the real user ID).
class UnprivilegedScope {
 public:
  UnprivilegedScope(uid_t uid, gid_t gid) {
    groups_.resize(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups_.size()), groups_.data());
    groups_.resize(static_cast<std::size_t>(std::max(count, 0)));
    ok_ = count >= 0 && ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, 0) == 0 &&
          ::setresuid(uid, uid, 0) == 0;
    if (!ok_) {
      ADD_FAILURE() << "cannot become user " << uid << ": "
                    << std::error_code(errno, std::system_category()).message();
    }
  }
  ~UnprivilegedScope() {
    // The user ID first: only root may set the group IDs and groups back.
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0 ||
        ::setgroups(groups_.size(), groups_.data()) != 0) {
      ADD_FAILURE() << "cannot become root again: "
                    << std::error_code(errno, std::system_category()).message();
      std::abort();  // every later test would run as the wrong user
    }
  }
  UnprivilegedScope(const UnprivilegedScope&) = delete;
  UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

  bool ok() const { return ok_; }

 private:
  std::vector<gid_t> groups_;
  bool ok_ = false;
};

}  // namespace
#endif

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
    const UnprivilegedScope unprivileged(uid, gid);
    if (unprivileged.ok()) {
      body();
    }
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
