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
    case ImageKind::Mode2Sheet:
      return "Mode2Sheet";
    case ImageKind::Preservation:
      return "Preservation";
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
  if (kind == ImageKind::RockRidge || kind == ImageKind::BinFile || kind == ImageKind::Mode2Sheet) {
    argv.push_back("-R");
  } else {
    argv.push_back("--norock");  // xorriso adds Rock Ridge unless told not to
    if (kind == ImageKind::Joliet || kind == ImageKind::CueSheet ||
        kind == ImageKind::Preservation) {
      argv.push_back("-J");
    }
  }
  argv.insert(argv.end(), {"-V", "TVRCGCV_TEST", "-o", image.string(), tree.string()});
  return RunQuietly(argv);
}

bool WriteRawTrack(const std::filesystem::path& iso, const std::filesystem::path& bin, int mode) {
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
    std::vector<char> header(12, '\xFF');
    header.front() = header.back() = 0;
    header.insert(header.end(), {bcd(address / (75 * 60)), bcd(address / 75 % 60),
                                 bcd(address % 75), static_cast<char>(mode)});
    if (mode == 2) {  // file 0, channel 0, submode: data, form 1; twice
      header.insert(header.end(), {0, 0, 8, 0, 0, 0, 8, 0});
    }
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(data.data() + i * kSector, kSector);
    const std::vector<char> trailer(2352 - kSector - header.size());  // EDC, ECC
    out.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
  }
  return static_cast<bool>(out);
}

namespace {

bool WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

bool WriteNoise(const std::filesystem::path& path, std::size_t sectors, std::uint32_t seed) {
  std::vector<char> bytes(sectors * 2352);
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 24);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A set as preservation projects keep a disc: the sheet named after the
// disc, one file per track, CR LF line ends, remarks, audio pregaps.
std::filesystem::path WritePreservationSet(const std::filesystem::path& iso,
                                           const std::filesystem::path& directory) {
  const std::string disc = "Test Disc (Japan)";
  const auto track = [&](int n) { return disc + " (Track " + std::to_string(n) + ").bin"; };
  const std::string sheet =
      "REM GENRE Adventure\r\nREM DATE 1998\r\nREM COMMENT \"test set\"\r\n"
      "FILE \"" +
      track(1) +
      "\" BINARY\r\n"
      "  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n"
      "FILE \"" +
      track(2) +
      "\" BINARY\r\n"
      "  TRACK 02 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:02:00\r\n"
      "FILE \"" +
      track(3) +
      "\" BINARY\r\n"
      "  TRACK 03 AUDIO\r\n    FLAGS DCP\r\n"
      "    INDEX 00 00:00:00\r\n    INDEX 01 00:01:50\r\n";
  const std::filesystem::path cue = directory / (disc + ".cue");
  const bool written = WriteRawTrack(iso, directory / track(1), 1) &&
                       WriteNoise(directory / track(2), 400, 2) &&
                       WriteNoise(directory / track(3), 300, 3) && WriteText(cue, sheet);
  return written ? cue : std::filesystem::path();
}

}  // namespace

bool WriteRawBinCue(const std::filesystem::path& iso, const std::filesystem::path& bin) {
  std::filesystem::path cue = bin;
  cue.replace_extension(".cue");
  return WriteRawTrack(iso, bin, 1) &&
         WriteText(cue, "FILE \"" + bin.filename().string() +
                            "\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n");
}

std::filesystem::path MakeImage(const std::filesystem::path& tree,
                                const std::filesystem::path& directory, ImageKind kind) {
  const std::string stem = KindName(kind);
  const auto iso = directory / (stem + ".iso");
  if (!MakeIsoImage(tree, iso, kind)) {
    return {};
  }
  const auto bin = directory / (stem + ".bin");
  std::filesystem::path made;
  switch (kind) {
    case ImageKind::Iso9660:
    case ImageKind::Joliet:
    case ImageKind::RockRidge:
      return iso;
    case ImageKind::BinFile:
      made = WriteRawTrack(iso, bin, 1) ? bin : std::filesystem::path();
      break;
    case ImageKind::CueSheet:
      made = WriteRawBinCue(iso, bin) ? directory / (stem + ".cue") : std::filesystem::path();
      break;
    case ImageKind::Mode2Sheet:
      made = WriteRawTrack(iso, bin, 2) &&
                     WriteText(directory / (stem + ".cue"),
                               "file " + bin.filename().string() +
                                   " binary\n track 1 mode2/2352\n  index 1 0:00:00\n")
                 ? directory / (stem + ".cue")
                 : std::filesystem::path();
      break;
    case ImageKind::Preservation:
      made = WritePreservationSet(iso, directory);
      break;
  }
  std::filesystem::remove(iso);
  return made;
}

}  // namespace testing_support
