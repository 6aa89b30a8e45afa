#include "disc_images.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>

extern char** environ;

namespace testing_support {

std::string KindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::Iso9660:
      return "Iso9660";
    case ImageKind::Joliet:
      return "Joliet";
    case ImageKind::RockRidge:
      return "RockRidge";
    case ImageKind::BinFile:
      return "BinFile";
    case ImageKind::CueSheet:
      return "CueSheet";
  }
  return "Unknown";
}

bool RunQuietly(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HaveXorriso() {
  static const bool have = RunQuietly({"xorriso", "-version"});
  return have;
}

std::string WhyNoDiscImages() {
  if (!TVRCGCV_DISC_IMAGES) {
    return "built without disc image support";
  }
  return HaveXorriso() ? "" : "xorriso is not installed";
}

bool MakeIsoImage(const std::filesystem::path& tree, const std::filesystem::path& image,
                  ImageKind kind) {
  std::vector<std::string> argv = {"xorriso", "-as", "mkisofs"};
  if (kind == ImageKind::RockRidge || kind == ImageKind::BinFile) {
    argv.push_back("-R");
  } else {
    argv.push_back("--norock");  // xorriso adds Rock Ridge unless told not to
    if (kind == ImageKind::Joliet || kind == ImageKind::CueSheet) {
      argv.push_back("-J");
    }
  }
  argv.insert(argv.end(), {"-V", "TVRCGCV_TEST", "-o", image.string(), tree.string()});
  return RunQuietly(argv);
}

bool WriteRawBinCue(const std::filesystem::path& iso, const std::filesystem::path& bin) {
  constexpr std::size_t kSector = 2048;
  std::ifstream in(iso, std::ios::binary);
  const std::vector<char> data{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  if (data.empty() || data.size() % kSector != 0) {
    return false;
  }
  std::ofstream out(bin, std::ios::binary | std::ios::trunc);
  const auto bcd = [](unsigned value) {
    return static_cast<char>(((value / 10) << 4) | value % 10);
  };
  for (std::size_t i = 0; i < data.size() / kSector; ++i) {
    const unsigned address = static_cast<unsigned>(i) + 150;  // 2 seconds of lead-in
    const char header[16] = {0,
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             '\xFF',
                             0,
                             bcd(address / (75 * 60)),
                             bcd(address / 75 % 60),
                             bcd(address % 75),
                             1};
    out.write(header, sizeof header);
    out.write(data.data() + i * kSector, kSector);
    const char trailer[288] = {};  // EDC, 8 reserved bytes, ECC
    out.write(trailer, sizeof trailer);
  }
  std::filesystem::path cue = bin;
  cue.replace_extension(".cue");
  std::ofstream sheet(cue, std::ios::trunc);
  sheet << "FILE \"" << bin.filename().string() << "\" BINARY\r\n"
        << "  TRACK 01 MODE1/2352\r\n"
        << "    INDEX 01 00:00:00\r\n";
  return static_cast<bool>(out) && static_cast<bool>(sheet);
}

std::filesystem::path MakeImage(const std::filesystem::path& tree,
                                const std::filesystem::path& directory, ImageKind kind) {
  const std::string stem = KindName(kind);
  const auto iso = directory / (stem + ".iso");
  if (!MakeIsoImage(tree, iso, kind)) {
    return {};
  }
  if (kind != ImageKind::BinFile && kind != ImageKind::CueSheet) {
    return iso;
  }
  const auto bin = directory / (stem + ".bin");
  if (!WriteRawBinCue(iso, bin)) {
    return {};
  }
  std::filesystem::remove(iso);
  return kind == ImageKind::BinFile ? bin : directory / (stem + ".cue");
}

}  // namespace testing_support
