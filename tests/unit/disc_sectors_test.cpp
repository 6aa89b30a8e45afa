// The sector layer and the ISO 9660 reader of the disc library: raw
// sectors written by the tests' own writer (EDC and ECC computed apart from
// the library) pass every check at their own address, past the first
// minute too, and each kind of damage is named; a track read at any byte
// offset of its file ends where it should, and the cache reads each sector
// once; the file system's bounds hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "cgvw/disc_image.h"
#include "disc.h"
#include "disc_images.h"
#include "loaded_library.h"
#include "platform/faults.h"
#include "raw_sectors.h"
#include "test_support.h"
#include "tracks.h"
#if TVRCGCV_WITH_ARCHIVES
#include "archive_stream.h"
#include "archives.h"
#endif

namespace {

namespace fs = std::filesystem;
using cgvw::disc::CheckSector;
using cgvw::disc::SectorFault;

std::vector<std::uint8_t> UserData(std::int64_t sector) {
  std::vector<std::uint8_t> data(2048);
  std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(sector * 7));
  return data;
}

fs::path Touch(const fs::path& path) {
  std::ofstream(path, std::ios::binary);
  return path;
}

std::vector<std::uint8_t> Raw(std::int64_t sector, int mode) {
  return testing_support::RawSector(sector, UserData(sector).data(), mode);
}

const cgvw::disc::SectorFormat& FormatOf(int mode) {
  return mode == 1 ? cgvw::disc::kMode1Raw : cgvw::disc::kMode2Raw;
}

// Sectors at the start of the disc, about its first minute (01:00:00 is
// sector 4350) and far on: the writer's EDC and ECC are the library's, and
// the address fits only its own sector.
TEST(RawSectors, WrittenSectorsPassAtTheirOwnAddress) {
  for (const int mode : {1, 2}) {
    for (const std::int64_t sector : {0, 16, 4349, 4350, 4500, 20000, 449849}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << ", sector " << sector);
      std::vector<std::uint8_t> raw = Raw(sector, mode);
      EXPECT_EQ(CheckSector(FormatOf(mode), raw, sector).fault, SectorFault::kNone);
      const cgvw::disc::SectorCheck next = CheckSector(FormatOf(mode), raw, sector + 1);
      EXPECT_EQ(next.fault, SectorFault::kWrongAddress);
      EXPECT_EQ(next.address, sector);
      EXPECT_TRUE(cgvw::disc::EccMatches(std::span<const std::uint8_t, 2352>(raw.data(), 2352)));
      std::vector<std::uint8_t> rewritten = raw;
      std::fill(rewritten.begin() + 2076, rewritten.end(), 0);
      cgvw::disc::WriteEcc(std::span<std::uint8_t, 2352>(rewritten.data(), 2352));
      EXPECT_EQ(rewritten, raw);
      std::uint8_t address[3];
      cgvw::disc::PutHeaderAddress(sector, address);
      EXPECT_TRUE(std::equal(address, address + 3, raw.begin() + 12));
    }
  }
  // A Mode 2 sector without its sync pattern and header.
  const std::vector<std::uint8_t> raw = Raw(5000, 2);
  const std::vector<std::uint8_t> headerless(raw.begin() + 16, raw.end());
  EXPECT_EQ(CheckSector(cgvw::disc::kMode2Headerless, headerless, 0).fault, SectorFault::kNone);
}

// Each kind of damage, and what a message says of it. A damaged ECC with a
// good EDC leaves the user data good: the sector is read.
TEST(RawSectors, DamageIsNamed) {
  const struct {
    const char* what;
    int mode;
    std::size_t at;
    std::uint8_t value;
    SectorFault fault;
    const char* text;
  } kDamages[] = {
      {"sync", 1, 5, 0x7F, SectorFault::kNoSync, "has no sync pattern"},
      {"mode", 1, 15, 2, SectorFault::kWrongMode, "has a header of another mode"},
      {"address", 1, 13, 0x01, SectorFault::kWrongAddress,
       "has the address of sector 4425 in its header"},
      {"no BCD", 1, 14, 0xFA, SectorFault::kWrongAddress, "has no valid address in its header"},
      {"no BCD, low digit", 1, 13, 0x0A, SectorFault::kWrongAddress,
       "has no valid address in its header"},
      {"data, mode 1", 1, 1000, 0x00, SectorFault::kBadEdc, "fails its EDC check"},
      {"EDC", 1, 2065, 0x00, SectorFault::kBadEdc, "fails its EDC check"},
      {"data, mode 2", 2, 2000, 0x00, SectorFault::kBadEdc, "fails its EDC check"},
      {"subheader", 2, 16, 0x01, SectorFault::kBadEdc, "fails its EDC check"},
      {"form 2", 2, 18, 0x28, SectorFault::kForm2,
       "is a form 2 sector, which holds no file system data"},
      {"ECC only", 1, 2300, 0x00, SectorFault::kNone, "is good"},
  };
  constexpr std::int64_t kSector = 4500;  // 01:02:00
  for (const auto& damage : kDamages) {
    SCOPED_TRACE(damage.what);
    std::vector<std::uint8_t> raw = Raw(kSector, damage.mode);
    raw[damage.at] = raw[damage.at] == damage.value ? damage.value ^ 0x55 : damage.value;
    const cgvw::disc::SectorCheck check = CheckSector(FormatOf(damage.mode), raw, kSector);
    EXPECT_EQ(check.fault, damage.fault);
    EXPECT_NE(cgvw::disc::SectorFaultText(check).find(damage.text), std::string::npos)
        << cgvw::disc::SectorFaultText(check);
    EXPECT_FALSE(cgvw::disc::EccMatches(std::span<const std::uint8_t, 2352>(raw.data(), 2352)) &&
                 damage.at >= 16);
  }
}

// Bytes that count how often and how much they are read.
class CountedBytes final : public cgvw::disc::ByteSource {
 public:
  explicit CountedBytes(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes), "t.bin") {}
  std::uint64_t size() const override { return bytes_.size(); }
  cgvw::disc::ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override {
    ++*reads;
    return bytes_.ReadAt(offset, dest);
  }
  const std::string& name() const override { return bytes_.name(); }
  std::shared_ptr<int> reads = std::make_shared<int>(0);

 private:
  cgvw::disc::MemoryBytes bytes_;
};

// A raw track of `count` sectors from disc sector `first`, at byte
// `offset` of its file, followed by `tail` bytes of something else.
struct TrackFile {
  std::unique_ptr<cgvw::disc::TrackReader> reader;
  std::shared_ptr<int> reads;
};
TrackFile MakeTrack(std::int64_t first, std::size_t count, std::size_t offset, std::size_t tail,
                    std::uint64_t endByte = 0) {
  std::vector<std::uint8_t> bytes(offset, 0xEE);
  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<std::uint8_t> raw = Raw(first + static_cast<std::int64_t>(i), 1);
    bytes.insert(bytes.end(), raw.begin(), raw.end());
  }
  bytes.resize(bytes.size() + tail, 0xEE);
  const std::uint64_t size = bytes.size();
  auto file = std::make_unique<CountedBytes>(std::move(bytes));
  TrackFile track{nullptr, file->reads};
  track.reader = std::make_unique<cgvw::disc::TrackReader>(std::make_unique<cgvw::disc::ImageTrack>(
      std::move(file),
      cgvw::disc::ImageTrack::Layout{cgvw::disc::kMode1Raw, offset, endByte != 0 ? endByte : size,
                                     static_cast<std::uint64_t>(first)}));
  return track;
}

std::string ReadFailure(cgvw::disc::TrackReader& reader, std::uint64_t sector, std::size_t count) {
  std::vector<std::uint8_t> out(count * 2048);
  cgvw::disc::ReadFault fault;
  return reader.ReadSectors(sector, count, out.data(), &fault) ? "" : fault.why;
}

// A track that begins 1000 bytes into its file, at sector 4400 of the disc:
// every sector reads, and the edges are named.
TEST(Tracks, EdgesOfATrackAndItsFile) {
  TrackFile track = MakeTrack(4400, 70, 1000, 2000);
  std::vector<std::uint8_t> out(70 * 2048);
  cgvw::disc::ReadFault fault;
  ASSERT_TRUE(track.reader->ReadSectors(4400, 70, out.data(), &fault)) << fault.why;
  for (std::size_t i = 0; i < 70; ++i) {
    ASSERT_EQ(std::vector<std::uint8_t>(out.begin() + i * 2048, out.begin() + (i + 1) * 2048),
              UserData(4400 + static_cast<std::int64_t>(i)));
  }
  EXPECT_EQ(ReadFailure(*track.reader, 4469, 1), "");
  EXPECT_EQ(ReadFailure(*track.reader, 4469, 2), "\"t.bin\" ends before sector 4470");
  EXPECT_EQ(ReadFailure(*track.reader, 4399, 1),
            "\"t.bin\": sector 4399 lies before the data track, which begins at sector 4400");
  // The track ends where the next begins, before the end of the file.
  TrackFile shorter = MakeTrack(0, 40, 0, 0, 30 * 2352);
  EXPECT_EQ(ReadFailure(*shorter.reader, 29, 1), "");
  EXPECT_EQ(ReadFailure(*shorter.reader, 29, 2), "\"t.bin\": the data track ends before sector 30");
  // The same in one read from inside the track, nothing of it kept yet.
  TrackFile across = MakeTrack(0, 40, 0, 0, 30 * 2352);
  EXPECT_EQ(ReadFailure(*across.reader, 28, 3), "\"t.bin\": the data track ends before sector 30");
  // A file cut inside a sector: the sectors before it read.
  TrackFile cut = MakeTrack(0, 20, 0, 0, 0);
  EXPECT_EQ(cut.reader->track().count(), 20u);
  TrackFile partial = MakeTrack(0, 20, 0, 0, 19 * 2352 + 100);
  EXPECT_EQ(partial.reader->track().count(), 19u);
}

// Bytes end where they end, in memory and in a file.
TEST(Tracks, BytesEndWhereTheyEnd) {
  testing_support::TempDir work;
  const std::vector<std::uint8_t> content = {1, 2, 3, 4, 5};
  std::ofstream(work.path() / "five", std::ios::binary).write("\x01\x02\x03\x04\x05", 5);
  std::error_code error;
  std::vector<std::unique_ptr<cgvw::disc::ByteSource>> sources;
  sources.push_back(std::make_unique<cgvw::disc::MemoryBytes>(content, "five"));
  sources.push_back(cgvw::disc::FileBytes::Open((work.path() / "five").string(), "five", &error));
  for (const auto& bytes : sources) {
    ASSERT_TRUE(bytes);
    for (const auto& [offset, got] : {std::pair<std::uint64_t, std::size_t>{0, 3},
                                      {3, 2},
                                      {4, 1},
                                      {5, 0},
                                      {6, 0},
                                      {~std::uint64_t{0}, 0}}) {
      std::uint8_t out[3] = {0, 0, 0};
      const cgvw::disc::ByteRead read = bytes->ReadAt(offset, out);
      EXPECT_EQ(read.got, got) << offset;
      EXPECT_FALSE(read.error);
      EXPECT_TRUE(
          std::equal(out, out + read.got, content.begin() + std::min<std::uint64_t>(offset, 5)));
    }
  }
  // A file that grows after it was opened reads as it was.
  std::ofstream(work.path() / "five", std::ios::binary | std::ios::app).write("\x06\x07", 2);
  std::uint8_t out[3] = {0, 0, 0};
  EXPECT_EQ(sources[1]->ReadAt(3, out).got, 2u);
  EXPECT_EQ(sources[1]->ReadAt(5, out).got, 0u);
}

// The cache: a sector read again is not read from the file again, a run of
// sectors not held is one read, and byte ranges across sectors are whole.
TEST(Tracks, EachSectorIsReadOnceWhileItIsKept) {
  TrackFile track = MakeTrack(0, 260, 0, 0);
  cgvw::disc::TrackReader& reader = *track.reader;
  std::vector<std::uint8_t> out(130 * 2048);
  ASSERT_TRUE(reader.ReadSectors(0, 64, out.data(), nullptr));
  EXPECT_EQ(*track.reads, 1);
  ASSERT_TRUE(reader.ReadSectors(10, 54, out.data(), nullptr));
  EXPECT_EQ(*track.reads, 1);
  ASSERT_TRUE(reader.ReadSectors(63, 2, out.data(), nullptr));  // 63 kept, 64 not
  EXPECT_EQ(*track.reads, 2);
  ASSERT_TRUE(reader.ReadSectors(100, 130, out.data(), nullptr));  // three parts
  EXPECT_EQ(*track.reads, 5);
  // A kept sector inside a run splits it: the sectors around it are read.
  TrackFile fresh = MakeTrack(0, 20, 0, 0);
  ASSERT_TRUE(fresh.reader->ReadSectors(5, 1, out.data(), nullptr));
  ASSERT_TRUE(fresh.reader->ReadSectors(0, 10, out.data(), nullptr));
  EXPECT_EQ(*fresh.reads, 3);
  for (std::size_t i = 0; i < 10; ++i) {
    ASSERT_EQ(std::vector<std::uint8_t>(out.begin() + i * 2048, out.begin() + (i + 1) * 2048),
              UserData(static_cast<std::int64_t>(i)));
  }
  for (const auto& [offset, size] : {std::pair<std::uint64_t, std::size_t>{0, 1},
                                     {2047, 2},
                                     {2048, 2048},
                                     {100, 64 * 2048},
                                     {4095, 65 * 2048 + 3}}) {
    SCOPED_TRACE(::testing::Message() << offset << "+" << size);
    std::vector<std::uint8_t> bytes(size);
    std::size_t got = 0;
    ASSERT_TRUE(reader.ReadBytes(3, offset, bytes, &got, nullptr));
    ASSERT_EQ(got, size);
    for (std::size_t i = 0; i < size; i += 997) {
      const std::uint64_t at = offset + i;
      ASSERT_EQ(bytes[i], UserData(3 + static_cast<std::int64_t>(at / 2048))[at % 2048]);
    }
  }
  // The last bytes of the track read without asking for a sector beyond it.
  std::vector<std::uint8_t> last(2 * 2048);
  std::size_t got = 0;
  EXPECT_TRUE(reader.ReadBytes(258, 0, last, &got, nullptr));
  EXPECT_TRUE(reader.ReadBytes(259, 2047, std::span(last).first(1), &got, nullptr));
  EXPECT_FALSE(reader.ReadBytes(259, 2047, std::span(last).first(2), &got, nullptr));
}

// --- The ISO 9660 reader, over images that xorriso makes -----------------

class Iso9660 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::HaveXorriso()) {
      GTEST_SKIP() << "xorriso is not installed";
    }
  }
  static void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  // The bytes of the file `name` of the image, or the reason it cannot be read.
  static std::string ReadFrom(const fs::path& image, const std::string& name) {
    cgvw::disc::OpenProblem problem;
    const auto disc = cgvw::disc::DiscImage::Open(image.string(), &problem);
    if (!disc) {
      return "cannot open: " + problem.text;
    }
    const auto entry = disc->Find({name});
    if (!entry) {
      return "no " + name;
    }
    std::vector<std::uint8_t> bytes(entry->size);
    std::size_t got = 0;
    cgvw::disc::ReadFault fault;
    if (!disc->Read(*entry, 0, bytes, &got, &fault)) {
      return "unreadable: " + fault.why;
    }
    return std::string(bytes.begin(), bytes.end());
  }
  testing_support::TempDir work_;
};

// A file recorded in two extents (its first record flagged, the second of
// the same name) reads as one: both parts, in the order of the records.
TEST_F(Iso9660, AFileOfSeveralExtentsReadsWhole) {
  const std::string first(4096, 'a');
  const std::string second(3000, 'b');
  Write(work_.path() / "tree" / "A.DAT", {first.begin(), first.end()});
  Write(work_.path() / "tree" / "B.DAT", {second.begin(), second.end()});
  const fs::path iso = work_.path() / "two.iso";
  ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso,
                                            testing_support::ImageKind::Iso9660));
  std::vector<std::uint8_t> bytes = testing_support::ReadWholeFile(iso);
  const std::vector<std::uint8_t> original = bytes;
  const auto record = [&](const char* name) {
    const auto at = std::search(bytes.begin(), bytes.end(), name, name + 7);
    return static_cast<std::size_t>(at - bytes.begin()) - 33;
  };
  const std::size_t a = record("A.DAT;1");
  const std::size_t b = record("B.DAT;1");
  ASSERT_EQ(b, a + bytes[a]);  // the next record
  bytes[a + 25] |= 0x80;       // the file goes on in the next record
  bytes[b + 33] = 'A';
  Write(iso, bytes);
  EXPECT_EQ(ReadFrom(iso, "A.DAT"), first + second);
  EXPECT_EQ(ReadFrom(iso, "B.DAT"), "no B.DAT");
  {  // a read that begins in the second extent
    cgvw::disc::OpenProblem problem;
    const auto disc = cgvw::disc::DiscImage::Open(iso.string(), &problem);
    ASSERT_TRUE(disc) << problem.text;
    const auto entry = disc->Find({"A.DAT"});
    ASSERT_TRUE(entry);
    std::vector<std::uint8_t> part(200);
    std::size_t got = 0;
    ASSERT_TRUE(disc->Read(*entry, first.size() + 10, part, &got, nullptr));
    EXPECT_EQ(got, part.size());
    EXPECT_EQ(std::string(part.begin(), part.end()), std::string(200, 'b'));
  }
  // A record that places its file beyond the end of the volume: found, and
  // its read says why it fails.
  bytes = original;
  for (int i = 0; i < 4; ++i) {
    bytes[a + 2 + i] = static_cast<std::uint8_t>(0x00FFFFF0u >> (8 * i));
  }
  Write(iso, bytes);
  EXPECT_NE(ReadFrom(iso, "A.DAT")
                .find("unreadable: its directory record places its data beyond "
                      "the end of the volume"),
            std::string::npos)
      << ReadFrom(iso, "A.DAT");
  Write(iso, original);
  // An associated file (a record flagged so) is no file of the folder.
  bytes = testing_support::ReadWholeFile(iso);
  bytes[a + 25] = bytes[b + 25] = 0x04;
  Write(iso, bytes);
  EXPECT_EQ(ReadFrom(iso, "A.DAT"), "no A.DAT");
}

// Rock Ridge names too long for their record go on in a continuation area
// (CE); Joliet names are UTF-16.
TEST_F(Iso9660, LongAndNonAsciiNames) {
  const std::string longName = std::string(200, 'n') + ".data";
  const std::string japanese = "\xE7\x94\xBB\xE5\x83\x8F.bin";  // 画像.bin
  const std::string accented = "caf\xC3\xA9.bin";               // café.bin
  const std::string beyond = "\xF0\x9F\x8E\xB4.bin";            // 🎴.bin, a UTF-16 pair
  Write(work_.path() / "tree" / longName, {'l'});
  Write(work_.path() / "tree" / japanese, {'j'});
  Write(work_.path() / "tree" / accented, {'a'});
  Write(work_.path() / "tree" / beyond, {'b'});
  for (const auto kind :
       {testing_support::ImageKind::RockRidge, testing_support::ImageKind::Joliet}) {
    SCOPED_TRACE(testing_support::KindName(kind));
    const fs::path iso = work_.path() / (testing_support::KindName(kind) + ".iso");
    ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso, kind));
    EXPECT_EQ(ReadFrom(iso, japanese), "j");
    EXPECT_EQ(ReadFrom(iso, accented), "a");
    if (kind == testing_support::ImageKind::RockRidge) {  // Joliet keeps 64 characters
      EXPECT_EQ(ReadFrom(iso, longName), "l");
      EXPECT_EQ(ReadFrom(iso, beyond), "b");  // xorriso's Joliet has no UTF-16 pairs
    }
  }
}

// A data track that follows an audio track (and a 2-second pregap) holds a
// file system whose sectors are numbered as on the disc; its raw headers
// say so, past the first minute.
TEST_F(Iso9660, ADataTrackAfterAudio) {
  Write(work_.path() / "tree" / "LATE.TXT", {'l', 'a', 't', 'e'});
  constexpr std::int64_t kAudio = 4600;  // sectors: past 01:00:00
  const fs::path iso = work_.path() / "late.iso";
  ASSERT_TRUE(testing_support::RunQuietly({"xorriso", "-as", "mkisofs", "-C",
                                           "0," + std::to_string(kAudio + 150), "-o", iso.string(),
                                           (work_.path() / "tree").string()}));
  ASSERT_TRUE(testing_support::WriteRawTrack(iso, work_.path() / "data.bin", 1, kAudio + 150));
  fs::resize_file(Touch(work_.path() / "audio.bin"), kAudio * 2352);  // silence, never read
  const std::string sheet =
      "FILE audio.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\nFILE data.bin BINARY\n"
      " TRACK 02 MODE1/2352\n  PREGAP 00:02:00\n  INDEX 01 00:00:00\n";
  Write(work_.path() / "late.cue", {sheet.begin(), sheet.end()});
  EXPECT_EQ(ReadFrom(work_.path() / "late.cue", "LATE.TXT"), "late");
  EXPECT_EQ(ReadFrom(work_.path() / "data.bin", "LATE.TXT"), "late");  // a bare dump of it
  // Without the pregap the sheet puts the track 150 sectors earlier.
  const std::string early = sheet.substr(0, sheet.find("  PREGAP")) + "  INDEX 01 00:00:00\n";
  Write(work_.path() / "early.cue", {early.begin(), early.end()});
  EXPECT_NE(ReadFrom(work_.path() / "early.cue", "LATE.TXT")
                .find("\"data.bin\": sector 4616 has the address of sector 4766 in its header"),
            std::string::npos);
}

// A sheet larger than any sheet is refused before it is read.
TEST_F(Iso9660, ASheetTooLargeIsRefused) {
  std::string sheet = "FILE d.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n";
  while (sheet.size() <= (1u << 20)) {
    sheet += "REM " + std::string(60, 'x') + "\n";
  }
  Write(work_.path() / "large.cue", {sheet.begin(), sheet.end()});
  const std::string read = ReadFrom(work_.path() / "large.cue", "F.DAT");
  EXPECT_NE(read.find("large.cue: larger than 1 MiB, too large for a cue sheet"), std::string::npos)
      << read;
}

// Which of several files are discs: each sheet, and each image no sheet
// names; a sheet's tracks, other files and folders are none.
TEST_F(Iso9660, DiscsAmongSeveralFiles) {
  Write(work_.path() / "tree" / "F.DAT", {'f'});
  const fs::path iso = work_.path() / "a.iso";
  ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso,
                                            testing_support::ImageKind::Iso9660));
  fs::copy_file(iso, work_.path() / "b");
  ASSERT_TRUE(testing_support::WriteRawBinCue(iso, work_.path() / "set.bin"));
  const std::vector<std::string> given = {
      (work_.path() / "a.iso").string(),          (work_.path() / "set.bin").string(),
      (work_.path() / "tree" / "F.DAT").string(), (work_.path() / "set.cue").string(),
      (work_.path() / "tree").string(),           (work_.path() / "b").string()};
  EXPECT_EQ(cgvw::FindDiscImages(given), (std::vector<std::string>{given[0], given[3], given[5]}));
  EXPECT_EQ(cgvw::FindDiscImages({given[1], given[3]}), (std::vector<std::string>{given[3]}));
  EXPECT_EQ(cgvw::FindDiscImages({given[1]}), (std::vector<std::string>{given[1]}));
  EXPECT_TRUE(cgvw::FindDiscImages({given[2], given[4]}).empty());
  EXPECT_EQ(cgvw::SeveralDiscsText({"a.iso", "b"}),
            "several discs were given (\"a.iso\", \"b\"): give one at a time");
}

// Directories beyond the bounds are refused before anything is allocated
// for them, with a message that says why.
TEST_F(Iso9660, BoundsOfDirectories) {
  Write(work_.path() / "tree" / "F.DAT", {'f'});
  const fs::path iso = work_.path() / "bounds.iso";
  ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso,
                                            testing_support::ImageKind::RockRidge));
  const std::vector<std::uint8_t> good = testing_support::ReadWholeFile(iso);
  constexpr std::size_t kRoot = 16 * 2048 + 156;
  const struct {
    std::size_t at;
    std::uint32_t value;
    const char* why;
  } kDamages[] = {
      {kRoot + 10, 0xFFFFF800u, "claims 4294965248 bytes: a directory of more than 4 MiB"},
      {kRoot + 10, (4u << 20) + 1, "claims 4194305 bytes"},
      {kRoot + 2, 0x00FFFFF0u, "lies beyond the end of the volume"},
      {16 * 2048 + 128, 512, "logical blocks of 512 bytes"},
      {16 * 2048 + 128, 1, "logical blocks of 1 byte, not 2048"},
      {kRoot + 10, 0, "is recorded in 1 extent"},
      {16 * 2048, 0x30444302u, "no primary volume descriptor"},  // type 2, "CD0"
  };
  for (const auto& damage : kDamages) {
    SCOPED_TRACE(damage.why);
    std::vector<std::uint8_t> bytes = good;
    for (int i = 0; i < 4; ++i) {
      bytes[damage.at + i] = static_cast<std::uint8_t>(damage.value >> (8 * i));
    }
    Write(iso, bytes);
    const std::string read = ReadFrom(iso, "F.DAT");
    EXPECT_NE(read.find(damage.why), std::string::npos) << read;
  }
}

// --- Zip and 7z archives, made by Debian's zip and 7z ---------------------

#if TVRCGCV_WITH_ARCHIVES
class Archives : public Iso9660 {
 protected:
  void SetUp() override {
    Iso9660::SetUp();
    if (const std::string why =
            testing_support::WhyNoImageOf(testing_support::ImageKind::SevenZipSheet) +
            testing_support::WhyNoImageOf(testing_support::ImageKind::ZipIso);
        !IsSkipped() && !why.empty()) {
      GTEST_SKIP() << why;
    }
  }
  // Runs zip or 7z in the work folder.
  bool Pack(const std::vector<std::string>& argv) {
    return testing_support::RunQuietly(argv, work_.path());
  }
  // A pattern that no two blocks of the archive reader share.
  static std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 7;
    for (auto& byte : bytes) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
  }
};

// A cue/bin set in a zip reads as from the files: in order without going
// back in the member, and a read behind what is kept begins it again.
TEST_F(Archives, AMemberIsReadInOrderAndBeginsAgainOnlyToGoBack) {
  const std::vector<std::uint8_t> big = Pattern(20 << 20);
  Write(work_.path() / "tree" / "BIG.DAT", big);
  Write(work_.path() / "tree" / "A.TXT", {'s'});  // before the big file
  const fs::path iso = work_.path() / "disc.iso";
  ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso,
                                            testing_support::ImageKind::Joliet));
  ASSERT_TRUE(testing_support::WriteRawBinCue(iso, work_.path() / "disc.bin"));
  ASSERT_TRUE(Pack({"zip", "-q", "set.zip", "disc.cue", "disc.bin"}));
  cgvw::disc::OpenProblem problem;
  const auto disc = cgvw::disc::DiscImage::Open((work_.path() / "set.zip").string(), &problem);
  ASSERT_TRUE(disc) << problem.text;
  EXPECT_EQ(disc->Sources(), (std::vector<std::string>(2, (work_.path() / "set.zip").string())));
  const auto entry = disc->Find({"BIG.DAT"});
  ASSERT_TRUE(entry);
  const auto read = [&](std::size_t offset, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::size_t got = 0;
    cgvw::disc::ReadFault fault;
    EXPECT_TRUE(disc->Read(*entry, offset, bytes, &got, &fault)) << fault.why;
    return bytes ==
           std::vector<std::uint8_t>(big.begin() + static_cast<std::ptrdiff_t>(offset),
                                     big.begin() + static_cast<std::ptrdiff_t>(offset + size));
  };
  const std::uint64_t before = cgvw::disc::ArchiveRestarts();
  EXPECT_TRUE(read(0, big.size()));
  EXPECT_TRUE(read(big.size() - 100000, 100000));  // read last: kept
  EXPECT_TRUE(read(0, 4096));                      // in the member's first MiB: kept
  EXPECT_EQ(cgvw::disc::ArchiveRestarts(), before);
  EXPECT_TRUE(read(3 << 20, 4096));  // long gone
  EXPECT_EQ(cgvw::disc::ArchiveRestarts(), before + 1);
  EXPECT_TRUE(read(2 << 20, 4096));  // passed over on the way there: kept
  EXPECT_EQ(cgvw::disc::ArchiveRestarts(), before + 1);
  EXPECT_TRUE(read(18 << 20, 4096));  // ahead again
  EXPECT_EQ(cgvw::disc::ArchiveRestarts(), before + 1);
  EXPECT_EQ(ReadFrom(work_.path() / "set.zip", "A.TXT"), "s");

  // Cut short in the track's member: what lies before the cut reads, what
  // lies after names the member; so does a member whose data is damaged.
  std::vector<std::uint8_t> zip = testing_support::ReadWholeFile(work_.path() / "set.zip");
  Write(work_.path() / "cut.zip",
        std::vector<std::uint8_t>(zip.begin(),
                                  zip.begin() + static_cast<std::ptrdiff_t>(zip.size() / 2)));
  EXPECT_EQ(ReadFrom(work_.path() / "cut.zip", "A.TXT"), "s");
  const std::string cut = ReadFrom(work_.path() / "cut.zip", "BIG.DAT");
  EXPECT_TRUE(cut.starts_with("unreadable: \"disc.bin\": sector ")) << cut;
  EXPECT_NE(cut.find(": the archive member is cut short"), std::string::npos) << cut;
  zip[zip.size() / 2] ^= 0xFF;
  Write(work_.path() / "flipped.zip", zip);
  const std::string flipped = ReadFrom(work_.path() / "flipped.zip", "BIG.DAT");
  EXPECT_NE(flipped.find("\"disc.bin\": sector "), std::string::npos) << flipped;
  // Raw sectors fail their EDC check first, where the deflated data still
  // decompresses.
  EXPECT_TRUE(flipped.find("the archive member is damaged") != std::string::npos ||
              flipped.find("fails its EDC check") != std::string::npos)
      << flipped;
}

// Archives that hold no one disc, or cannot be read, say so in one message
// naming the archive and, where one is at fault, the member.
TEST_F(Archives, ArchivesThatHoldNoOneDiscSayWhy) {
  Write(work_.path() / "tree" / "F.DAT", {'f'});
  const fs::path iso = work_.path() / "a.iso";
  ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso,
                                            testing_support::ImageKind::Iso9660));
  fs::copy_file(iso, work_.path() / "b.iso");
  Write(work_.path() / "readme.txt", {'r'});
  ASSERT_TRUE(testing_support::WriteRawBinCue(iso, work_.path() / "set.bin"));
  const std::string missing = "FILE gone.bin BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n";
  Write(work_.path() / "sub" / "bad.cue", {missing.begin(), missing.end()});
  ASSERT_TRUE(Pack({"zip", "-q", "two.zip", "a.iso", "b.iso", "readme.txt"}));
  ASSERT_TRUE(Pack({"zip", "-q", "none.zip", "readme.txt"}));
  std::vector<std::string> many = {"zip", "-q", "many.zip"};
  for (int i = 0; i < 10; ++i) {
    many.push_back("r" + std::to_string(i) + ".txt");
    Write(work_.path() / many.back(), {'r'});
  }
  ASSERT_TRUE(Pack(many));
  ASSERT_TRUE(Pack({"zip", "-q", "-P", "secret", "locked.zip", "a.iso"}));
  ASSERT_TRUE(Pack({"zip", "-q", "-r", "bad.zip", "sub"}));
  ASSERT_TRUE(Pack({"zip", "-q", "nested.zip", "two.zip"}));
  // A sheet that names a folder of the archive; one that names its track
  // by a path through "..".
  const std::string folder = "FILE data BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n";
  Write(work_.path() / "d" / "folder.cue", {folder.begin(), folder.end()});
  fs::create_directories(work_.path() / "d" / "data");
  ASSERT_TRUE(Pack({"zip", "-q", "-r", "folder.zip", "d"}));
  const std::string up = "FILE ../set.bin BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n";
  Write(work_.path() / "up" / "up.cue", {up.begin(), up.end()});
  ASSERT_TRUE(Pack({"zip", "-q", "up.zip", "up/up.cue", "set.bin"}));
  // Two members whose names differ from the sheet's only in case: neither.
  fs::copy_file(work_.path() / "set.bin", work_.path() / "Set.bin");
  const std::string upper = "FILE SET.BIN BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n";
  Write(work_.path() / "upper.cue", {upper.begin(), upper.end()});
  ASSERT_TRUE(Pack({"zip", "-q", "case.zip", "upper.cue", "set.bin", "Set.bin"}));
  // A set and the image it came from; a set alone, in 7z.
  ASSERT_TRUE(Pack({"7z", "a", "-bd", "both.7z", "set.cue", "set.bin", "a.iso"}));
  ASSERT_TRUE(Pack({"7z", "a", "-bd", "set.7z", "set.cue", "set.bin"}));
  const std::vector<std::uint8_t> sevenZip =
      testing_support::ReadWholeFile(work_.path() / "set.7z");
  Write(work_.path() / "cut.7z", std::vector<std::uint8_t>(sevenZip.begin(), sevenZip.end() - 40));
  Write(work_.path() / "half.7z",
        std::vector<std::uint8_t>(sevenZip.begin(), sevenZip.begin() + sevenZip.size() / 2));
  const struct {
    const char* archive;
    std::string complaint;  // after "<archive>: "
  } kArchives[] = {
      {"two.zip", "holds several discs (\"a.iso\", \"b.iso\"): unpack the one to convert"},
      {"both.7z", "holds several discs ("},
      {"none.zip", "holds no disc image: none of its files (\"readme.txt\") is one that is read"},
      {"nested.zip", "holds no disc image: none of its files (\"two.zip\")"},
      {"many.zip",
       "holds no disc image: none of its files (\"r0.txt\", \"r1.txt\", \"r2.txt\", \"r3.txt\", "
       "\"r4.txt\", \"r5.txt\", \"r6.txt\", \"r7.txt\" and 2 more) is one that is read"},
      {"locked.zip", "\"a.iso\": the archive member is encrypted, which is not read: unpack it"},
      {"bad.zip", "\"sub/bad.cue\":2: the data track's file \"gone.bin\" is missing"},
      {"cut.7z", "the archive cannot be read"},
      {"half.7z",
       "the archive cannot be read: it is cut short (its list of members lies beyond its end)"},
  };
  for (const auto& test : kArchives) {
    SCOPED_TRACE(test.archive);
    const fs::path path = work_.path() / test.archive;
    const std::string read = ReadFrom(path, "F.DAT");
    EXPECT_TRUE(read.starts_with("cannot open: " + path.string() + ": " + test.complaint)) << read;
  }
  EXPECT_EQ(ReadFrom(work_.path() / "set.7z", "F.DAT"), "f");
  EXPECT_NE(ReadFrom(work_.path() / "folder.zip", "F.DAT").find("directory"), std::string::npos);
  EXPECT_EQ(ReadFrom(work_.path() / "up.zip", "F.DAT"), "f");
  EXPECT_NE(ReadFrom(work_.path() / "case.zip", "F.DAT"), "f");
  // Written to a pipe (each member's sizes after its data) and its end of
  // central directory lost: read member by member, the size of each learnt
  // by reading it.
  ASSERT_TRUE(
      testing_support::RunQuietly({"sh", "-c", "zip -q - a.iso > piped.zip"}, work_.path()));
  const std::vector<std::uint8_t> piped =
      testing_support::ReadWholeFile(work_.path() / "piped.zip");
  Write(work_.path() / "headless.zip", std::vector<std::uint8_t>(piped.begin(), piped.end() - 30));
  EXPECT_EQ(ReadFrom(work_.path() / "headless.zip", "F.DAT"), "f");
}

// A read of the archive's own bytes that fails is said as that failure,
// wherever it comes (the archive opened, its members listed, looked at or
// read), never as a damaged or cut member or an archive without a disc.
TEST_F(Archives, AFailedReadOfTheArchiveIsSaidAsSuch) {
  namespace faults = platform::faults;
  Write(work_.path() / "tree" / "F.DAT", {'f'});
  const fs::path iso = work_.path() / "a.iso";
  ASSERT_TRUE(testing_support::MakeIsoImage(work_.path() / "tree", iso,
                                            testing_support::ImageKind::Iso9660));
  ASSERT_TRUE(testing_support::WriteRawBinCue(iso, work_.path() / "set.bin"));
  ASSERT_TRUE(Pack({"zip", "-q", "set.zip", "set.cue", "set.bin"}));
  ASSERT_TRUE(Pack({"7z", "a", "-bd", "set.7z", "set.cue", "set.bin"}));
  const std::string ioError = std::make_error_code(std::errc::io_error).message();
  for (const char* archive : {"set.zip", "set.7z"}) {
    SCOPED_TRACE(archive);
    const testing_support::FaultScope scope;
    const fs::path path = work_.path() / archive;
    faults::Reset();
    ASSERT_EQ(ReadFrom(path, "F.DAT"), "f");
    const long calls = faults::Calls(faults::Point::FileRead);
    ASSERT_GT(calls, 2);
    for (long n = 1; n <= calls; ++n) {
      SCOPED_TRACE(::testing::Message() << "read " << n << " of " << calls);
      faults::Reset();
      faults::FailNth(faults::Point::FileRead, n);
      const std::string read = ReadFrom(path, "F.DAT");
      if (read == "f") {
        continue;  // a look whose failure changes nothing (at a format it is not)
      }
      EXPECT_NE(read.find(ioError), std::string::npos) << read;
      for (const char* wrong : {"member is damaged", "cut short", "holds no disc"}) {
        EXPECT_EQ(read.find(wrong), std::string::npos) << read;
      }
    }
  }
}
#endif

#if TVRCGCV_WITH_ARCHIVES
// libarchive's skips stop at the archive's end, and its seeks stay within it.
TEST(ArchiveMoves, StayWithinTheArchive) {
  using cgvw::disc::SeekWithin;
  using cgvw::disc::SkipWithin;
  EXPECT_EQ(SkipWithin(10, 100, 30), 30u);
  EXPECT_EQ(SkipWithin(10, 100, 95), 90u);
  EXPECT_EQ(SkipWithin(100, 100, 1), 0u);
  EXPECT_EQ(SkipWithin(10, 100, -5), 0u);
  const struct {
    std::uint64_t at;
    std::int64_t offset;
    int whence;
    std::optional<std::uint64_t> to;
  } kSeeks[] = {
      {10, 20, SEEK_SET, 20},
      {10, 100, SEEK_SET, 100},
      {10, 101, SEEK_SET, std::nullopt},
      {10, -1, SEEK_SET, std::nullopt},
      {10, 5, SEEK_CUR, 15},
      {10, -10, SEEK_CUR, 0},
      {10, -11, SEEK_CUR, std::nullopt},
      {10, 91, SEEK_CUR, std::nullopt},
      {10, -100, SEEK_END, 0},
      {10, 0, SEEK_END, 100},
      {10, 1, SEEK_END, std::nullopt},
  };
  for (const auto& seek : kSeeks) {
    SCOPED_TRACE(::testing::Message() << seek.at << " " << seek.offset << " " << seek.whence);
    EXPECT_EQ(SeekWithin(seek.at, 100, seek.offset, seek.whence), seek.to);
  }
}
#endif

#if !defined(_WIN32)
// The libraries of CHD files and archives are loaded when first needed: a
// library or a function that is not there is named, never a crash.
TEST(LoadedLibrary, WhatCannotBeLoadedIsNamed) {
  struct Case {
    const char* file;
    const char* function;
    const char* missing;  // "" when the function is found
  };
  for (const Case& c : {Case{"libc.so.6", "strlen", ""},
                        Case{"libc.so.6", "tvrcgcv_no_such_function",
                             "libc.so.6 has no function tvrcgcv_no_such_function"},
                        Case{"libtvrcgcv-absent.so.0", "strlen", "libtvrcgcv-absent.so.0"}}) {
    SCOPED_TRACE(std::string(c.file) + " " + c.function);
    cgvw::disc::LoadedLibrary library(c.file);
    std::size_t (*length)(const char*) = nullptr;
    library.Find(c.function, &length);
    if (*c.missing == 0) {
      ASSERT_NE(length, nullptr);
      EXPECT_EQ(length("four"), 4u);
      EXPECT_EQ(library.missing(), "");
    } else {
      EXPECT_EQ(length, nullptr);
      EXPECT_NE(library.missing().find(c.missing), std::string::npos) << library.missing();
    }
  }
}
#endif

}  // namespace
