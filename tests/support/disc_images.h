// Disc images for the tests: ISO 9660 images made with xorriso from a
// directory, and raw dumps made from such an image: bare, with a cue sheet,
// and as preservation-style sets (one file per track, audio tracks too).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// The kinds of image a disc is tested as.
enum class ImageKind {
  Iso9660,       // plain ISO 9660, level 1: upper-case 8.3 names with ";1"
  Joliet,        // ISO 9660 with a Joliet directory tree
  RockRidge,     // ISO 9660 with Rock Ridge names
  BinFile,       // a bare raw Mode 1 dump (2352-byte sectors) of a Rock Ridge image, no sheet
  CueSheet,      // a raw Mode 1 dump of a Joliet image with its one-track cue sheet
  Mode2Sheet,    // a raw Mode 2 form 1 dump of a Rock Ridge image with its cue sheet
  Preservation,  // a Joliet image as a preservation-style set: a sheet named apart from
                 // its files, "(Track 1).bin" the data, two audio tracks with pregaps
  // Whole-disc dumps written by tools/make_dump.py:
  CloneCd,  // a Joliet image, Mode 1, as .ccd, .img and .sub, an audio track after it
  Alcohol,  // a Rock Ridge image, Mode 2 form 1, with subcode, as .mds and .mdf
  LoneMdf,  // the same .mdf alone: a bare raw dump of 2448-byte sectors
  Nero,     // a Joliet image in 2048-byte sectors as .nrg, footer "NER5"
  NeroOld,  // the same, footer "NERO" (older files)
  NeroRaw,  // a Rock Ridge image in raw Mode 1 sectors as .nrg, footer "NER5"
  // CHD files written by chdman createcd (Debian's mame-tools), each checked
  // against chdman extractcd:
  Chd,         // the Preservation set with chdman's default codecs (cdlz, cdzl, cdfl)
  ChdDeflate,  // the Mode2Sheet set, -c cdzl, hunks of 2 frames
  ChdLzma,     // the CueSheet set, -c cdlz, hunks of 10 frames
  ChdStored,   // a Rock Ridge image's raw dump with its sheet, -c none
  ChdFromIso,  // a Joliet image of 2048-byte sectors (MODE1): its hunks of zeros are copies
  // Archives made by Debian's zip and 7z of an image of another kind:
  ZipSheet,       // the Preservation set in a folder, deflated
  ZipIso,         // the Joliet .iso, stored (zip -0)
  SevenZipSheet,  // the CueSheet set
  ZipCloneCd,     // the CloneCd set
};
std::string KindName(ImageKind kind);
inline const std::vector<ImageKind> kAllImageKinds = {
    ImageKind::Iso9660,       ImageKind::Joliet,     ImageKind::RockRidge,    ImageKind::BinFile,
    ImageKind::CueSheet,      ImageKind::Mode2Sheet, ImageKind::Preservation, ImageKind::CloneCd,
    ImageKind::Alcohol,       ImageKind::LoneMdf,    ImageKind::Nero,         ImageKind::NeroOld,
    ImageKind::NeroRaw,       ImageKind::Chd,        ImageKind::ChdDeflate,   ImageKind::ChdLzma,
    ImageKind::ChdStored,     ImageKind::ChdFromIso, ImageKind::ZipSheet,     ImageKind::ZipIso,
    ImageKind::SevenZipSheet, ImageKind::ZipCloneCd};

// True for the kinds that tools/make_dump.py writes (Python is needed),
// alone or in an archive.
bool IsDumpKind(ImageKind kind);
// True for the kinds that chdman writes.
bool IsChdKind(ImageKind kind);
// Why CHD kinds cannot be tested here (no chdman, or a build that does not
// read CHD files); empty when they can.
std::string WhyNoChd();
// The kind an archive kind holds; any other kind itself.
ImageKind InnerKind(ImageKind kind);
bool IsArchiveKind(ImageKind kind);
// True when python3 can be run.
bool HavePython();
// True when the disc library was built to read zip and 7z archives.
bool ReadsArchives();
// Why images of `kind` cannot be made or read here (no python3, no zip or
// 7z, a build without archives); empty when they can.
std::string WhyNoImageOf(ImageKind kind);

// True when xorriso can be run.
bool HaveXorriso();

// Why disc image tests cannot run here (no xorriso to make images, or a
// build without image support); empty when they can.
std::string WhyNoDiscImages();

// Runs a program with arguments (no shell), its output discarded, in the
// folder `in` if one is given; true if it exited with status 0.
bool RunQuietly(const std::vector<std::string>& argv, const std::filesystem::path& in = {});

// Writes an ISO 9660 image of everything below `tree`, with the extensions
// that `kind` reads (none, Joliet or Rock Ridge); false on failure.
bool MakeIsoImage(const std::filesystem::path& tree, const std::filesystem::path& image,
                  ImageKind kind);

// Disc sector `sector` (0 at 00:02:00) holding the 2048 bytes at `data` as a
// drive reads it (2352 bytes): sync pattern, header (address and mode 1, or
// mode 2 and a form 1 subheader), the data, EDC and ECC.
std::vector<std::uint8_t> RawSector(std::int64_t sector, const std::uint8_t* data, int mode);

// Writes the 2048-byte sectors of an ISO image as a raw dump of such
// sectors, the first being sector `firstSector` of the disc.
bool WriteRawTrack(const std::filesystem::path& iso, const std::filesystem::path& bin, int mode,
                   std::int64_t firstSector = 0);
// The same in mode 1, with a one-track cue sheet naming it written beside
// it, with the same stem and the extension ".cue".
bool WriteRawBinCue(const std::filesystem::path& iso, const std::filesystem::path& bin);

// Makes the image of `tree` in `directory` for `kind` and returns the path a
// drive links to (the .iso, the .bin, or the .cue); empty on failure.
std::filesystem::path MakeImage(const std::filesystem::path& tree,
                                const std::filesystem::path& directory, ImageKind kind);

}  // namespace testing_support
