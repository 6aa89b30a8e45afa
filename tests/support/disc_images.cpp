#include "disc_images.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "cgvw/disc_image.h"

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
    case ImageKind::CloneCd:
      return "CloneCd";
    case ImageKind::Alcohol:
      return "Alcohol";
    case ImageKind::LoneMdf:
      return "LoneMdf";
    case ImageKind::Nero:
      return "Nero";
    case ImageKind::NeroOld:
      return "NeroOld";
    case ImageKind::NeroRaw:
      return "NeroRaw";
    case ImageKind::Chd:
      return "Chd";
    case ImageKind::ChdDeflate:
      return "ChdDeflate";
    case ImageKind::ChdLzma:
      return "ChdLzma";
    case ImageKind::ChdStored:
      return "ChdStored";
    case ImageKind::ChdFromIso:
      return "ChdFromIso";
    case ImageKind::ZipSheet:
      return "ZipSheet";
    case ImageKind::ZipIso:
      return "ZipIso";
    case ImageKind::SevenZipSheet:
      return "SevenZipSheet";
    case ImageKind::ZipCloneCd:
      return "ZipCloneCd";
  }
  return "Unknown";
}

ImageKind InnerKind(ImageKind kind) {
  switch (kind) {
    case ImageKind::ZipSheet:
      return ImageKind::Preservation;
    case ImageKind::ZipIso:
      return ImageKind::Joliet;
    case ImageKind::SevenZipSheet:
      return ImageKind::CueSheet;
    case ImageKind::ZipCloneCd:
      return ImageKind::CloneCd;
    default:
      return kind;
  }
}

bool IsArchiveKind(ImageKind kind) {
  return InnerKind(kind) != kind;
}

bool IsDumpKind(ImageKind kind) {
  const ImageKind inner = InnerKind(kind);
  return inner >= ImageKind::CloneCd && inner <= ImageKind::NeroRaw;
}

bool ReadsArchives() {
  return TVRCGCV_WITH_ARCHIVES != 0;
}

std::string WhyNoImageOf(ImageKind kind) {
  if (IsDumpKind(kind) && !HavePython()) {
    return "python3 is not installed (tools/make_dump.py writes this kind)";
  }
  if (IsArchiveKind(kind)) {
    if (!ReadsArchives()) {
      return "this build does not read archives (TVRCGCV_ARCHIVES)";
    }
    static const bool zip = RunQuietly({"zip", "-v"});
    static const bool sevenZip = RunQuietly({"7z", "i"});
    if (!(kind == ImageKind::SevenZipSheet ? sevenZip : zip)) {
      return "zip or 7z (p7zip-full) is not installed";
    }
  }
  return "";
}

bool IsChdKind(ImageKind kind) {
  return kind >= ImageKind::Chd && kind <= ImageKind::ChdFromIso;
}

std::string WhyNoChd() {
  if (!cgvw::ReadsChdFiles()) {
    return "this build does not read CHD files";
  }
  // chdman ends with status 1 whatever it is asked for help with: look for it.
  static const bool have = [] {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path == nullptr ? "" : path;
    while (!dirs.empty()) {
      const std::size_t colon = std::min(dirs.find(':'), dirs.size());
      if (colon > 0 &&
          ::access((std::string(dirs.substr(0, colon)) + "/chdman").c_str(), X_OK) == 0) {
        return true;
      }
      dirs.remove_prefix(std::min(colon + 1, dirs.size()));
    }
    return false;
  }();
  return have ? "" : "chdman is not installed (mame-tools)";
}

bool HavePython() {
  static const bool have = RunQuietly({"python3", "--version"});
  return have;
}

bool RunQuietly(const std::vector<std::string>& argv, const std::filesystem::path& in) {
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
  if (!in.empty() && posix_spawn_file_actions_addchdir_np(&actions, in.c_str()) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
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
  return HaveXorriso() ? "" : "xorriso is not installed";
}

bool MakeIsoImage(const std::filesystem::path& tree, const std::filesystem::path& image,
                  ImageKind kind) {
  std::vector<std::string> argv = {"xorriso", "-as", "mkisofs"};
  if (kind == ImageKind::RockRidge || kind == ImageKind::BinFile || kind == ImageKind::Mode2Sheet ||
      kind == ImageKind::Alcohol || kind == ImageKind::LoneMdf || kind == ImageKind::NeroRaw ||
      kind == ImageKind::ChdDeflate || kind == ImageKind::ChdStored) {
    argv.push_back("-R");
  } else {
    argv.push_back("--norock");  // xorriso adds Rock Ridge unless told not to
    if (kind != ImageKind::Iso9660) {
      argv.push_back("-J");
    }
  }
  argv.insert(argv.end(), {"-V", "TVRCGCV_TEST", "-o", image.string(), tree.string()});
  return RunQuietly(argv);
}

namespace {

// CD-ROM sectors as a drive reads them, written here independently of the
// library's reader (ECMA-130): the EDC bit by bit, the ECC by solving each
// code word's two parity equations with GF(2^8) logarithms.
std::uint32_t EdcBitwise(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xD8018001u : crc >> 1;
    }
  }
  return crc;
}

struct Galois {
  std::uint8_t exp[512];
  int log[256];
  Galois() {
    unsigned value = 1;
    for (int i = 0; i < 255; ++i) {
      exp[i] = exp[i + 255] = static_cast<std::uint8_t>(value);
      log[value] = i;
      value = (value << 1) ^ ((value & 0x80) != 0 ? 0x11D : 0);
    }
    log[0] = -1;
  }
  std::uint8_t Power(int n) const { return exp[n % 255]; }
  std::uint8_t Times(std::uint8_t a, std::uint8_t b) const {
    return a == 0 || b == 0 ? 0 : exp[log[a] + log[b]];
  }
  std::uint8_t Over(std::uint8_t a, std::uint8_t b) const {
    return a == 0 ? 0 : exp[(log[a] - log[b] + 255) % 255];
  }
};

// Code words of `length` symbols (the last two parity) whose symbol i is
// word `word(c, i)` of the sector's 1170 two-byte words from byte 12: sum
// V_i = 0 and sum alpha^(length-1-i) V_i = 0 in each byte plane.
template <typename Word>
void Parity(std::uint8_t* sector, int codes, int length, Word word) {
  static const Galois gf;
  for (int c = 0; c < codes; ++c) {
    for (int plane = 0; plane < 2; ++plane) {
      std::uint8_t sum = 0;
      std::uint8_t weighted = 0;
      for (int i = 0; i < length - 2; ++i) {
        const std::uint8_t v = sector[12 + 2 * word(c, i) + plane];
        sum ^= v;
        weighted ^= gf.Times(gf.Power(length - 1 - i), v);
      }
      // alpha p0 + p1 = weighted, p0 + p1 = sum.
      const std::uint8_t p0 = gf.Over(weighted ^ sum, gf.Power(1) ^ 1);
      sector[12 + 2 * word(c, length - 2) + plane] = p0;
      sector[12 + 2 * word(c, length - 1) + plane] = p0 ^ sum;
    }
  }
}

}  // namespace

std::vector<std::uint8_t> RawSector(std::int64_t sector, const std::uint8_t* data, int mode) {
  std::vector<std::uint8_t> raw(2352, 0);
  std::fill(raw.begin() + 1, raw.begin() + 11, 0xFF);
  const auto bcd = [](std::int64_t value) {
    return static_cast<std::uint8_t>(((value / 10) << 4) | value % 10);
  };
  const std::int64_t address = sector + 150;  // 2 seconds of lead-in
  const std::uint8_t header[4] = {bcd(address / (75 * 60)), bcd(address / 75 % 60),
                                  bcd(address % 75), static_cast<std::uint8_t>(mode)};
  const std::size_t start = mode == 1 ? 0 : 16;  // what the EDC covers
  const std::size_t user = mode == 1 ? 16 : 24;
  if (mode == 1) {
    std::copy(header, header + 4, raw.begin() + 12);
  } else {  // file 0, channel 0, submode: data, form 1; twice
    const std::uint8_t subheader[8] = {0, 0, 8, 0, 0, 0, 8, 0};
    std::copy(subheader, subheader + 8, raw.begin() + 16);
  }
  std::copy(data, data + 2048, raw.begin() + static_cast<std::ptrdiff_t>(user));
  const std::uint32_t edc = EdcBitwise(&raw[start], user + 2048 - start);
  for (int i = 0; i < 4; ++i) {
    raw[user + 2048 + i] = static_cast<std::uint8_t>(edc >> (8 * i));
  }
  // Mode 2's ECC is that of the sector with a header of zeros.
  Parity(raw.data(), 43, 26,
         [](int c, int i) { return i < 24 ? 43 * i + c : 1032 + 43 * (i - 24) + c; });
  Parity(raw.data(), 26, 45,
         [](int c, int i) { return i < 43 ? (44 * i + 43 * c) % 1118 : 1118 + 26 * (i - 43) + c; });
  std::copy(header, header + 4, raw.begin() + 12);
  return raw;
}

bool WriteRawTrack(const std::filesystem::path& iso, const std::filesystem::path& bin, int mode,
                   std::int64_t firstSector) {
  constexpr std::size_t kSector = 2048;
  std::ifstream in(iso, std::ios::binary);
  const std::vector<char> data{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  if (data.empty() || data.size() % kSector != 0) {
    return false;
  }
  std::ofstream out(bin, std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0; i < data.size() / kSector; ++i) {
    const std::vector<std::uint8_t> raw =
        RawSector(firstSector + static_cast<std::int64_t>(i),
                  reinterpret_cast<const std::uint8_t*>(data.data()) + i * kSector, mode);
    out.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
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

// The dump of `kind` by tools/make_dump.py, from the .iso or its raw dump
// `bin`; `stem` without extension.
std::filesystem::path WriteDump(const std::filesystem::path& iso, const std::filesystem::path& bin,
                                const std::filesystem::path& stem, ImageKind kind) {
  const std::string tool = std::string(TVRCGCV_SOURCE_DIR) + "/tools/make_dump.py";
  const int mode = kind == ImageKind::Alcohol || kind == ImageKind::LoneMdf ? 2 : 1;
  const bool raw = kind == ImageKind::CloneCd || kind == ImageKind::Alcohol ||
                   kind == ImageKind::LoneMdf || kind == ImageKind::NeroRaw;
  if (raw && !WriteRawTrack(iso, bin, mode)) {
    return {};
  }
  std::vector<std::string> argv = {"python3", tool};
  std::filesystem::path made;
  switch (kind) {
    case ImageKind::CloneCd:
      argv.insert(argv.end(), {"clonecd", bin.string(), stem.string() + ".ccd", "--audio", "300"});
      made = stem.string() + ".ccd";
      break;
    case ImageKind::Alcohol:
    case ImageKind::LoneMdf:
      argv.insert(argv.end(), {"alcohol", bin.string(), stem.string() + ".mds", "--subcode"});
      made = stem.string() + (kind == ImageKind::Alcohol ? ".mds" : ".mdf");
      break;
    default:
      argv.insert(argv.end(), {kind == ImageKind::NeroOld ? "nero-old" : "nero",
                               (raw ? bin : iso).string(), stem.string() + ".nrg"});
      if (raw) {
        argv.emplace_back("--raw");
      }
      made = stem.string() + ".nrg";
      break;
  }
  const bool written = RunQuietly(argv);
  std::filesystem::remove(bin);
  if (kind == ImageKind::LoneMdf) {
    std::filesystem::remove(stem.string() + ".mds");
  }
  return written ? made : std::filesystem::path();
}

// The bytes of a file; empty if it cannot be read.
std::vector<char> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The CHD of the set whose sheet is `cue`, by chdman createcd with `codecs`
// ("" for its own) and hunks of `frames` frames (0: its own). chdman
// extractcd must give the data track's bytes (`bin`) back first.
std::filesystem::path WriteChd(const std::filesystem::path& cue, const std::filesystem::path& bin,
                               const std::filesystem::path& stem, const std::string& codecs,
                               int frames) {
  const std::string chd = stem.string() + ".chd";
  std::vector<std::string> argv = {"chdman", "createcd", "-f", "-i", cue.string(), "-o", chd};
  if (!codecs.empty()) {
    argv.insert(argv.end(), {"-c", codecs});
  }
  if (frames > 0) {
    argv.insert(argv.end(), {"-hs", std::to_string(frames * 2448)});
  }
  const std::string back = stem.string() + "-extracted";
  if (!RunQuietly(argv) || !RunQuietly({"chdman", "extractcd", "-f", "-i", chd, "-o", back + ".cue",
                                        "-ob", back + ".bin"})) {
    return {};
  }
  const std::vector<char> data = FileBytes(bin);
  const std::vector<char> extracted = FileBytes(back + ".bin");
  std::filesystem::remove(back + ".cue");
  std::filesystem::remove(back + ".bin");
  const bool same = !data.empty() && extracted.size() >= data.size() &&
                    std::equal(data.begin(), data.end(), extracted.begin());
  return same ? std::filesystem::path(chd) : std::filesystem::path();
}

// The image of the inner kind made in a folder, and Debian's zip or 7z run
// there: a ZipSheet's set is in a folder of its own inside the archive, a
// SevenZipSheet's in one named in Japanese (a 7z keeps names as UTF-16).
std::filesystem::path MakeArchive(const std::filesystem::path& tree,
                                  const std::filesystem::path& directory, ImageKind kind) {
  const std::filesystem::path files = directory / (KindName(kind) + "-files");
  std::filesystem::path inside = files;
  if (kind == ImageKind::ZipSheet) {
    inside = files / "Test Disc (Japan)";
  } else if (kind == ImageKind::SevenZipSheet) {
    inside = files / std::filesystem::path(u8"\u30c6\u30b9\u30c8\u76e4 (Japan)");
  }
  std::filesystem::create_directories(inside);
  if (MakeImage(tree, inside, InnerKind(kind)).empty()) {
    return {};
  }
  const bool sevenZip = kind == ImageKind::SevenZipSheet;
  const std::filesystem::path archive = directory / (KindName(kind) + (sevenZip ? ".7z" : ".zip"));
  std::vector<std::string> argv = {"zip", "-q", "-r"};
  if (sevenZip) {
    argv = {"7z", "a", "-bd"};
  } else if (kind == ImageKind::ZipIso) {
    argv.emplace_back("-0");
  }
  argv.insert(argv.end(), {archive.string(), "."});
  const bool made = RunQuietly(argv, files);
  std::filesystem::remove_all(files);
  return made ? archive : std::filesystem::path();
}

std::filesystem::path MakeImage(const std::filesystem::path& tree,
                                const std::filesystem::path& directory, ImageKind kind) {
  if (IsArchiveKind(kind)) {
    return MakeArchive(tree, directory, kind);
  }
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
    case ImageKind::CloneCd:
    case ImageKind::Alcohol:
    case ImageKind::LoneMdf:
    case ImageKind::Nero:
    case ImageKind::NeroOld:
    case ImageKind::NeroRaw:
      made = WriteDump(iso, bin, directory / stem, kind);
      break;
    case ImageKind::ChdFromIso:
      made = WriteChd(iso, iso, directory / stem, "", 0);
      break;
    case ImageKind::Chd:
    case ImageKind::ChdDeflate:
    case ImageKind::ChdLzma:
    case ImageKind::ChdStored: {
      // The set is written in a folder of its own, which keeps the CHD alone.
      const std::filesystem::path set = directory / (stem + "-set");
      std::filesystem::create_directories(set);
      const std::filesystem::path setBin = set / (stem + ".bin");
      std::filesystem::path cue = set / (stem + ".cue");
      bool written = false;
      if (kind == ImageKind::Chd) {
        cue = WritePreservationSet(iso, set);
        written = !cue.empty();
      } else if (kind == ImageKind::ChdDeflate) {
        written =
            WriteRawTrack(iso, setBin, 2) &&
            WriteText(cue, "FILE \"" + setBin.filename().string() +
                               "\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n");
      } else {
        written = WriteRawBinCue(iso, setBin);
      }
      const std::filesystem::path dataBin =
          kind == ImageKind::Chd ? set / "Test Disc (Japan) (Track 1).bin" : setBin;
      static const char* const kCodecs[] = {"", "cdzl", "cdlz", "none"};
      static const int kFrames[] = {0, 2, 10, 0};
      const auto which = static_cast<std::size_t>(kind) - static_cast<std::size_t>(ImageKind::Chd);
      made = written ? WriteChd(cue, dataBin, directory / stem, kCodecs[which], kFrames[which])
                     : std::filesystem::path();
      std::filesystem::remove_all(set);
      break;
    }
    default:
      break;
  }
  std::filesystem::remove(iso);
  return made;
}

}  // namespace testing_support
