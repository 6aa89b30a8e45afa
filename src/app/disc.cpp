#include "disc.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cgvw/cgvw.h"
#include "cgvw/disc_image.h"
#include "exit_status.h"
#include "platform/folder_files.h"

namespace app {
namespace {

// The files the chosen pictures read, each with its ranges, in the order
// they are first read.
struct FileRanges {
  std::string_view name;
  std::vector<cgvw::SourceRange> ranges;
};

std::vector<FileRanges> FilesOf(const TCGVwImage& image, std::vector<FileRanges> files = {}) {
  for (const cgvw::SourceRange& range : cgvw::RangesOf(image)) {
    auto same = std::find_if(files.begin(), files.end(),
                             [&](const FileRanges& file) { return file.name == range.file; });
    if (same == files.end()) {
      same = files.insert(files.end(), {range.file, {}});
    }
    same->ranges.push_back(range);
  }
  return files;
}

std::string KindOf(const TCGVwImage& image) {
  static constexpr const char* kKinds[] = {"plain", "tiled", "?", "composite"};
  static constexpr const char* kDepths[] = {"16 colours", "128 colours", "256 colours",
                                            "15-bit colour"};
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  const std::uint32_t depth = (image.Flags & cgvw_flags::kDepthMask) >> 5;
  return std::string(kind < 4 ? kKinds[kind] : "?") + ", " + (depth < 4 ? kDepths[depth] : "?");
}

// Opens a disc image, or says why not; a folder is not an image.
int OpenImage(const std::string& path, Disc* disc, bool* folder) {
  cgvw::ImageProblem problem;
  auto image = cgvw::DiscImageSource::Open(path, &problem);
  if (image) {
    disc->image = image->get();
    disc->source = std::move(*image);
    return kExitOk;
  }
  *folder = problem.error == std::errc::is_a_directory;
  if (!*folder) {
    Console::Complain(!problem.text.empty()
                          ? problem.text
                          : Shown(path) + ": " + cgvw::StatusText(image.status()));
  }
  return kExitDiscUnreadable;
}

// A drive letter: its folder, or (on POSIX) the disc image it is, opened
// as --image opens one.
int OpenDrive(char letter, Disc* disc) {
  SourceRoot[0] = letter;
  disc->name = std::string{letter, ':'};
  disc->separator = '\\';
  const std::string folder = platform::DriveFolder(letter);
  switch (platform::KindOfPath(folder)) {
    case platform::PathKind::kMissing:
      Console::Complain("drive " + disc->name + " (" + Shown(folder) + "): no disc there");
      return kExitDiscUnreadable;
    case platform::PathKind::kRegularFile: {
      bool isFolder = false;
      return OpenImage(folder, disc, &isFolder);
    }
    default:
      disc->source = std::make_unique<cgvw::DriveSource>();
      return kExitOk;
  }
}

}  // namespace

std::string Disc::FileName(std::string_view file) const {
  return Shown(std::string(name).append(1, separator).append(file));
}

std::string Disc::ReadFailure(std::string_view file, const cgvw::ReadResult& read) const {
  if (image != nullptr && read.status == cgvw::Status::ReadFailed) {
    if (std::string damage = image->Damage(file); !damage.empty()) {
      return damage;
    }
  }
  return read.error ? read.error.message() : cgvw::StatusText(read.status);
}

std::string Disc::RangeProblem(std::string_view file, std::span<const cgvw::SourceRange> ranges,
                               std::uint64_t* got) const {
  std::vector<std::uint8_t> buffer;
  std::uint64_t needs = 0;  // the byte all its ranges reach
  std::uint64_t ends = 0;   // where a short read found the file's end (0: none did)
  bool endKnown = false;    // a short read got some bytes, so the end is exact
  for (const cgvw::SourceRange& range : ranges) {
    buffer.resize(range.size);
    const cgvw::ReadResult read = source->Read(file, range.offset, buffer);
    if (read.status != cgvw::Status::Ok) {
      return (read.status == cgvw::Status::CannotOpen ? "missing: " : "unreadable: ") +
             ReadFailure(file, read);
    }
    needs = std::max<std::uint64_t>(needs, std::uint64_t{range.offset} + range.size);
    if (read.got < range.size) {
      // A read that got some bytes found the end itself; one that got none
      // only shows that the file ends at or before its offset.
      const std::uint64_t end = std::uint64_t{range.offset} + read.got;
      if (read.got > 0) {
        ends = end;
        endKnown = true;
      } else if (!endKnown && (ends == 0 || end < ends)) {
        ends = end;
      }
    }
    if (got != nullptr) {
      *got += read.got;
    }
  }
  if (ends == 0) {
    return "";
  }
  return "short: its ranges reach byte " + std::to_string(needs) + ", the file ends " +
         (endKnown ? "at byte " : "at or before byte ") + std::to_string(ends);
}

int OpenDisc(const Options& options, Disc* disc) {
  if (options.drive) {
    return OpenDrive(*options.drive, disc);
  }
  if (!options.image) {
    Console::Complain("no disc: give a drive letter or --image PATH (see --help)");
    return kExitUsage;
  }
  disc->name = *options.image;
  bool folder = false;
  const int status = OpenImage(disc->name, disc, &folder);
  if (folder) {
    disc->separator = kPathSeparator;
    disc->source = std::make_unique<cgvw::FolderSource>(disc->name);
    return kExitOk;
  }
  return status;
}

int ListPictures(const Options& options, const Console& console) {
  for (std::size_t row = 0; row < kPictureRows; ++row) {
    if (!options.only.test(row)) {
      continue;
    }
    const TCGVwImage& image = Catalogue[row].Image;
    char head[96];
    std::snprintf(head, sizeof head, "%3d  tvrcg%03d.%s  %ux%u  %s", static_cast<int>(row),
                  static_cast<int>(row), options.format == OutputFormat::kPng ? "png" : "bmp",
                  image.Width, image.Height, KindOf(image).c_str());
    std::string line = head;
    for (const FileRanges& file : FilesOf(image)) {
      line.append("  ").append(file.name).append(": ");
      for (const cgvw::SourceRange& range : file.ranges) {
        line.append(&range == file.ranges.data() ? "" : ", ").append(range.role);
        line.append(" ").append(std::to_string(range.offset));
        line.append("+").append(std::to_string(range.size));
      }
    }
    if (!console.Always(line)) {
      return Console::Failed();
    }
  }
  return kExitOk;
}

int CheckDisc(const Options& options, const Disc& disc, const Console& console) {
  std::vector<FileRanges> files;
  for (std::size_t row = 0; row < kPictureRows; ++row) {
    if (options.only.test(row)) {
      files = FilesOf(Catalogue[row].Image, std::move(files));
    }
  }
  std::size_t bad = 0;
  std::uint64_t bytes = 0;
  for (const FileRanges& file : files) {
    const std::string problem = disc.RangeProblem(file.name, file.ranges, &bytes);
    if (!problem.empty()) {
      ++bad;
      Console::Complain(disc.FileName(file.name) + ": " + problem);
    }
    const std::string line =
        (problem.empty() ? "ok          " : "incomplete  ") + disc.FileName(file.name) + "  " +
        (problem.empty()
             ? std::to_string(file.ranges.size()) + (file.ranges.size() == 1 ? " range" : " ranges")
             : problem);
    if (!console.Line(line)) {
      return Console::Failed();
    }
  }
  const std::string verdict = bad == 0 ? "The disc is complete: " + std::to_string(files.size()) +
                                             " files, " + std::to_string(bytes) + " bytes read."
                                       : "The disc is incomplete: " + std::to_string(bad) + " of " +
                                             std::to_string(files.size()) +
                                             " files are missing, short or unreadable.";
  if (!console.Always(verdict)) {
    return Console::Failed();
  }
  return bad == 0 ? kExitOk : kExitDiscUnreadable;
}

std::string IncompleteText(const Disc& disc, const TCGVwImage& image) {
  for (const FileRanges& file : FilesOf(image)) {
    if (std::string problem = disc.RangeProblem(file.name, file.ranges); !problem.empty()) {
      return disc.FileName(file.name) + ": " + problem;
    }
  }
  return "a source file ended early";
}

}  // namespace app
