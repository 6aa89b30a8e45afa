// The cue sheet reader and the data track it leads to: what real sheets
// look like (one file or one per track, pregaps at either end of a file,
// any case, quoted or bare names, LF or CR LF) is read, and anything else
// is refused with the line at fault. Sector formats are told from bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "containers.h"
#include "cue_layout.h"
#include "cue_sheet.h"
#ifndef _WIN32
#include "failing_new.h"
#endif

namespace {

using cgvw::disc::CueError;
using cgvw::disc::CueSheet;
using cgvw::disc::DataTrack;
using cgvw::disc::LocateDataTrack;
using cgvw::disc::ParseCueSheet;

constexpr std::uint64_t kMiB = 1 << 20;

// Memory that runs out anywhere while a sheet is read is said (on no line)
// and never thrown, whatever the sheet: each allocation of a clean read
// fails in turn. Where operator new is not the test program's (Windows,
// ThreadSanitizer, valgrind) nothing is counted and nothing is tried.
void ExpectRunningOutOfMemorySaid(const std::string& text) {
#ifndef _WIN32
  namespace allocations = testing_support::allocations;
  CueSheet sheet;
  allocations::Count();
  (void)ParseCueSheet(text, &sheet);
  const long count = allocations::Stop();
  for (long n = 1; n <= count; ++n) {
    allocations::Count(n);
    const std::optional<CueError> error = ParseCueSheet(text, &sheet);
    allocations::Stop();
    ASSERT_TRUE(error) << "allocation " << n << " of " << count;
    EXPECT_EQ(error->line, 0u) << "allocation " << n << " of " << count;
    EXPECT_EQ(error->what, "out of memory") << "allocation " << n << " of " << count;
  }
#else
  (void)text;
#endif
}

struct Accepted {
  const char* what;
  std::string text;
  std::vector<std::optional<std::uint64_t>> sizes;  // of the sheet's files
  std::size_t dataFile;
  std::uint32_t sectorBytes;
  std::uint64_t endByte;
  std::uint64_t firstByte = 0;
  std::uint64_t firstSector = 0;  // of the disc
};

TEST(CueSheet, SheetsAsTheyAreWrittenLeadToTheirDataTrack) {
  const Accepted kSheets[] = {
      {"one file, CR LF, quoted",
       "FILE \"disc.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n"
       "    INDEX 01 00:00:00\r\n",
       {kMiB},
       0,
       2352,
       kMiB},
      {"lower case, bare name, LF, byte order mark",
       "\xEF\xBB\xBF"
       "file disc.iso binary\n\ttrack 1 mode1/2048\n\tindex 1 0:00:00\n",
       {kMiB},
       0,
       2048,
       kMiB},
      {"everything a sheet may say",
       "REM GENRE Game\nCATALOG 0123456789012\nCDTEXTFILE \"disc.cdt\"\nTITLE \"A Disc\"\n"
       "PERFORMER Someone\nSONGWRITER \"\"\nFILE \"d.bin\" BINARY\n  TRACK 01 MODE2/2352\n"
       "    TITLE Data\n    FLAGS DCP 4CH\n    ISRC JPABC9800001\n    PREGAP 00:02:00\n"
       "    INDEX 01 00:00:00\n    POSTGAP 00:02:00\n",
       {kMiB},
       0,
       2352,
       kMiB},
      {"data and audio in one file: the data ends where audio begins",
       "FILE \"all.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n",
       {10 * kMiB},
       0,
       2352,
       750 * 2352},
      {"one file per track, audio missing",
       "FILE \"Track 1.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
       "FILE \"Track 2.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
       {kMiB, std::nullopt},
       0,
       2352,
       kMiB},
      {"a pregap at the end of the file before",
       "FILE \"1.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
       "    INDEX 00 00:04:00\nFILE \"2.bin\" BINARY\n    INDEX 01 00:00:00\n",
       {kMiB, kMiB},
       0,
       2352,
       300 * 2352},
      {"2048-byte data, then audio in the same file",
       "FILE all.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n",
       {10 * kMiB},
       0,
       2048,
       750 * 2048},
      {"2048-byte data with its pregap in the file, the next track's pregap in the next",
       "FILE 1.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n"
       "  TRACK 02 AUDIO\n    INDEX 00 00:12:00\nFILE 2.bin BINARY\n    INDEX 01 00:00:00\n",
       {2 * kMiB, kMiB},
       0,
       2048,
       900 * 2048,
       150 * 2048},
      {"tracks with every per-track line each",
       "FILE d.bin BINARY\n  TRACK 01 MODE1/2352\n    FLAGS DCP\n    ISRC JPABC9800001\n"
       "    PREGAP 00:01:00\n    INDEX 01 00:00:00\n    POSTGAP 00:01:00\n"
       "  TRACK 02 AUDIO\n    FLAGS PRE\n    ISRC JPABC9800002\n    PREGAP 00:01:00\n"
       "    INDEX 01 00:10:00\n    POSTGAP 00:01:00\n",
       {2 * kMiB},
       0,
       2352,
       750 * 2352},
      {"data after audio in one file, gaps between",
       "FILE all.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    POSTGAP 00:00:10\n"
       "  TRACK 02 MODE1/2048\n    PREGAP 00:02:00\n    INDEX 01 01:00:00\n",
       {2352 * 4500 + 2048 * 100},
       0,
       2048,
       2352 * 4500 + 2048 * 100,
       2352 * 4500,
       4500 + 10 + 150},
      {"2048-byte data that begins two seconds into its file",
       "FILE d.iso BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:02:00\n",
       {kMiB},
       0,
       2048,
       kMiB,
       150 * 2048,
       0},
      {"the 2048-byte pregap of the data track at the end of the audio file before",
       "FILE a.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 MODE1/2048\n"
       "    INDEX 00 00:10:00\nFILE d.iso BINARY\n    INDEX 01 00:00:00\n",
       {750 * 2352 + 150 * 2048, kMiB},
       1,
       2048,
       kMiB,
       0,
       900},
      {"data after audio files, MODE2/2336, the first track's pregap in its file",
       "FILE a.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n"
       "FILE b.bin BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"
       "FILE d.bin BINARY\n  TRACK 03 MODE2/2336\n    INDEX 01 00:00:00\n",
       {2352 * 1000, 2352 * 4000, 2336 * 30},
       2,
       2336,
       2336 * 30,
       0,
       850 + 4000},
  };
  for (const Accepted& test : kSheets) {
    SCOPED_TRACE(test.what);
    CueSheet sheet;
    const std::optional<CueError> error = ParseCueSheet(test.text, &sheet);
    ASSERT_FALSE(error) << error->line << ": " << error->what;
    DataTrack data{};
    const auto wrong = LocateDataTrack(sheet, test.sizes, &data);
    ASSERT_FALSE(wrong) << wrong->line << ": " << wrong->what;
    EXPECT_EQ(data.file, test.dataFile);
    EXPECT_EQ(data.format.bytes, test.sectorBytes);
    EXPECT_EQ(data.firstByte, test.firstByte);
    EXPECT_EQ(data.endByte, test.endByte);
    EXPECT_EQ(data.firstSector, test.firstSector);
    ExpectRunningOutOfMemorySaid(test.text);
  }
}

struct Refused {
  std::string text;
  unsigned line;
  std::string what;  // found in the error
};

TEST(CueSheet, AnythingElseNamesItsLine) {
  const std::string file = "FILE d.bin BINARY\n";
  const std::string track = "  TRACK 01 MODE1/2352\n";
  const std::string index = "    INDEX 01 00:00:00\n";
  const Refused kSheets[] = {
      {file + track + index + "FOO\n", 4, "unknown keyword \"FOO\""},
      {"TRACK 01 MODE1/2352\n", 1, "TRACK before any FILE"},
      {"INDEX 01 00:00:00\n", 1, "INDEX before any TRACK"},
      {file + "  TRACK 01 MODE3/2352\n", 2, "unknown track mode"},
      {file + "  TRACK 00 AUDIO\n", 2, "bad track number"},
      {file + track + index + "  TRACK 03 AUDIO\n", 4, "tracks count up by one"},
      {file + track + "  TRACK 02 AUDIO\n", 3, "has no INDEX 01"},
      {file + track, 0, "TRACK 1 (line 2) has no INDEX 01"},
      {file + track + "    INDEX 02 00:00:00\n", 3, "out of order"},
      {file + track + index + "    INDEX 01 00:01:00\n", 4, "out of order"},
      {file + track + "    INDEX 01 00:60:00\n", 3, "bad position"},
      {file + track + "    INDEX 01 00:00:75\n", 3, "bad position"},
      {file + track + "    INDEX 01 0000:00:00\n", 3, "bad position"},
      {file + track + "    INDEX 00 00:05:00\n    INDEX 01 00:04:00\n", 4, "goes back"},
      {file + track + "    INDEX 00 00:05:00\n    INDEX 01 00:04:74\n", 4, "goes back"},
      {file + track + index + "    PREGAP 00:02:00\n", 4, "PREGAP after an INDEX"},
      {file + track + "    POSTGAP 00:02:00\n", 3, "POSTGAP before any INDEX"},
      {file + track + "    FLAGS DCP\n    FLAGS PRE\n", 4, "given twice"},
      {file + track + "    FLAGS LOUD\n", 3, "unknown flag"},
      {file + track + "    ISRC 123\n", 3, "bad ISRC"},
      {file + track + index + "CATALOG 0123456789012\n", 4, "after the first TRACK"},
      {"CATALOG 12AB\n", 1, "bad CATALOG"},
      {"FILE \"d.bin\" BINARY\nFILE e.bin BINARY\n", 2, "holds no INDEX"},
      {"FILE \"d.bin BINARY\n", 1, "not closed"},
      {"FILE \"d.bin\"BINARY\n", 1, "no space after"},
      {"FILE d\"x.bin BINARY\n", 1, "inside the word"},
      {"FILE d.bin ISO\n", 1, "unknown file type"},
      {"FILE d.bin\n", 1, "expected FILE <name> BINARY"},
      {"TITLE two words\n", 1, "expected TITLE"},
      {"REM fine\nFILE d.bin BINARY\r\r\n", 2, "control character"},
      {std::string("FILE d.bin BINARY\n  TRACK 01 AUDIO\0\n", 36), 2, "control character"},
      {"\"FILE\" d.bin BINARY\n", 1, "quoted text instead of a keyword"},
      {"REM only remarks\n", 0, "no TRACK"},
      {file + track + index + "FILE e.bin BINARY\nFILE f.bin BINARY\n", 5,
       "FILE on line 4 holds no INDEX"},
      {"CATALOG 0123456789012\nCATALOG 0123456789012\n", 2, "CATALOG given twice"},
      {"CDTEXTFILE a\nCDTEXTFILE b\n", 2, "CDTEXTFILE given twice"},
      {file + track + "    ISRC JPABC9800001\n    ISRC JPABC9800001\n", 4, "ISRC given twice"},
      {file + track + "    PREGAP 00:02:00\n    PREGAP 00:02:00\n", 4, "PREGAP given twice"},
      {file + track + index + "    POSTGAP 00:02:00\n    POSTGAP 00:02:00\n", 5,
       "POSTGAP given twice"},
      {std::string("\xFF\xFE"
                   "F\0I\0L\0E\0",
                   10),
       0, "the sheet is UTF-16 text"},
      {std::string("F\0I\0L\0E\0", 8), 0, "the sheet is UTF-16 text"},
      {"FILE d.bin BINARY\r  TRACK 01 MODE1/2352\r", 0, "lines end in CR alone"},
      {"REM one line that ends in CR\r", 0, "no TRACK"},
      {"FILE \"" + std::string(1000, 'n') + "\" ISO\n", 1, "unknown file type \"ISO\""},
      {"FILE \"\" BINARY\n", 1, "FILE with an empty name"},
      {file + track + "    INDEX 1A 00:00:00\n", 3, "bad index number \"1A\" (0 to 99)"},
      {file + track + index + "    POSTGAP 00:02:00\n    INDEX 02 00:03:00\n", 5,
       "INDEX after POSTGAP"},
      {file + "  PREGAP 00:02:00\n", 2, "PREGAP before any TRACK"},
      {file + "  POSTGAP 00:02:00\n", 2, "POSTGAP before any TRACK"},
      {file + track + "    PREGAP 2s\n", 3, "bad length \"2s\" (mm:ss:ff)"},
      {file + "  FLAGS DCP\n", 2, "FLAGS before any TRACK"},
      {file + "  ISRC JPABC9800001\n", 2, "ISRC before any TRACK"},
      {"CDTEXTFILE \"\"\n", 1, "CDTEXTFILE with an empty name"},
      {"FOO" + std::string(100000, 'x') + "\n", 1,
       "unknown keyword \"FOO" + std::string(77, 'x') + "\u2026"},
      // A keyword's words quoted where a bare word belongs, or of the wrong kind.
      {"FILE d.bin \"BINARY\"\n", 1, "unknown file type \"BINARY\""},
      {file + "  TRACK 01 \"MODE1/2352\"\n", 2, "unknown track mode \"MODE1/2352\""},
      {file + "  TRACK 100 AUDIO\n", 2, "bad track number \"100\" (1 to 99)"},
      {file + "  TRACK 1A AUDIO\n", 2, "bad track number \"1A\""},
      {file + track + "    FLAGS DCP \"PRE\"\n", 3, "unknown flag \"PRE\""},
      {file + track + "    ISRC JPABC98000-1\n", 3, "bad ISRC \"JPABC98000-1\""},
      {file + track + "    ISRC JPABC98000011\n", 3, "bad ISRC"},
      {"CATALOG 012345678901X\n", 1, "bad CATALOG \"012345678901X\" (13 digits)"},
      {"CATALOG 01234567890123\n", 1, "bad CATALOG"},
      {file + track + index + "CDTEXTFILE a.cdt\n", 4, "CDTEXTFILE after the first TRACK"},
      // Each keyword with too few or too many words names its form.
      {file + "  TRACK 01\n", 2, "expected TRACK <number> <mode>"},
      {file + track + "    INDEX 01\n", 3, "expected INDEX <number> <mm:ss:ff>"},
      {file + track + "    PREGAP\n", 3, "expected PREGAP <mm:ss:ff>"},
      {file + track + index + "    POSTGAP 00:02:00 00:02:00\n", 4, "expected POSTGAP <mm:ss:ff>"},
      {file + track + "    FLAGS\n", 3, "expected FLAGS <flag>..."},
      {file + track + "    ISRC\n", 3, "expected ISRC <code>"},
      {"CATALOG\n", 1, "expected CATALOG <value>"},
      {"CDTEXTFILE a b\n", 1, "expected CDTEXTFILE <value>"},
      {"PERFORMER\n", 1, "expected PERFORMER \"<text>\""},
      {"SONGWRITER a b\n", 1, "expected SONGWRITER \"<text>\""},
      // A file left without an index when the sheet ends.
      {file + track + index + "FILE e.bin BINARY\n", 0, "FILE on line 4 holds no INDEX"},
      // UTF-16 of either byte order, with or without its mark.
      {std::string("\xFE\xFF\0F\0I\0L\0E", 10), 0, "the sheet is UTF-16 text"},
      {std::string("\0F\0I\0L\0E", 8), 0, "the sheet is UTF-16 text"},
  };
  for (const Refused& test : kSheets) {
    SCOPED_TRACE(test.text);
    CueSheet sheet;
    const std::optional<CueError> error = ParseCueSheet(test.text, &sheet);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, test.line) << error->what;
    EXPECT_NE(error->what.find(test.what), std::string::npos) << error->what;
    EXPECT_LT(error->what.size(), 400u);
    ExpectRunningOutOfMemorySaid(test.text);
  }
}

TEST(CueSheet, TheDataTrackMustBeThereFirstAndInsideItsFile) {
  const struct {
    std::string text;
    std::vector<std::optional<std::uint64_t>> sizes;
    unsigned line;
    const char* what;
  } kSheets[] = {
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2352\n INDEX 01 00:10:00\n",
       {750 * 2352},
       3,
       "INDEX 1 lies beyond the end of \"a.bin\""},
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2352\n INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
       " INDEX 01 00:20:00\n",
       {750 * 2352},
       5,
       "beyond the end"},
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2352\n INDEX 01 00:00:00\n",
       {std::nullopt},
       2,
       "is missing"},
      {"FILE a.wav WAVE\n TRACK 01 MODE1/2352\n INDEX 01 00:00:00\n",
       {kMiB},
       2,
       "a data track in the audio file"},
      {"FILE a.bin BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n", {kMiB}, 0, "no data track"},
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2352\n INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
       " INDEX 01 00:00:00\n",
       {kMiB},
       2,
       "TRACK 1 (line 2) holds no sectors: TRACK 2 (line 4) begins where it does"},
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2048\n INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
       " INDEX 01 00:00:16\n",
       {kMiB},
       2,
       "TRACK 1 (line 2) holds 16 sectors, too few"},
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2048\n INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
       " INDEX 01 00:00:01\n",
       {kMiB},
       2,
       "TRACK 1 (line 2) holds 1 sector, too few"},
      {"FILE a.bin BINARY\n TRACK 01 MODE1/2352\n INDEX 01 00:00:00\n",
       {16 * 2352 + 2351},
       2,
       "holds 16 sectors"},
      {"FILE a.wav WAVE\n TRACK 01 AUDIO\n INDEX 01 00:00:00\nFILE d.bin BINARY\n"
       " TRACK 02 MODE1/2352\n INDEX 01 00:00:00\n",
       {kMiB, kMiB},
       5,
       "depends on the length of \"a.wav\", which is no binary file"},
      {"FILE a.bin BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\nFILE d.bin BINARY\n"
       " TRACK 02 MODE1/2352\n INDEX 01 00:00:00\n",
       {std::nullopt, kMiB},
       5,
       "depends on the length of \"a.bin\", which is missing"},
  };
  for (const auto& test : kSheets) {
    SCOPED_TRACE(test.text);
    CueSheet sheet;
    ASSERT_FALSE(ParseCueSheet(test.text, &sheet));
    DataTrack data{};
    const auto error = LocateDataTrack(sheet, test.sizes, &data);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, test.line) << error->what;
    EXPECT_NE(error->what.find(test.what), std::string::npos) << error->what;
  }
}

// What is taken for a sheet at a glance: its first word is one of a
// sheet's, in ASCII or UTF-16, after a byte-order mark or blank lines.
TEST(CueSheet, SheetsAreKnownByTheirFirstWord) {
  const std::pair<std::string, bool> kHeads[] = {
      {"FILE d.bin BINARY\n", true},
      {"\xEF\xBB\xBFREM made by hand\n", true},
      {"\r\n\n  TRACK 01 AUDIO", true},
      {std::string("\xFF\xFE"
                   "F\0I\0L\0E\0 \0",
                   12),
       true},
      {"songwriter someone\n", true},
      {std::string("\xFE\xFF\0F\0I\0L\0E\0 ", 12), true},
      {std::string("\0T\0R\0A\0C\0K", 10), true},
      {std::string("\xFF\xFE"
                   "F\x30I\0L\0E\0",
                   10),
       false},  // a character beyond ASCII is no keyword's
      {std::string("\xFE\xFF\0\xE9\0I\0L\0E", 10), false},
      {"MEDIA DESCRIPTOR", false},
      {" \r\n\t", false},
      {"", false},
  };
  for (const auto& [head, sheet] : kHeads) {
    EXPECT_EQ(cgvw::disc::LooksLikeCueSheet(head), sheet) << ::testing::PrintToString(head);
  }
  EXPECT_STREQ(cgvw::disc::ModeName(cgvw::disc::TrackMode::kMode2_2336), "MODE2/2336");
}

// Sector 16 of an image in each format, and what tells them apart.
TEST(CueSheet, SectorFormatsAreToldFromTheirBytes) {
  using cgvw::disc::SectorFormat;
  const auto image = [](const SectorFormat& format, std::uint8_t mode, std::uint8_t submode,
                        unsigned address) {
    std::vector<std::uint8_t> bytes(cgvw::disc::kHeadBytes, 0);
    std::uint8_t* sector = &bytes[16 * format.bytes];
    if (format.bytes == 2352) {
      std::fill(sector + 1, sector + 11, 0xFF);
      sector[12] = 0x00;
      sector[13] = 0x02;
      sector[14] = static_cast<std::uint8_t>((address / 10) << 4 | address % 10);
      sector[15] = mode;
      sector[18] = submode;
    }
    sector[format.dataOffset] = 1;
    std::copy_n("CD001", 5, sector + format.dataOffset + 1);
    return bytes;
  };
  const auto layout = [](const std::vector<std::uint8_t>& head) -> std::string {
    cgvw::disc::MemoryBytes bytes(head, "image");
    const cgvw::disc::Container* found = cgvw::disc::Recognise({bytes, head, "image"});
    return found == nullptr ? "none" : found->name;
  };
  using cgvw::disc::kMode1Raw;
  using cgvw::disc::kMode2Raw;
  using cgvw::disc::kPlainSectors;
  EXPECT_EQ(layout(image(kPlainSectors, 0, 0, 0)), "plain image");
  EXPECT_EQ(layout(image(kMode1Raw, 1, 0, 16)), "raw image");  // 00:02:16
  EXPECT_EQ(layout(image(kMode2Raw, 2, 0x08, 16)), "raw image");
  EXPECT_EQ(layout(image(kMode2Raw, 2, 0x28, 16)), "none");  // form 2
  EXPECT_EQ(layout(image(kMode1Raw, 2, 0, 16)), "none");     // header of mode 2
  EXPECT_EQ(layout(image(kMode1Raw, 1, 0, 15)), "none");     // before sector 16 of the disc
  EXPECT_EQ(layout(std::vector<std::uint8_t>(cgvw::disc::kHeadBytes, 0)), "none");
  EXPECT_EQ(layout(std::vector<std::uint8_t>(100, 0xFF)), "none");
}

}  // namespace
