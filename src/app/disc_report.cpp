// --list and --check: what each picture reads from the disc, and whether
// the disc holds it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/layout.h"
#include "option_run.h"

namespace app {
namespace {

// One byte range that a picture reads.
struct Range {
  const char* role;  // "palette", "map", "tiles", "pixels"
  const char* file;
  std::uint32_t offset;
  std::uint32_t size;
};

// The ranges a picture of the catalogue reads, in the order it reads them.
std::vector<Range> RangesOf(const TCGVwImage& image) {
  std::vector<Range> ranges;
  const cgvw::DepthInfo* depth = cgvw::DepthOf(image.Flags);
  if (depth != nullptr && depth->paletteColours != 0 && image.PalFile != nullptr) {
    ranges.push_back({"palette", image.PalFile, image.PalOffset, depth->paletteColours * 2});
  }
  const bool tiled = (image.Flags & cgvw_flags::kKindMask) == cgvw_flags::kKindTiled;
  const auto* map = tiled ? static_cast<const TCGVwChunk*>(image.Extra) : nullptr;
  if (map != nullptr && map->FileName != nullptr) {
    ranges.push_back({"map", map->FileName, map->Offset, map->Size});
  }
  if (image.PixFile != nullptr) {
    ranges.push_back({tiled ? "tiles" : "pixels", image.PixFile, image.PixOffset, image.PixSize});
  }
  return ranges;
}

std::string KindOf(const TCGVwImage& image) {
  static constexpr const char* kKinds[] = {"plain", "tiled", "?", "composite"};
  static constexpr const char* kDepths[] = {"16 colours", "128 colours", "256 colours",
                                            "15-bit colour"};
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  const cgvw::DepthInfo* depth = cgvw::DepthOf(image.Flags);
  return std::string(kind < 4 ? kKinds[kind] : "?") + ", " +
         (depth != nullptr ? kDepths[depth - cgvw::kDepths] : "?");
}

// The files the chosen pictures read, each with its ranges, in the order
// they are first read.
struct FileRanges {
  const char* name;
  std::vector<Range> ranges;
};

std::vector<FileRanges> FilesOf(const Options& options) {
  std::vector<FileRanges> files;
  for (std::size_t row = 0; row < kPictureRows; ++row) {
    if (!options.only.test(row)) {
      continue;
    }
    for (const Range& range : RangesOf(Catalogue[row].Image)) {
      auto same = std::find_if(files.begin(), files.end(), [&](const FileRanges& file) {
        return std::string_view(file.name) == range.file;
      });
      if (same == files.end()) {
        same = files.insert(files.end(), {range.file, {}});
      }
      same->ranges.push_back(range);
    }
  }
  return files;
}

}  // namespace

int ListPictures(const Options& options) {
  for (std::size_t row = 0; row < kPictureRows; ++row) {
    if (!options.only.test(row)) {
      continue;
    }
    const TCGVwImage& image = Catalogue[row].Image;
    char head[96];
    std::snprintf(head, sizeof head, "%3d  %s  %ux%u  %s", static_cast<int>(row),
                  OutputName(row, options.format).c_str(), image.Width, image.Height,
                  KindOf(image).c_str());
    std::string line = head;
    const char* file = nullptr;
    for (const Range& range : RangesOf(image)) {
      line += file != nullptr && std::string_view(file) == range.file ? ", " : "  ";
      if (file == nullptr || std::string_view(file) != range.file) {
        line += std::string(range.file) + ": ";
        file = range.file;
      }
      line += std::string(range.role) + " " + std::to_string(range.offset) + "+" +
              std::to_string(range.size);
    }
    if (!OutputLine(line)) {
      return kExitNoOutput;
    }
  }
  return kExitDone;
}

int CheckDisc(const Options& options, const Disc& disc) {
  const std::vector<FileRanges> files = FilesOf(options);
  std::vector<std::uint8_t> buffer;
  std::size_t bad = 0;
  std::uint64_t bytes = 0;
  for (const FileRanges& file : files) {
    std::string problem;      // empty: the file holds every range
    std::uint64_t needs = 0;  // the byte all its ranges reach
    std::uint64_t ends = 0;   // where a short read found the file's end (0: none did)
    bool endKnown = false;    // a short read got some bytes, so the end is exact
    for (const Range& range : file.ranges) {
      buffer.resize(range.size);
      const cgvw::ReadResult read = disc.source->Read(range.file, range.offset, buffer);
      if (read.status != cgvw::Status::Ok) {
        problem = read.status == cgvw::Status::CannotOpen ? "missing" : "unreadable";
        problem += ": " + disc.ReadFailure(range.file, read);
        break;
      }
      needs = std::max<std::uint64_t>(needs, std::uint64_t{range.offset} + range.size);
      if (read.got < range.size) {
        // A read that got some bytes found the end itself; one that got
        // none only shows that the file ends at or before its offset.
        const std::uint64_t end = std::uint64_t{range.offset} + read.got;
        if (read.got > 0) {
          ends = end;
          endKnown = true;
        } else if (!endKnown && (ends == 0 || end < ends)) {
          ends = end;
        }
      }
      bytes += read.got;
    }
    if (problem.empty() && ends != 0) {
      problem = "short: its ranges reach byte " + std::to_string(needs) + ", the file ends " +
                (endKnown ? "at byte " : "at or before byte ") + std::to_string(ends);
    }
    std::string line = problem.empty() ? "ok          " : "incomplete  ";
    line += disc.FileName(file.name) + "  " +
            (problem.empty() ? std::to_string(file.ranges.size()) + " ranges" : problem);
    if (!problem.empty()) {
      ++bad;
      Complain(disc.FileName(file.name) + ": " + problem);
    }
    if (!options.quiet && !OutputLine(line)) {
      return kExitNoOutput;
    }
  }
  const std::string verdict = bad == 0 ? "The disc is complete: " + std::to_string(files.size()) +
                                             " files, " + std::to_string(bytes) + " bytes read."
                                       : "The disc is incomplete: " + std::to_string(bad) + " of " +
                                             std::to_string(files.size()) +
                                             " files are missing, short or unreadable.";
  if (!OutputLine(verdict)) {
    return kExitNoOutput;
  }
  return bad == 0 ? kExitDone : kExitDiscUnreadable;
}

}  // namespace app
