// The descriptors of whole-disc dumps (CloneCD, Alcohol, Nero): those as
// the copying programs write them lead to the data track's sectors, and
// each entry that is unknown or disagrees with the others is refused,
// saying what (and, in a CloneCD text, on which line).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dumps.h"
#ifndef _WIN32
#include "failing_new.h"
#endif
#if TVRCGCV_CHD
#include <lzma.h>
#include <zlib.h>

#include "chd.h"
#include "chd_codecs.h"
#include "containers.h"
#include "tracks.h"
#if TVRCGCV_CHD_ENCODERS
#include <FLAC/stream_encoder.h>
#endif
#if __has_include(<zstd.h>)
#include <zstd.h>
#define HAVE_ZSTD_HEADER 1
#endif
#endif

namespace {

using namespace cgvw::disc;

// Memory that runs out anywhere while a descriptor is read ends the read
// with std::bad_alloc (turned into the library's status where it returns)
// and with nothing else: each allocation of a clean read fails in turn;
// the sanitizers see that nothing is left held. Where operator new is not
// the test program's, nothing is counted and nothing is tried.
template <typename Read>
void ExpectRunningOutOfMemoryThrown(const Read& read) {
#ifndef _WIN32
  namespace allocations = testing_support::allocations;
  allocations::Count();
  read();
  const long count = allocations::Stop();
  for (long n = 1; n <= count; ++n) {
    allocations::Count(n);
    bool thrown = false;
    try {
      read();
    } catch (const std::bad_alloc&) {
      thrown = true;
    }
    allocations::Stop();
    EXPECT_TRUE(thrown) << "allocation " << n << " of " << count;
  }
#else
  (void)read;
#endif
}

// --- CloneCD ---------------------------------------------------------------

std::string Entry(int number, const std::string& point, int control, int plba) {
  const int address = plba + 150;
  return "[Entry " + std::to_string(number) + "]\nSession=1\nPoint=" + point +
         "\nADR=0x01\nControl=0x0" + std::to_string(control) +
         "\nTrackNo=0\nAMin=0\nASec=0\nAFrame=0\nALBA=-150\nZero=0\nPMin=" +
         std::to_string(address / 4500) + "\nPSec=" + std::to_string(address / 75 % 60) +
         "\nPFrame=" + std::to_string(address % 75) + "\nPLBA=" + std::to_string(plba) + "\n";
}

// An audio track 1 (sectors 0-299), the data track 2 (300-999), lead-out at 1000.
std::string MixedDisc() {
  return "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=5\r\nSessions=1\r\n"
         "DataTracksScrambled=0\r\nCDTextLength=0\r\n[Session 1]\r\nPreGapMode=0\r\n"
         "PreGapSubC=0\r\n" +
         Entry(0, "0xa0", 0, 4350) + Entry(1, "0xa1", 4, 4350 + 150) + Entry(2, "0xa2", 4, 1000) +
         Entry(3, "0x01", 0, 0) + Entry(4, "0x02", 4, 300) +
         "[TRACK 1]\nMODE=0\nINDEX 1=0\n[TRACK 2]\nMODE=2\nINDEX 0=150\nINDEX 1=300\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(CloneCd, TheDataTrackIsWhereTheTableOfContentsPlacesIt) {
  DumpTrack track;
  const auto wrong = ParseCloneCd(MixedDisc(), "Game (Japan).ccd", &track);
  ASSERT_FALSE(wrong) << wrong->what;
  ExpectRunningOutOfMemoryThrown([&] {
    DumpTrack swept;
    ParseCloneCd(MixedDisc(), "Game (Japan).ccd", &swept);
  });
  EXPECT_EQ(track.file, "Game (Japan).img");
  EXPECT_EQ(track.layout.format, kMode2Raw);
  EXPECT_EQ(track.layout.firstByte, 300u * 2352);
  EXPECT_EQ(track.layout.endByte, 1000u * 2352);
  EXPECT_EQ(track.layout.firstSector, 300u);
  // The same with a UTF-8 byte order mark before it.
  DumpTrack marked;
  ASSERT_FALSE(ParseCloneCd("\xEF\xBB\xBF" + MixedDisc(), "Game (Japan).ccd", &marked));
  EXPECT_EQ(marked.layout.firstByte, track.layout.firstByte);
  EXPECT_EQ(marked.layout.endByte, track.layout.endByte);
  // Sections and entries that place nothing: CD-TEXT, a catalogue number,
  // the points of a multi-session disc.
  std::string more =
      Replace(MixedDisc(), "CDTextLength=0", "CDTextLength=0\nCATALOG=0123456789012");
  more = Replace(more, "Point=0xa1", "Point=0xb0") + "[CDText]\nEntries=1\nEntry 0=80 00 00\n";
  DumpTrack plain;
  const auto refused = ParseCloneCd(more, "disc.ccd", &plain);
  ASSERT_FALSE(refused) << refused->what;
  EXPECT_EQ(plain.layout.firstByte, track.layout.firstByte);
  EXPECT_EQ(plain.layout.endByte, track.layout.endByte);
  // Mode 1 sectors; and where track 1 holds data too, it is the one read,
  // up to where track 2 begins.
  DumpTrack mode1;
  ASSERT_FALSE(ParseCloneCd(Replace(MixedDisc(), "MODE=2", "MODE=1"), "disc.ccd", &mode1));
  EXPECT_EQ(mode1.layout.format, kMode1Raw);
  EXPECT_EQ(mode1.layout.firstByte, track.layout.firstByte);
  const std::string twoData = Replace(Replace(MixedDisc(), "Point=0x01\nADR=0x01\nControl=0x00",
                                              "Point=0x01\nADR=0x01\nControl=0x04"),
                                      "MODE=0", "MODE=1");
  DumpTrack first;
  const auto firstRefused = ParseCloneCd(twoData, "disc.ccd", &first);
  ASSERT_FALSE(firstRefused) << firstRefused->what;
  EXPECT_EQ(first.layout.format, kMode1Raw);
  EXPECT_EQ(first.layout.firstByte, 0u);
  EXPECT_EQ(first.layout.endByte, 300u * 2352);
  EXPECT_EQ(first.layout.firstSector, 0u);
}

TEST(CloneCd, EntriesThatAreUnknownOrDisagreeAreNamedWithTheirLine) {
  const std::string disc = MixedDisc();
  const struct {
    const char* what;
    std::string text;
    unsigned line;
    std::string complaint;
  } kCases[] = {
      {"unknown key", Replace(disc, "CDTextLength=0", "Foo=1"), 7, "unknown key \"Foo\" in [disc]"},
      {"unknown section", disc + "[Extras]\n", 93, "unknown section \"[Extras]\""},
      {"not first", "[Disc]\nTocEntries=1\n", 1, "does not begin with [CloneCD]"},
      {"no number", Replace(disc, "Sessions=1", "Sessions=one"), 5,
       "the value of \"Sessions\" is no number"},
      {"scrambled", Replace(disc, "DataTracksScrambled=0", "DataTracksScrambled=1"), 6,
       "stored scrambled"},
      {"too few entries", Replace(disc, "TocEntries=5", "TocEntries=6"), 4,
       "TocEntries says 6 entries, the descriptor has 5"},
      {"entry out of order", Replace(disc, "[Entry 3]", "[Entry 7]"), 56,
       "[Entry 7] where [Entry 3] was to come"},
      {"PLBA against MSF", Replace(disc, "PLBA=300", "PLBA=301"), 85,
       "PLBA 301 is not where PMin, PSec and PFrame place the point (sector 300)"},
      {"unknown point", Replace(disc, "Point=0xa1", "Point=0xa7"), 26, "unknown point 167"},
      {"mode of an audio track", Replace(disc, "MODE=0", "MODE=1"), 87,
       "MODE 1 of an entry of an audio track"},
      {"index 1 elsewhere", Replace(disc, "INDEX 1=300", "INDEX 1=310"), 92,
       "INDEX 1 310 is not where the track's entry places it"},
      {"track not in the table", disc + "[TRACK 3]\nMODE=0\n", 93,
       "[TRACK 3] is of no track in the table of contents"},
      {"no data track",
       Replace(Replace(disc,
                       "Control=0x04\nTrackNo=0\nAMin=0\nASec=0\nAFrame=0\nALBA=-150\nZero=0\nPMin="
                       "0\nPSec=6",
                       "Control=0x00\nTrackNo=0\nAMin=0\nASec=0\nAFrame=0\nALBA=-150\nZero=0\nPMin="
                       "0\nPSec=6"),
               "MODE=2", "MODE=0"),
       0, "the table of contents has no data track"},
      {"a key twice", Replace(disc, "Version=3", "Version=3\nVersion=3"), 3,
       "\"Version\" given twice"},
      {"version", Replace(disc, "Version=3", "Version=9"), 2, "version 9 is outside 1 to 3"},
      {"no key=value", Replace(disc, "Sessions=1", "Sessions=1\r\ngarbage"), 6,
       "not a section name nor a key=value line: \"garbage\""},
      {"unclosed section name", Replace(disc, "[Disc]", "[Disc"), 3,
       "a section name without its closing \"]\""},
      {"entry without a number", Replace(disc, "[Entry 3]", "[Entry x]"), 56,
       "unknown section \"[Entry x]\""},
      {"empty", "\r\n\r\n", 0, "the descriptor is empty"},
      {"no [Disc]", "[CloneCD]\nVersion=3\n", 0, "the descriptor has no [Disc] section"},
      {"a key missing", Replace(disc, "Session=1\nPoint=0x02", "Point=0x02"), 71,
       "[Entry 4] has no session"},
      {"a value out of range", Replace(disc, "Control=0x00", "Control=0x10"), 15,
       "control 16 is outside 0 to 15"},
      {"a section twice", disc + "[TRACK 1]\nMODE=0\n", 93, "a second [TRACK 1] section"},
      {"entry of another session", Replace(disc, "Session=1\nPoint=0x02", "Session=2\nPoint=0x02"),
       71, "[Entry 4] is of session 2 of a disc of 1"},
      {"data track without its section",
       Replace(disc, "[TRACK 2]\nMODE=2\nINDEX 0=150\nINDEX 1=300\n", ""), 71,
       "the data track 2 has no [TRACK 2] section"},
      {"a key before any section", "Version=3\n[CloneCD]\n", 1,
       "not a section name nor a key=value line: \"Version=3\""},
      {"section number beyond an entry's", Replace(disc, "[Entry 3]", "[Entry 256]"), 56,
       "unknown section \"[Entry 256]\""},
      {"negative section number", Replace(disc, "[Entry 3]", "[Entry -1]"), 56,
       "unknown section \"[Entry -1]\""},
      {"a numbered section without its number", Replace(disc, "[Entry 3]", "[Entry]"), 56,
       "unknown section \"[Entry]\""},
      {"a section numbered that is not", Replace(disc, "[Disc]", "[Disc 1]"), 3,
       "unknown section \"[Disc 1]\""},
      {"a plain key numbered", Replace(disc, "Version=3", "Version 1=3"), 2,
       "unknown key \"Version 1\" in [clonecd]"},
      {"an index without its number", Replace(disc, "INDEX 1=0", "INDEX=0"), 88,
       "unknown key \"INDEX\" in [track]"},
      {"a CD-TEXT entry outside [CDText]", Replace(disc, "CDTextLength=0", "Entry 0=1"), 7,
       "unknown key \"Entry 0\" in [disc]"},
      {"no TocEntries", Replace(disc, "TocEntries=5\r\n", ""), 3, "[Disc] has no tocentries"},
      {"no sessions", Replace(disc, "Sessions=1", "Sessions=0"), 5,
       "sessions 0 is outside 1 to 99"},
      {"point of no track", Replace(disc, "Point=0xa1", "Point=0"), 26, "unknown point 0"},
      {"point beyond a byte", Replace(disc, "Point=0xa1", "Point=0x100"), 28,
       "point 256 is outside 0 to 255"},
      {"session 0", Replace(disc, "Session=1\nPoint=0x02", "Session=0\nPoint=0x02"), 72,
       "session 0 is outside 1 to 99"},
      {"PLBA before the lead-in", Replace(disc, "PLBA=300", "PLBA=-151"), 85,
       "plba -151 is outside -150 to"},
      {"minutes", Replace(disc, "PMin=0\nPSec=6", "PMin=100\nPSec=6"), 82,
       "pmin 100 is outside 0 to 99"},
      {"seconds", Replace(disc, "PSec=6", "PSec=60"), 83, "psec 60 is outside 0 to 59"},
      {"frames", Replace(disc, "PSec=6\nPFrame=0", "PSec=6\nPFrame=75"), 84,
       "pframe 75 is outside 0 to 74"},
      {"track without its mode", Replace(disc, "[TRACK 1]\nMODE=0\n", "[TRACK 1]\n"), 86,
       "[TRACK 1] has no mode"},
      {"mode of a data track", Replace(disc, "MODE=2", "MODE=0"), 90,
       "MODE 0 of an entry of a data track (Control 4)"},
      {"data track of the second session",
       Replace(Replace(disc, "Sessions=1", "Sessions=2"), "Session=1\nPoint=0x02",
               "Session=2\nPoint=0x02"),
       71, "the data track 2 is in session 2: only a data track of the first session is read"},
      {"no lead-out", Replace(disc, "Point=0xa2", "Point=0xb0"), 71,
       "the data track 2 begins at sector 300, and nothing says where it ends"},
      {"lead-out where the data track begins",
       Replace(disc, "PSec=15\nPFrame=25\nPLBA=1000", "PSec=6\nPFrame=0\nPLBA=300"), 71,
       "the data track 2 begins at sector 300, not before what follows it (sector 300)"},
      {"data track in the lead-in's pregap",
       Replace(Replace(disc, "PMin=0\nPSec=6\nPFrame=0\nPLBA=300",
                       "PMin=0\nPSec=0\nPFrame=0\nPLBA=-150"),
               "INDEX 0=150\nINDEX 1=300\n", ""),
       71, "the data track 2 begins at sector -150, before the disc's sector 0"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    DumpTrack track;
    const auto wrong = ParseCloneCd(test.text, "disc.ccd", &track);
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->line, test.line) << wrong->what;
    EXPECT_NE(wrong->what.find(test.complaint), std::string::npos) << wrong->what;
    ExpectRunningOutOfMemoryThrown([&] {
      DumpTrack swept;
      ParseCloneCd(test.text, "disc.ccd", &swept);
    });
  }
}

TEST(CloneCd, ImageNamesComeFromTheDescriptorsStem) {
  EXPECT_EQ(WithExtension("disc.ccd", ".img"), "disc.img");
  EXPECT_EQ(WithExtension("Game v1.0 (Japan).CCD", ".img"), "Game v1.0 (Japan).img");
  EXPECT_EQ(WithExtension("disc", ".img"), "disc.img");
  EXPECT_EQ(WithExtension(".ccd", ".img"), ".ccd.img");
}

// --- Alcohol ---------------------------------------------------------------

void Put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// One session: lead-in points A0-A2, then a Mode 1 track 1 of 1000 raw
// sectors with subcode at byte 0, and an audio track 2.
std::vector<std::uint8_t> Mds() {
  std::vector<std::uint8_t> mds(88 + 24 + 5 * 80 + 2 * 8 + 16);
  std::copy_n("MEDIA DESCRIPTOR", 16, mds.begin());
  mds[16] = 1;
  mds[17] = 5;
  Put(mds, 20, 1, 2);
  Put(mds, 80, 88, 4);
  Put(mds, 88, static_cast<std::uint32_t>(-150), 4);
  Put(mds, 92, 1450, 4);
  Put(mds, 96, 1, 2);
  mds[98] = 5;
  mds[99] = 3;
  Put(mds, 100, 1, 2);
  Put(mds, 102, 2, 2);
  Put(mds, 108, 112, 4);
  const std::size_t extras = 112 + 5 * 80;
  const std::size_t footer = extras + 16;
  for (int b = 0; b < 5; ++b) {
    const std::size_t at = 112 + b * 80;
    mds[at + 4] = static_cast<std::uint8_t>(b < 3 ? 0xA0 + b : b - 2);
    if (b >= 3) {
      mds[at] = b == 3 ? 0xAA : 0xA9;
      mds[at + 1] = 8;
      Put(mds, at + 12, extras + (b - 3) * 8, 4);
      Put(mds, at + 16, 2448, 2);
      Put(mds, at + 36, b == 3 ? 0 : 1150, 4);
      Put(mds, at + 40, b == 3 ? 0 : 1150 * 2448, 8);
      Put(mds, at + 48, 1, 4);
      Put(mds, at + 52, footer, 4);
      Put(mds, extras + (b - 3) * 8 + 4, b == 3 ? 1000 : 300, 4);
    }
  }
  Put(mds, footer, mds.size(), 4);
  for (const char c : std::string("*.mdf")) {
    mds.push_back(static_cast<std::uint8_t>(c));
  }
  mds.push_back(0);
  return mds;
}

TEST(Alcohol, TheDataTrackIsWhereItsBlockPlacesIt) {
  DumpTrack track;
  const std::vector<std::uint8_t> mds = Mds();
  const auto wrong = ParseAlcohol(mds, "Game.mds", &track);
  ASSERT_FALSE(wrong) << wrong->what;
  EXPECT_EQ(track.file, "Game.mdf");
  EXPECT_EQ(track.layout.format, (SectorFormat{2448, 16, 1}));
  EXPECT_EQ(track.layout.endByte, 1000u * 2448);
  EXPECT_EQ(track.layout.firstSector, 0u);

  std::vector<std::uint8_t> named = mds;  // a name of its own, in UTF-16
  named.resize(named.size() - 6);
  for (const char16_t c : std::u16string(u"\u00E9\U0001F600\u30C7.mdf")) {
    named.push_back(static_cast<std::uint8_t>(c));
    named.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  named.insert(named.end(), {0, 0});
  Put(named, 112 + 5 * 80 + 16 + 4, 1, 4);
  ASSERT_FALSE(ParseAlcohol(named, "Game.mds", &track));
  EXPECT_EQ(track.file, "\xC3\xA9\xF0\x9F\x98\x80\xE3\x83\x87.mdf");
  // Each mode with the sector sizes it is stored in (raw, user data only,
  // mode 2 without its header; with or without 96 bytes of subcode after
  // each), the mode's high nibble any of those written, on any medium.
  const struct {
    std::uint8_t mode, subcode;
    std::uint16_t size;
    std::uint16_t medium;
    SectorFormat format;
  } kFormats[] = {
      {0xAA, 0, 2352, 0, kMode1Raw},
      {0xEA, 0, 2048, 1, kPlainSectors},
      {0x0A, 8, 2048 + 96, 2, SectorFormat{2144, 0, 0}},
      {0xAB, 0, 2352, 0x10, kMode2Raw},
      {0xAB, 8, 2336 + 96, 0x12, SectorFormat{2432, 8, 2}},
      {0xAC, 0, 2048, 0, kPlainSectors},
      {0xAC, 0, 2352, 0, kMode2Raw},
      {0xAC, 0, 2336, 0, kMode2Headerless},
  };
  for (const auto& [mode, subcode, size, medium, format] : kFormats) {
    SCOPED_TRACE(::testing::Message() << "mode " << int{mode} << ", " << size << " bytes");
    std::vector<std::uint8_t> stored = mds;
    Put(stored, 18, medium, 2);
    Put(stored, 112 + 3 * 80, mode, 1);
    Put(stored, 112 + 3 * 80 + 1, subcode, 1);
    Put(stored, 112 + 3 * 80 + 16, size, 2);
    DumpTrack formatted;
    const auto refused = ParseAlcohol(stored, "Game.mds", &formatted);
    ASSERT_FALSE(refused) << refused->what;
    EXPECT_EQ(formatted.layout.format, format);
    EXPECT_EQ(formatted.layout.endByte, 1000u * size);
  }
  // Without an extra block the track runs to its session's end.
  std::vector<std::uint8_t> unextended = mds;
  Put(unextended, 112 + 3 * 80 + 12, 0, 4);
  DumpTrack toTheEnd;
  ASSERT_FALSE(ParseAlcohol(unextended, "Game.mds", &toTheEnd));
  EXPECT_EQ(toTheEnd.layout.endByte, 1450u * 2448);
  // ... and where it begins past that end, its length is below zero.
  Put(unextended, 112 + 3 * 80 + 36, 2000, 4);
  const auto past = ParseAlcohol(unextended, "Game.mds", &toTheEnd);
  ASSERT_TRUE(past);
  EXPECT_NE(past->what.find("track 1: -550 sectors from sector 2000 do not fit in its session, "
                            "which ends at sector 1450"),
            std::string::npos)
      << past->what;
  // One sector past the session's end.
  std::vector<std::uint8_t> over = mds;
  Put(over, 112 + 3 * 80 + 36, 1450, 4);
  Put(over, 112 + 5 * 80 + 4, 1, 4);
  const auto overrun = ParseAlcohol(over, "Game.mds", &toTheEnd);
  ASSERT_TRUE(overrun);
  EXPECT_NE(overrun->what.find("track 1: 1 sector from sector 1450 does not fit"),
            std::string::npos)
      << overrun->what;

  // A name without its ending zero is not in the descriptor.
  named.resize(named.size() - 2);
  const auto unended = ParseAlcohol(named, "Game.mds", &track);
  ASSERT_TRUE(unended);
  EXPECT_NE(unended->what.find("the name of its image file is not in the descriptor"),
            std::string::npos)
      << unended->what;
}

TEST(Alcohol, FieldsThatAreUnknownOrDisagreeAreNamed) {
  const struct {
    const char* what;
    std::size_t at;
    std::uint64_t value;
    int width;
    std::string complaint;
  } kCases[] = {
      {"version 2", 16, 2, 1, "a descriptor of version 2.5: version 1 is read"},
      {"medium", 18, 7, 2, "unknown medium type 7"},
      {"sessions beyond the file", 20, 40, 2, "40 sessions, their blocks not in the descriptor"},
      {"session number", 96, 2, 2, "session 1 is numbered 2"},
      {"track count", 102, 3, 2, "2 track blocks for tracks 1 to 3"},
      {"lead-in point", 112 + 4, 0x10, 1, "lead-in block 0 has point 16"},
      {"track point", 112 + 3 * 80 + 4, 5, 1, "the block of track 1 has point 5"},
      {"mode", 112 + 3 * 80, 0x3A, 1, "track 1: unknown mode 58"},
      {"subcode kind", 112 + 3 * 80 + 1, 3, 1, "unknown subcode kind 3"},
      {"sector size", 112 + 3 * 80 + 16, 2048, 2, "sectors of 2048 bytes do not fit its mode"},
      {"files", 112 + 3 * 80 + 48, 2, 4, "track 1 is in 2 image files"},
      {"length", 112 + 5 * 80 + 4, 5000, 4, "5000 sectors from sector 0 do not fit"},
      {"footer", 112 + 3 * 80 + 52, 1 << 20, 4, "its footer lies outside the descriptor"},
      {"no data track", 112 + 3 * 80, 0xA9, 1, "the descriptor has no data track"},
      {"signature", 0, 'X', 1, "shorter than the header of a descriptor"},
      {"session ends before it starts", 92, 0xFFFFFF00u, 4,
       "session 1 ends at sector -256, not after its start (-150) on a disc"},
      {"one track block", 98, 4, 1, "session 1: 1 track block for tracks 1 to 2"},
      {"blocks outside", 108, 1 << 20, 4, "session 1: its track blocks lie outside the descriptor"},
      {"first sector", 112 + 3 * 80 + 36, 500000, 4,
       "track 1 begins at sector 500000, beyond the end of any disc"},
      {"extra block", 112 + 3 * 80 + 12, 1 << 20, 4, "its extra block lies outside the descriptor"},
      {"no sectors", 112 + 5 * 80 + 4, 0, 4, "track 1: 0 sectors from sector 0 do not fit"},
      {"name outside", 112 + 5 * 80 + 16, 1 << 20, 4,
       "track 1: the name of its image file is not in the descriptor"},
      {"form 2 only", 112 + 3 * 80, 0xAD, 1, "the descriptor has no data track"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    std::vector<std::uint8_t> mds = Mds();
    Put(mds, test.at, test.value, test.width);
    DumpTrack track;
    const auto wrong = ParseAlcohol(mds, "disc.mds", &track);
    ASSERT_TRUE(wrong);
    EXPECT_NE(wrong->what.find(test.complaint), std::string::npos) << wrong->what;
  }
}

// --- Nero ------------------------------------------------------------------

void PutBe(std::vector<std::uint8_t>& bytes, std::uint64_t value, int width) {
  for (int i = width; i-- > 0;) {
    bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

void Chunk(std::vector<std::uint8_t>& tail, const char* name,
           const std::vector<std::uint8_t>& body) {
  tail.insert(tail.end(), name, name + 4);
  PutBe(tail, body.size(), 4);
  tail.insert(tail.end(), body.begin(), body.end());
}

// The chunks and footer of an image whose data track 1 (mode 0, 2048-byte
// sectors, 1000 of them) follows a pregap of 150 sectors; `wide` for the
// newer kind.
std::vector<std::uint8_t> NeroTail(bool wide, std::uint64_t chunksAt = 1150 * 2048) {
  std::vector<std::uint8_t> cue;
  for (const auto& [track, index, sector] : std::vector<std::tuple<int, int, int>>{
           {0, 0, -150}, {1, 0, -150}, {1, 1, 0}, {0xAA, 1, 1000}}) {
    cue.insert(cue.end(), {0x41, static_cast<std::uint8_t>(track == 0xAA ? 0xAA : track),
                           static_cast<std::uint8_t>(index), 0});
    if (wide) {
      PutBe(cue, static_cast<std::uint32_t>(sector), 4);
    } else {
      const int address = sector + 150;
      const auto bcd = [](int v) { return static_cast<std::uint64_t>((v / 10) << 4 | v % 10); };
      PutBe(cue, 0, 1);
      PutBe(cue, bcd(address / 4500), 1);
      PutBe(cue, bcd(address / 75 % 60), 1);
      PutBe(cue, bcd(address % 75), 1);
    }
  }
  const int offset = wide ? 8 : 4;
  std::vector<std::uint8_t> dao;
  PutBe(dao, 0, 4);
  dao.resize(dao.size() + 14, 0);
  PutBe(dao, 0, 2);
  dao.insert(dao.end(), {1, 1});
  dao.resize(dao.size() + 12, 0);
  PutBe(dao, 2048, 2);
  dao.insert(dao.end(), {0, 0, 0, 0});
  PutBe(dao, 0, offset);
  PutBe(dao, 150 * 2048, offset);
  PutBe(dao, 1150 * 2048, offset);
  std::vector<std::uint8_t> tail;
  Chunk(tail, wide ? "CUEX" : "CUES", cue);
  Chunk(tail, wide ? "DAOX" : "DAOI", dao);
  Chunk(tail, "SINF", {0, 0, 0, 1});
  Chunk(tail, "END!", {});
  tail.insert(tail.end(), wide ? "NER5" : "NERO", (wide ? "NER5" : "NERO") + 4);
  PutBe(tail, chunksAt, wide ? 8 : 4);
  return tail;
}

TEST(Nero, BothFootersLeadToTheDataTrack) {
  // The chunks that are not needed are passed over, whichever stands after
  // the session's.
  for (const std::string passed : {"SINF", "MTYP", "CDTX", "DINF", "TOCT", "RELO"}) {
    for (const bool wide : {true, false}) {
      SCOPED_TRACE(wide ? "NER5" : "NERO");
      std::vector<std::uint8_t> tail = NeroTail(wide);
      std::copy(passed.begin(), passed.end(), tail.begin() + (wide ? 112 : 40 + 8 + 52));
      EXPECT_EQ(NeroChunksAt(std::span(tail).last(12)), 1150u * 2048);
      DumpTrack track;
      const auto wrong = ParseNero(tail, 1150 * 2048, &track);
      ASSERT_FALSE(wrong) << wrong->what;
      EXPECT_EQ(track.file, "");
      EXPECT_EQ(track.layout.format, kPlainSectors);
      EXPECT_EQ(track.layout.firstByte, 150u * 2048);
      EXPECT_EQ(track.layout.endByte, 1150u * 2048);
      EXPECT_EQ(track.layout.firstSector, 0u);
    }
  }
}

TEST(Nero, ChunksThatAreUnknownOrDisagreeAreNamed) {
  const struct {
    const char* what;
    bool wide;
    std::size_t at;  // in the tail
    std::vector<std::uint8_t> bytes;
    std::string complaint;
  } kCases[] = {
      {"unknown chunk", true, 0, {'C', 'U', 'E', 'Z'}, "unknown chunk \"CUEZ\" at byte 2355200"},
      {"old chunk, new footer",
       true,
       0,
       {'C', 'U', 'E', 'S'},
       "chunk \"CUES\" in a file with the footer of newer files"},
      {"new chunk, old footer",
       false,
       0,
       {'C', 'U', 'E', 'X'},
       "chunk \"CUEX\" in a file with the footer of older files"},
      {"runs past",
       true,
       4,
       {0x7F, 0, 0, 0},
       "chunk \"CUEX\" at byte 2355200 runs past the footer"},
      {"CUEX size",
       true,
       4,
       {0, 0, 0, 33},
       "CUEX chunk of 33 bytes, not a whole number of entries"},
      {"track no BCD", true, 8 + 9, {0x1A}, "CUEX entry 1: track number 26 is no BCD"},
      {"CUES address", false, 8 + 21, {0x9A}, "CUES entry 2: its address is no BCD"},
      {"DAO mode", true, 48 + 22 + 14, {0x09}, "DAOX: track 1 has unknown mode 9"},
      {"DAO size",
       true,
       48 + 22 + 12,
       {0x09, 0x30},
       "has sectors of 2352 bytes, its mode (0) those of 2048"},
      {"DAO last track", true, 48 + 21, {2}, "DAOX chunk of 64 bytes for tracks 1 to 2"},
      {"DAO order", true, 48 + 22 + 18 + 4, {0xFF}, "not in order or not whole sectors"},
      {"index no BCD", true, 8 + 16 + 2, {0x1A}, "CUEX entry 2: index 26 is no BCD"},
      {"CUES seconds", false, 8 + 16 + 6, {0x7A}, "CUES entry 2: its address is no BCD"},
      {"CUES frames", false, 8 + 16 + 7, {0x0F}, "CUES entry 2: its address is no BCD"},
      {"beyond any disc",
       true,
       8 + 24 + 4,
       {0x7F, 0xFF, 0xFF, 0xFF},
       "CUEX entry 3 places its index at sector 2147483647"},
      {"before the lead-in",
       true,
       8 + 4,
       {0xFF, 0xFF, 0xFF, 0x00},
       "CUEX entry 0 places its index at sector -256"},
      {"DAO too short", true, 40 + 4, {0, 0, 0, 21}, "DAOX chunk of 21 bytes, too short"},
      {"DAO from track 0", true, 48 + 20, {0}, "DAOX chunk of 64 bytes for tracks 0 to 1"},
      {"DAO counting down", true, 48 + 20, {2}, "DAOX chunk of 64 bytes for tracks 2 to 1"},
      {"DAO beyond track 99", false, 48 + 21, {100}, "DAOI chunk of 52 bytes for tracks 1 to 100"},
      {"DAO index 1 after the end",
       true,
       48 + 22 + 26,
       {0xFF},
       "not in order or not whole sectors"},
      {"DAO part of a sector", true, 48 + 22 + 34 + 7, {0x01}, "not in order or not whole sectors"},
      {"DAO chunk, new footer", true, 40, {'D', 'A', 'O', 'I'}, "chunk \"DAOI\" in a file with"},
      {"TAO chunk, old footer", false, 40, {'E', 'T', 'N', '2'}, "chunk \"ETN2\" in a file with"},
      {"unprintable name", true, 0, {0x01, 'U', 'E', 'X'}, "unknown chunk \"?UEX\""},
      {"data track in the lead-in's pregap",
       true,
       8 + 16 + 4,
       {0xFF, 0xFF, 0xFF, 0xFF},
       "the data track 1 begins at sector -1, before the disc's sector 0"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    std::vector<std::uint8_t> tail = NeroTail(test.wide);
    std::copy(test.bytes.begin(), test.bytes.end(),
              tail.begin() + static_cast<std::ptrdiff_t>(test.at));
    DumpTrack track;
    const auto wrong = ParseNero(tail, 1150 * 2048, &track);
    ASSERT_TRUE(wrong);
    EXPECT_NE(wrong->what.find(test.complaint), std::string::npos) << wrong->what;
    ExpectRunningOutOfMemoryThrown([&] {
      DumpTrack swept;
      ParseNero(tail, 1150 * 2048, &swept);
    });
  }
  // Sectors that would reach into the chunks.
  DumpTrack track;
  const auto wrong = ParseNero(NeroTail(true, 1000 * 2048), 1000 * 2048, &track);
  ASSERT_TRUE(wrong);
  EXPECT_NE(wrong->what.find("is empty or not before the chunks"), std::string::npos)
      << wrong->what;
}

// An image written track at once: an ETNF (ETN2) entry per track, its
// bytes, mode and first sector; then END! and the footer.
struct TaoEntry {
  std::uint64_t start, size;
  std::uint32_t mode;
  std::uint32_t sector;
};

std::vector<std::uint8_t> NeroTaoTail(bool wide, const std::vector<TaoEntry>& entries,
                                      std::uint64_t chunksAt, bool ended = true) {
  const int offset = wide ? 8 : 4;
  std::vector<std::uint8_t> etn;
  for (const TaoEntry& entry : entries) {
    PutBe(etn, entry.start, offset);
    PutBe(etn, entry.size, offset);
    PutBe(etn, entry.mode, 4);
    PutBe(etn, entry.sector, 4);
    PutBe(etn, 0, offset);
  }
  std::vector<std::uint8_t> tail;
  Chunk(tail, wide ? "ETN2" : "ETNF", etn);
  Chunk(tail, "MTYP", {0, 0, 0, 1});
  if (ended) {
    Chunk(tail, "END!", {});
  }
  tail.insert(tail.end(), wide ? "NER5" : "NERO", (wide ? "NER5" : "NERO") + 4);
  PutBe(tail, chunksAt, wide ? 8 : 4);
  return tail;
}

// Track at once: the data track after an audio one, in each sector size,
// raw sectors told by their mode.
TEST(Nero, TracksWrittenOneAtATimeLeadToTheDataTrack) {
  const struct {
    std::uint32_t mode;
    SectorFormat format;
  } kModes[] = {
      {0, kPlainSectors},
      {2, kPlainSectors},
      {3, kMode2Headerless},
      {5, kMode1Raw},
      {6, kMode2Raw},
      {0x0F, SectorFormat{2448, kMode1Raw.dataOffset, 1}},
      {0x11, SectorFormat{2448, kMode2Raw.dataOffset, 2}},
  };
  for (const bool wide : {true, false}) {
    for (const auto& [mode, format] : kModes) {
      SCOPED_TRACE(::testing::Message() << (wide ? "ETN2" : "ETNF") << " mode " << mode);
      const std::uint64_t audio = 300 * 2352;
      const std::uint64_t data = 1000ull * format.bytes;
      const std::vector<std::uint8_t> tail =
          NeroTaoTail(wide, {{0, audio, 7, 0}, {audio, data, mode, 450}}, audio + data);
      DumpTrack track;
      const auto wrong = ParseNero(tail, audio + data, &track);
      ASSERT_FALSE(wrong) << wrong->what;
      EXPECT_EQ(track.file, "");
      EXPECT_EQ(track.layout.format, format);
      EXPECT_EQ(track.layout.firstByte, audio);
      EXPECT_EQ(track.layout.endByte, audio + data);
      EXPECT_EQ(track.layout.firstSector, 450u);
    }
  }
}

TEST(Nero, TrackAtOnceEntriesThatAreUnknownOrDisagreeAreNamed) {
  constexpr std::uint64_t kAt = 1000 * 2048;
  const struct {
    const char* what;
    bool wide;
    std::vector<TaoEntry> entries;
    std::uint64_t chunksAt;
    std::string complaint;
  } kCases[] = {
      {"no entry", true, {}, kAt, "ETN2 chunk of 0 bytes, not a whole number of tracks"},
      {"unknown mode",
       false,
       {{0, kAt, 9, 0}},
       kAt,
       "ETNF: track 1 of mode 9, 2048000 bytes from "
       "sector 0: unknown mode"},
      {"part of a sector", true, {{0, kAt - 1, 0, 0}}, kAt, "not whole sectors on a disc"},
      {"one sector", false, {{0, 1, 0, 0}}, kAt, "track 1 of mode 0, 1 byte from sector 0"},
      {"beyond any disc", true, {{0, kAt, 0, 0x7FFFFFFF}}, kAt, "not whole sectors on a disc"},
      {"only audio", true, {{0, 300 * 2352, 7, 0}}, 300 * 2352, "its one track is no data track"},
      {"all audio",
       false,
       {{0, 300 * 2352, 7, 0}, {300 * 2352, 300 * 2448, 0x10, 300}},
       300 * 2352 + 300 * 2448,
       "no data track among the 2 tracks"},
      {"empty",
       true,
       {{0, 0, 0, 0}},
       kAt,
       "the data track 1 (bytes 0 to 0 from sector 0) is empty"},
      {"into the chunks", false, {{0, kAt, 0, 0}}, kAt - 2048, "not before the chunks"},
      {"past the end of any file",
       true,
       {{~std::uint64_t{0} - 4095, 4096, 0, 0}},
       kAt,
       "not whole sectors on a disc"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    DumpTrack track;
    const std::vector<std::uint8_t> tail = NeroTaoTail(test.wide, test.entries, test.chunksAt);
    const auto wrong = ParseNero(tail, test.chunksAt, &track);
    ASSERT_TRUE(wrong);
    EXPECT_NE(wrong->what.find(test.complaint), std::string::npos) << wrong->what;
    ExpectRunningOutOfMemoryThrown([&] {
      DumpTrack swept;
      ParseNero(tail, test.chunksAt, &swept);
    });
  }
}

// The chunks and footer themselves: where they end, and a footer that
// names another place.
TEST(Nero, ChunksWithoutTheirEndOrFooterAreNamed) {
  constexpr std::uint64_t kAt = 1000 * 2048;
  DumpTrack track;
  const auto unended = ParseNero(NeroTaoTail(false, {{0, kAt, 0, 0}}, kAt, false), kAt, &track);
  ASSERT_TRUE(unended);
  EXPECT_NE(unended->what.find("without END!"), std::string::npos) << unended->what;
  const auto elsewhere = ParseNero(NeroTaoTail(true, {{0, kAt, 0, 0}}, kAt), kAt + 1, &track);
  ASSERT_TRUE(elsewhere);
  EXPECT_NE(elsewhere->what.find("does not end in a Nero footer"), std::string::npos)
      << elsewhere->what;
  const std::vector<std::uint8_t> shortTail = {'N', 'E', 'R'};
  EXPECT_FALSE(NeroChunksAt(shortTail));
  EXPECT_TRUE(ParseNero(shortTail, 0, &track));
  // An older footer alone: no chunk at all.
  const std::vector<std::uint8_t> footerOnly = {'N', 'E', 'R', 'O', 0, 0, 0, 0};
  const auto bare = ParseNero(footerOnly, 0, &track);
  ASSERT_TRUE(bare);
  EXPECT_NE(bare->what.find("the chunks end at byte 0 without END!"), std::string::npos)
      << bare->what;
  // Disc at once without a CUE chunk: nothing says where its track begins.
  std::vector<std::uint8_t> tail = NeroTail(true);
  tail[0] = 'S', tail[1] = 'I', tail[2] = 'N', tail[3] = 'F';
  const auto unplaced = ParseNero(tail, 1150 * 2048, &track);
  ASSERT_TRUE(unplaced);
  EXPECT_NE(unplaced->what.find("no CUE chunk says where the data track 1 begins"),
            std::string::npos)
      << unplaced->what;
}

#if TVRCGCV_CHD
// --- CHD -------------------------------------------------------------------

// The data track is the first that is not audio; it begins at a frame of
// the file that is a multiple of 4 after the tracks before it, after its
// stored pregap, and on the disc after every track and pregap before it.
TEST(Chd, TrackTextsPlaceTheDataTrack) {
  const auto track = [](const std::string& text) {
    chd::Track parsed;
    EXPECT_FALSE(chd::ParseTrack(text, &parsed)) << text;
    return parsed;
  };
  const chd::Track data1 = track(
      "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:3538 PREGAP:0 PGTYPE:MODE1 PGSUB:NONE "
      "POSTGAP:0");
  const chd::Track audio1 = track("TRACK:1 TYPE:AUDIO SUBTYPE:NONE FRAMES:301");
  const chd::Track data2 =
      track(std::string("TRACK:2 TYPE:MODE2_RAW SUBTYPE:NONE FRAMES:1150 PREGAP:150 "
                        "PGTYPE:VMODE2_RAW PGSUB:NONE POSTGAP:0") +
            '\0');
  const chd::Track plain2 = track("TRACK:2 TYPE:MODE1 SUBTYPE:NONE FRAMES:500 PREGAP:150");
  const chd::Track data1Pregap = track(
      "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:3688 PREGAP:150 PGTYPE:VMODE1_RAW PGSUB:NONE "
      "POSTGAP:0");
  const chd::Track audio1Postgap = track("TRACK:1 TYPE:AUDIO SUBTYPE:NONE FRAMES:301 POSTGAP:2");
  const struct {
    const char* what;
    std::vector<chd::Track> tracks;
    chd::DataTrack expected;
  } kCases[] = {
      {"data first", {data1, audio1}, {0, 3538, {chd::kFrameBytes, 16, 1}, 0}},
      {"after audio, pregap stored",
       {audio1, data2},
       {304 + 150, 1000, {chd::kFrameBytes, 24, 2}, 451}},
      {"after audio, pregap not stored",
       {audio1, plain2},
       {304, 500, {chd::kFrameBytes, 0, 0}, 451}},
      {"first, its pregap stored before sector 0",
       {data1Pregap},
       {150, 3538, {chd::kFrameBytes, 16, 1}, 0}},
      {"after audio with a postgap",
       {audio1Postgap, plain2},
       {304, 500, {chd::kFrameBytes, 0, 0}, 453}},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    chd::DataTrack found;
    ASSERT_FALSE(chd::FindDataTrack(test.tracks, &found));
    EXPECT_EQ(found.firstFrame, test.expected.firstFrame);
    EXPECT_EQ(found.sectors, test.expected.sectors);
    EXPECT_EQ(found.format, test.expected.format);
    EXPECT_EQ(found.firstSector, test.expected.firstSector);
  }
}

TEST(Chd, TrackTextsThatCannotBeReadSayWhy) {
  const struct {
    std::vector<std::string> texts;
    std::string complaint;
  } kCases[] = {
      {{"TRACK:1 TYPE:MODE1_RAW"}, "lacks its TRACK, TYPE or FRAMES"},
      {{"TRACK:1 TYPE:MODE1_RAW FRAMES:12x"}, "FRAMES 12x, which is no number of a disc"},
      {{"TRACK:1 TYPE:MODE1_RAW FRAMES:99999999"}, "FRAMES 99999999"},
      {{"TRACK:100 TYPE:MODE1_RAW FRAMES:5"}, "TRACK 100"},
      {{"TRACK:0 TYPE:MODE1_RAW FRAMES:5"}, "TRACK 0, which is no number of a disc"},
      {{"TRACK:1 TYPE:MODE1_RAW FRAMES:5 ODD"}, "the word \"ODD\" without a value"},
      {{"TRACK:2 TYPE:MODE1_RAW FRAMES:5"}, "gives track 2 where track 1 belongs"},
      {{"TRACK:1 TYPE:AUDIO FRAMES:5"}, "tracks are all audio"},
      {{"TRACK:1 TYPE:MODE2_FORM2 FRAMES:5"}, "track 1 is of the type MODE2_FORM2"},
      {{"TRACK:1 TYPE:MODE1 FRAMES:5 PREGAP:9 PGTYPE:VMODE1"}, "a pregap longer than itself"},
      {{}, "describes no track"},
  };
  for (const auto& test : kCases) {
    std::vector<chd::Track> tracks;
    std::string wrong;
    for (const std::string& text : test.texts) {
      chd::Track track;
      if (const auto bad = chd::ParseTrack(text, &track)) {
        wrong = *bad;
        break;
      }
      tracks.push_back(track);
    }
    chd::DataTrack data;
    if (wrong.empty()) {
      wrong = chd::FindDataTrack(tracks, &data).value_or("");
    }
    EXPECT_NE(wrong.find(test.complaint), std::string::npos) << test.complaint << ": " << wrong;
  }
}

// A header of chdman's CD defaults, then changed field by field.
std::vector<std::uint8_t> ChdHeader() {
  std::vector<std::uint8_t> head(chd::kHeaderBytes);
  const auto put = [&](std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
      head[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
    }
  };
  std::copy_n("MComprHD", 8, head.begin());
  put(8, chd::kHeaderBytes, 4);
  put(12, 5, 4);
  put(16, chd::Tag("cdlz"), 4);
  put(32, 3538 * 2448, 8);
  put(40, 4000000, 8);
  put(56, 19584, 4);
  put(60, 2448, 4);
  return head;
}

TEST(Chd, HeadersThatCannotBeReadSayWhy) {
  const struct {
    std::size_t at;
    std::uint64_t value;
    int width;
    std::string complaint;  // "" when it is read
  } kCases[] = {
      {0, 0, 0, ""},
      {12, 4, 4, "version is 4, and only version 5 is read (chdman copy"},
      {8, 108, 4, "header is cut short or of the wrong length"},
      {60, 512, 4, "units are of 512 bytes"},
      {56, 19585, 4, "hunks are of 19585 bytes"},
      {56, 2448 * 4096, 4, "not a whole number of frames up to 8 MiB"},
      {32, std::uint64_t{1} << 40, 8, "more than a CD holds"},
      {40, 5000000, 8, "map lies at byte 5000000, outside the file (4194304 bytes)"},
      {40, 100, 8, "map lies at byte 100"},
  };
  for (const auto& test : kCases) {
    std::vector<std::uint8_t> head = ChdHeader();
    for (int i = 0; i < test.width; ++i) {
      head[test.at + i] = static_cast<std::uint8_t>(test.value >> (8 * (test.width - 1 - i)));
    }
    chd::Header header;
    const auto wrong = chd::ParseHeader(head, 4 << 20, &header);
    if (test.complaint.empty()) {
      EXPECT_FALSE(wrong) << *wrong;
      EXPECT_EQ(header.hunkCount, (3538 + 7) / 8);
      EXPECT_FALSE(header.HasParent());
    } else {
      ASSERT_TRUE(wrong) << test.complaint;
      EXPECT_NE(wrong->find(test.complaint), std::string::npos) << *wrong;
    }
  }
}

// Compressed maps written here bit by bit as the format describes them:
// the kinds' code (code lengths, plain or with the escape that repeats a
// length), each hunk's kind (runs among them), then each hunk's fields. A
// map's CRC is that of the entries expected, so that a map read into other
// entries fails it.
class MapBits {
 public:
  MapBits& Put(std::uint64_t value, unsigned width) {
    for (unsigned i = width; i-- > 0;) {
      if (bits_ % 8 == 0) {
        bytes_.push_back(0);
      }
      bytes_.back() |= static_cast<std::uint8_t>(((value >> i) & 1) << (7 - bits_ % 8));
      ++bits_;
    }
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  unsigned bits_ = 0;
};

struct MapCase {
  using Bits = std::vector<std::pair<std::uint64_t, unsigned>>;  // value, width; after the code
  MapCase(const char* what, Bits bits, std::vector<chd::MapEntry> expected, std::string complaint,
          std::vector<unsigned> lengths = {}, int crcChange = 0)
      : what(what),
        bits(std::move(bits)),
        expected(std::move(expected)),
        complaint(std::move(complaint)),
        lengths(std::move(lengths)),
        crcChange(crcChange) {}
  const char* what;
  Bits bits;
  std::vector<chd::MapEntry> expected;  // the entries; their CRC goes in the map's header
  std::string complaint;                // "" when it is read
  std::vector<unsigned> lengths;        // the kinds' code lengths; none: the escape code
  int crcChange;
};

TEST(Chd, CompressedMapsAreDecodedOrSayWhy) {
  constexpr std::uint64_t kFirst = 1000;  // the first hunk's offset
  constexpr std::uint32_t kHunk = 19584;
  constexpr std::uint64_t kFileSize = 30000;
  const auto codec = [](std::uint8_t c, std::uint32_t length, std::uint64_t offset,
                        std::uint16_t crc) {
    return chd::MapEntry{static_cast<chd::HunkKind>(c), static_cast<std::uint8_t>(c < 4 ? c : 0),
                         length, offset, crc};
  };
  const auto copy = [](std::uint64_t of) {
    return chd::MapEntry{chd::HunkKind::kSelf, 0, 0, of, {}};
  };
  const std::vector<unsigned> all4(16, 4);
  // Kinds coded in 4 bits (16 codes of 4 bits: symbol s is coded s); each
  // field of a hunk after all kinds. Widths: lengths 16 bits, hunk numbers 8.
  std::vector<chd::MapEntry> every = {codec(0, 100, kFirst, 0x1111),
                                      codec(4, kHunk, kFirst + 100, 0x2222), copy(0)};
  every.insert(every.end(), 5, copy(1));
  every.push_back(codec(1, 7, kFirst + 100 + kHunk, 0x3333));
  // The kinds 0, 4, 5, 10, 9, a run (7) of 2 + 0 more, 1; then the fields.
  std::vector<std::pair<std::uint64_t, unsigned>> everyBits = {{0, 4}, {4, 4}, {5, 4}, {10, 4},
                                                               {9, 4}, {7, 4}, {0, 4}, {1, 4}};
  everyBits.insert(everyBits.end(),
                   {{100, 16}, {0x1111, 16}, {0x2222, 16}, {0, 8}, {7, 16}, {0x3333, 16}});
  // A long run: 2 + 16 + 16 x 1 + 2 = 36 hunks more.
  std::vector<chd::MapEntry> run = {codec(2, 50, kFirst, 0xABCD)};
  run.resize(38, codec(2, 50, kFirst, 0xABCD));
  std::vector<std::pair<std::uint64_t, unsigned>> runBits = {{2, 4}, {8, 4}, {1, 4}, {2, 4}};
  for (std::size_t h = 0; h < run.size(); ++h) {
    run[h].offset = kFirst + 50 * h;
    run[h].crc = static_cast<std::uint16_t>(0xABCD + h);
    runBits.push_back({50, 16});
    runBits.push_back({*run[h].crc, 16});
  }
  const std::vector<MapCase> kCases = {
      {"every kind, runs, the escape code", everyBits, every, ""},
      {"every kind, lengths written one by one", everyBits, every, "", all4},
      {"a long run", runBits, run, ""},
      {"a copy of itself",
       {{0, 4}, {5, 4}, {100, 16}, {1, 16}, {1, 8}},
       {codec(0, 100, kFirst, 1), copy(1)},
       "map makes hunk 1 a copy of hunk 1, which does not"},
      {"a copy of a later hunk",
       {{5, 4}, {0, 4}, {1, 8}, {100, 16}, {1, 16}},
       {copy(1), codec(0, 100, kFirst, 1)},
       "map makes hunk 0 a copy of hunk 1"},
      {"a codec not named",
       {{3, 4}, {100, 16}, {1, 16}},
       {codec(3, 100, kFirst, 1)},
       "map gives hunk 0 a codec the header does not name"},
      {"beyond the file",
       {{0, 4}, {0, 4}, {100, 16}, {1, 16}, {28901, 16}, {2, 16}},
       {codec(0, 100, kFirst, 1), codec(0, 28901, kFirst + 100, 2)},
       "hunk 1 lies beyond the end of the file (30000 bytes)"},
      {"to the file's end",
       {{0, 4}, {0, 4}, {100, 16}, {1, 16}, {28900, 16}, {2, 16}},
       {codec(0, 100, kFirst, 1), codec(0, 28900, kFirst + 100, 2)},
       ""},
      {"another CRC",
       {{0, 4}, {100, 16}, {1, 16}},
       {codec(0, 100, kFirst, 1)},
       "map fails its CRC check",
       {},
       1},
      {"an unknown kind", {{14, 4}}, {codec(0, 0, 0, 0)}, "map gives hunk 0 the unknown kind 14"},
      {"a kind coded by no code",
       {{15, 4}},
       {codec(0, 0, 0, 0)},
       "map's kinds hold a code that is not one, at hunk 0",
       {4, 4, 4, 4, 4, 4, 4, 4}},
      {"one code of 2 bits: not whole", {}, {copy(0)}, "map's code is not a whole code", {2}},
      {"codes of 3 bits: too many",
       {},
       {copy(0)},
       "map's code is not a whole code",
       std::vector<unsigned>(16, 3)},
      {"a code of 9 bits", {}, {copy(0)}, "map's code has a code longer than 8 bits", {9}},
  };
  for (const MapCase& test : kCases) {
    SCOPED_TRACE(test.what);
    MapBits bits;
    if (test.lengths.empty()) {
      bits.Put(1, 4).Put(4, 4).Put(13, 4);  // escape: 4, 13 + 3 times
    } else {
      for (std::size_t s = 0; s < 16; ++s) {
        bits.Put(s < test.lengths.size() ? test.lengths[s] : 0, 4);
      }
    }
    for (const auto& [value, width] : test.bits) {
      bits.Put(value, width);
    }
    std::vector<std::uint8_t> decoded;
    for (const chd::MapEntry& entry : test.expected) {  // 12 bytes each (chd.h)
      const std::uint64_t length = entry.length;
      const std::uint64_t offset = entry.offset;
      const std::uint16_t crc = entry.crc.value_or(0);
      decoded.push_back(static_cast<std::uint8_t>(entry.kind));
      for (int i = 2; i >= 0; --i)
        decoded.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
      for (int i = 5; i >= 0; --i)
        decoded.push_back(static_cast<std::uint8_t>(offset >> (8 * i)));
      decoded.push_back(static_cast<std::uint8_t>(crc >> 8));
      decoded.push_back(static_cast<std::uint8_t>(crc));
    }
    const std::uint16_t crc = static_cast<std::uint16_t>(chd::Crc16(decoded) + test.crcChange);
    const std::uint64_t length = bits.bytes().size();
    std::vector<std::uint8_t> map = {static_cast<std::uint8_t>(length >> 24),
                                     static_cast<std::uint8_t>(length >> 16),
                                     static_cast<std::uint8_t>(length >> 8),
                                     static_cast<std::uint8_t>(length),
                                     0,
                                     0,
                                     0,
                                     0,
                                     kFirst >> 8,
                                     kFirst & 0xFF,
                                     static_cast<std::uint8_t>(crc >> 8),
                                     static_cast<std::uint8_t>(crc),
                                     16,
                                     8,
                                     0,
                                     0};
    map.insert(map.end(), bits.bytes().begin(), bits.bytes().end());
    chd::Header header;
    header.codecs = {chd::Tag("cdlz"), chd::Tag("cdzl"), chd::Tag("cdfl"), 0};
    header.hunkBytes = kHunk;
    header.unitBytes = chd::kFrameBytes;
    header.hunkCount = test.expected.size();
    std::vector<chd::MapEntry> entries;
    const auto wrong = chd::ParseCompressedMap(map, header, kFileSize, &entries);
    if (!test.complaint.empty()) {
      ASSERT_TRUE(wrong) << test.complaint;
      EXPECT_NE(wrong->find(test.complaint), std::string::npos) << *wrong;
      continue;
    }
    ASSERT_FALSE(wrong) << *wrong;
    ASSERT_EQ(entries.size(), test.expected.size());
    for (std::size_t h = 0; h < entries.size(); ++h) {
      SCOPED_TRACE(h);
      EXPECT_EQ(entries[h].kind, test.expected[h].kind);
      EXPECT_EQ(entries[h].codec, test.expected[h].codec);
      EXPECT_EQ(entries[h].length, test.expected[h].length);
      EXPECT_EQ(entries[h].offset, test.expected[h].offset);
      EXPECT_EQ(entries[h].crc, test.expected[h].crc);
    }
  }
  // Cut short: the bits' length beyond the bytes; field widths over 32.
  std::vector<std::uint8_t> head(16);
  head[3] = 1;
  chd::Header header;
  header.hunkBytes = kHunk;
  header.unitBytes = chd::kFrameBytes;
  std::vector<chd::MapEntry> entries;
  EXPECT_EQ(chd::ParseCompressedMap(head, header, kFileSize, &entries).value_or(""),
            "map takes 1 bytes, more than the file holds: the file is cut short");
  head[3] = 0;
  head[13] = 33;
  EXPECT_EQ(chd::ParseCompressedMap(head, header, kFileSize, &entries).value_or(""),
            "map's field widths are over 32 bits");
}

// --- A small CHD made here, opened and read as a layout ------------------

// Big-endian `value` in `width` bytes at `at`.
void PutBig(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
  }
}

// The bytes of a CHD whose reads fail or come up short where a test says:
// the `failAt`-th read (counting from 1; 0: none), and any read at `emptyAt`
// (a file cut after it was opened).
class ChdFile final : public ByteSource {
 public:
  explicit ChdFile(std::vector<std::uint8_t> bytes, long failAt = 0,
                   std::uint64_t emptyAt = ~std::uint64_t{0})
      : bytes_(std::move(bytes)), failAt_(failAt), emptyAt_(emptyAt) {}
  std::uint64_t size() const override { return bytes_.size(); }
  const std::string& name() const override { return name_; }
  ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override {
    ByteRead read;
    if (++reads_ == failAt_) {
      read.error = std::make_error_code(std::errc::io_error);
    } else if (offset < bytes_.size() && offset != emptyAt_ && !dest.empty()) {
      read.got = static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), size() - offset));
      std::memcpy(dest.data(), bytes_.data() + offset, read.got);
    }
    return read;
  }
  long* counter() { return &reads_; }

 private:
  std::vector<std::uint8_t> bytes_;
  long failAt_;
  std::uint64_t emptyAt_;
  long reads_ = 0;
  std::string name_ = "small.chd";
};

struct NoNeighbours final : Neighbours {
  std::unique_ptr<ByteSource> Open(std::string_view, std::error_code* error) override {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return nullptr;
  }
  std::optional<std::uint64_t> Size(std::string_view, std::error_code* error) override {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return std::nullopt;
  }
  std::string PathOf(std::string_view name) const override { return std::string(name); }
  std::string GivenName() const override { return "small.chd"; }
};

// Hunks of one frame each, of a pattern of their own.
constexpr std::uint64_t kSmallHunk = chd::kFrameBytes;
std::vector<std::uint8_t> SmallHunk(unsigned hunk) {
  std::vector<std::uint8_t> bytes(kSmallHunk);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(hunk * 31 + i * 7);
  }
  return bytes;
}

// Where the parts of the small CHDs lie.
constexpr std::size_t kMetadataAt = chd::kHeaderBytes;  // its tag, length, next, then its text
constexpr std::size_t kTextAt = kMetadataAt + 16;

// A CHD of a MODE1 track of `frames` sectors without codecs: hunk h of the
// first three at hunk place h + 1 of the file, the fourth of zeros, the map
// of hunk places after them.
std::vector<std::uint8_t> SmallChd(const std::string& text = "TRACK:1 TYPE:MODE1 FRAMES:4") {
  std::vector<std::uint8_t> chd = ChdHeader();
  std::fill(chd.begin() + 16, chd.begin() + 32, 0);  // no codecs
  PutBig(chd, 32, 4 * kSmallHunk, 8);
  PutBig(chd, 40, 4 * kSmallHunk, 8);  // the map
  PutBig(chd, 48, kMetadataAt, 8);
  PutBig(chd, 56, kSmallHunk, 4);
  chd.resize(kTextAt);
  PutBig(chd, kMetadataAt, chd::Tag("CHT2"), 4);
  PutBig(chd, kMetadataAt + 5, text.size(), 3);
  chd.insert(chd.end(), text.begin(), text.end());
  chd.resize(kSmallHunk);
  for (unsigned h = 0; h < 3; ++h) {
    const std::vector<std::uint8_t> hunk = SmallHunk(h);
    chd.insert(chd.end(), hunk.begin(), hunk.end());
  }
  for (const std::uint8_t place : {1, 2, 3, 0}) {
    chd.insert(chd.end(), {0, 0, 0, place});
  }
  return chd;
}

// The same track of five sectors with a compressed map: hunk 0 stored,
// hunk 1 a copy of it, hunk 2 in a parent, hunk 3 larger than two hunks
// compressed, hunk 4 deflate data that are not.
std::vector<std::uint8_t> SmallCompressedChd() {
  std::vector<std::uint8_t> chd = SmallChd("TRACK:1 TYPE:MODE1 FRAMES:5");
  chd.resize(2 * kSmallHunk);  // hunk 0 after the metadata
  PutBig(chd, 16, chd::Tag("zlib"), 4);
  PutBig(chd, 32, 5 * kSmallHunk, 8);
  const std::uint32_t larger = 3 * kSmallHunk + 1;
  const std::uint16_t crc = chd::Crc16(SmallHunk(0));
  chd.resize(chd.size() + kSmallHunk + larger + 100, 0);
  PutBig(chd, 40, chd.size(), 8);
  MapBits bits;
  for (int s = 0; s < 16; ++s) {
    bits.Put(4, 4);  // kinds coded in 4 bits, symbol s as s
  }
  for (const unsigned kind : {4, 5, 6, 0, 0}) {
    bits.Put(kind, 4);
  }
  bits.Put(crc, 16).Put(0, 8).Put(0, 8).Put(larger, 16).Put(1, 16).Put(100, 16).Put(2, 16);
  // The entries the map's CRC covers: kind, length, offset, CRC.
  std::vector<std::uint8_t> raw(5 * 12);
  const std::uint64_t entries[5][4] = {{4, kSmallHunk, 2 * kSmallHunk, crc},
                                       {5, 0, 0, 0},
                                       {6, 0, 0, 0},
                                       {0, larger, 3 * kSmallHunk, 1},
                                       {0, 100, 3 * kSmallHunk + larger, 2}};
  for (std::size_t h = 0; h < 5; ++h) {
    raw[h * 12] = static_cast<std::uint8_t>(entries[h][0]);
    PutBig(raw, h * 12 + 1, entries[h][1], 3);
    PutBig(raw, h * 12 + 4, entries[h][2], 6);
    PutBig(raw, h * 12 + 10, entries[h][3], 2);
  }
  std::vector<std::uint8_t> map(chd::kMapHeaderBytes);
  PutBig(map, 0, bits.bytes().size(), 4);
  PutBig(map, 4, 2 * kSmallHunk, 6);
  PutBig(map, 10, chd::Crc16(raw), 2);
  map[12] = 16;
  map[13] = 8;
  map[14] = 8;
  map.insert(map.end(), bits.bytes().begin(), bits.bytes().end());
  chd.insert(chd.end(), map.begin(), map.end());
  std::copy_n(SmallHunk(0).begin(), kSmallHunk, chd.begin() + 2 * kSmallHunk);
  return chd;
}

std::unique_ptr<SectorTrack> OpenSmallChd(std::unique_ptr<ByteSource> bytes, OpenFailure* failure) {
  NoNeighbours neighbours;
  OpenedTrack opened;
  return kChd.open(std::move(bytes), neighbours, &opened, failure) ? std::move(opened.track)
                                                                   : nullptr;
}

// Reads sector `sector`: its 2048 bytes, or the fault's words.
std::string ReadSmallSector(SectorTrack& track, std::uint64_t sector,
                            std::vector<std::uint8_t>* data = nullptr) {
  std::vector<std::uint8_t> out(2048);
  ReadFault fault;
  if (!track.Read(sector, 1, out.data(), &fault)) {
    return fault.why;
  }
  if (data != nullptr) {
    *data = out;
  }
  return "";
}

TEST(Chd, SmallFilesReadTheirHunks) {
  OpenFailure failure;
  auto track = OpenSmallChd(std::make_unique<ChdFile>(SmallChd()), &failure);
  ASSERT_TRUE(track) << failure.text;
  ASSERT_EQ(track->count(), 4u);
  for (unsigned sector = 0; sector < 4; ++sector) {
    std::vector<std::uint8_t> data;
    EXPECT_EQ(ReadSmallSector(*track, sector, &data), "");
    const std::vector<std::uint8_t> hunk =
        sector < 3 ? SmallHunk(sector) : std::vector<std::uint8_t>(kSmallHunk, 0);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), hunk.begin())) << sector;
  }
  // A track text of the older tag reads as well.
  std::vector<std::uint8_t> older = SmallChd();
  PutBig(older, kMetadataAt, chd::Tag("CHTR"), 4);
  EXPECT_TRUE(OpenSmallChd(std::make_unique<ChdFile>(older), &failure)) << failure.text;

  // With a compressed map: a copy of an earlier hunk reads as it; the
  // others say why they cannot be read.
  track = OpenSmallChd(std::make_unique<ChdFile>(SmallCompressedChd()), &failure);
  ASSERT_TRUE(track) << failure.text;
  std::vector<std::uint8_t> data;
  EXPECT_EQ(ReadSmallSector(*track, 1, &data), "");
  EXPECT_TRUE(std::equal(data.begin(), data.end(), SmallHunk(0).begin()));
  EXPECT_EQ(ReadSmallSector(*track, 2),
            "\"small.chd\": hunk 2 (sector 2) is in the parent CHD, which is not read");
  EXPECT_EQ(ReadSmallSector(*track, 3),
            "\"small.chd\": hunk 3 (sector 3) is larger compressed than a hunk is whole");
  EXPECT_EQ(ReadSmallSector(*track, 4),
            "\"small.chd\": hunk 4 (sector 4) its deflate data are damaged");
}

TEST(Chd, SmallFilesThatCannotBeOpenedSayWhy) {
  const std::uint64_t size = SmallChd().size();
  const std::uint64_t mapAt = 4 * kSmallHunk;
  const struct {
    const char* what;
    std::vector<std::tuple<std::size_t, std::uint64_t, int>> changes;  // at, value, width
    std::string complaint;
  } kCases[] = {
      {"metadata beyond the file",
       {{kMetadataAt + 8, 1 << 20, 8}},
       "its metadata entry at byte 1048576 lies beyond the end of the file: the file is cut "
       "short"},
      {"metadata cut short",
       {{48, size - 10, 8}},
       "its metadata entry at byte " + std::to_string(size - 10) + " lies beyond the end"},
      {"metadata in a loop",
       {{kMetadataAt + 8, kMetadataAt, 8}},
       "more than 1024 entries, or loops"},
      {"a long track text",
       {{kMetadataAt + 5, 1025, 3}},
       "its track metadata at byte 124 is longer than 1024 bytes"},
      {"no track text", {{kMetadataAt, chd::Tag("GDDD"), 4}}, "its metadata describes no track"},
      {"track 0", {{kTextAt + 6, '0', 1}}, "its track text has TRACK 0, which is no number"},
      {"more frames than data",
       {{kTextAt + 26, '5', 1}},
       "its data track ends beyond its data (4 frames)"},
      {"a codec not read",
       {{16, chd::Tag("avhu"), 4}},
       "its hunks are compressed with avhu, which this build does not read: chdman copy"},
      {"its map cut short", {{40, size - 8, 8}}, "its map is cut short: the file is cut short"},
      {"a hunk beyond the file",
       {{mapAt, 100, 4}},
       "its hunk 0 lies beyond the end of the file (" + std::to_string(size) + " bytes)"},
      {"a compressed map of 4 GiB",
       {{16, chd::Tag("zlib"), 4}, {mapAt, 0xFFFFFFFF, 4}},
       "its map takes 4294967295 bytes, more than 64 MiB"},
      {"a compressed map's header cut short",
       {{16, chd::Tag("zlib"), 4}, {40, size - 4, 8}},
       "its map is cut short"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    std::vector<std::uint8_t> chd = SmallChd();
    for (const auto& [at, value, width] : test.changes) {
      PutBig(chd, at, value, width);
    }
    OpenFailure failure;
    EXPECT_FALSE(OpenSmallChd(std::make_unique<ChdFile>(chd), &failure));
    EXPECT_NE(failure.text.find(test.complaint), std::string::npos) << failure.text;
    EXPECT_TRUE(failure.error);
  }
}

// A read of the file that fails is said as that failure: each read of the
// open in turn, then that of a hunk; a hunk whose read comes up short (the
// file cut after it was opened) says so.
TEST(Chd, SmallFilesWhoseReadsFailSayWhy) {
  const std::error_code ioError = std::make_error_code(std::errc::io_error);
  for (const auto& chd : {SmallChd(), SmallCompressedChd()}) {
    auto counted = std::make_unique<ChdFile>(chd);
    long* counter = counted->counter();
    OpenFailure failure;
    // The track owns the file, and with it the count: read while it lives.
    const auto opened = OpenSmallChd(std::move(counted), &failure);
    ASSERT_TRUE(opened) << failure.text;
    const long reads = *counter;
    ASSERT_GT(reads, 3);
    for (long n = 1; n <= reads; ++n) {
      SCOPED_TRACE(::testing::Message() << "read " << n << " of " << reads);
      EXPECT_FALSE(OpenSmallChd(std::make_unique<ChdFile>(chd, n), &failure));
      EXPECT_EQ(failure.error, ioError);
      EXPECT_NE(failure.text.find(ioError.message()), std::string::npos) << failure.text;
    }
    auto track = OpenSmallChd(std::make_unique<ChdFile>(chd, reads + 1), &failure);
    ASSERT_TRUE(track) << failure.text;
    EXPECT_EQ(ReadSmallSector(*track, 0),
              "\"small.chd\": hunk 0 (sector 0) cannot be read: " + ioError.message());
  }
  OpenFailure failure;
  EXPECT_FALSE(OpenSmallChd(std::make_unique<ChdFile>(SmallChd(), 0, kTextAt), &failure));
  EXPECT_EQ(failure.text, "it is cut short: it ends at byte " + std::to_string(SmallChd().size()));
  auto track = OpenSmallChd(std::make_unique<ChdFile>(SmallChd(), 0, 2 * kSmallHunk), &failure);
  ASSERT_TRUE(track) << failure.text;
  EXPECT_EQ(ReadSmallSector(*track, 1),
            "\"small.chd\": hunk 1 (sector 1) lies beyond the end of the file: the file is cut "
            "short");
}

#ifndef _WIN32
// Memory that runs out while a CHD is opened or a hunk read is a refusal
// or a fault that says so, never other bytes: each allocation in turn
// fails (one outside the reader's own is thrown on, to the caller).
TEST(Chd, SmallFilesOutOfMemorySayWhy) {
  namespace allocations = testing_support::allocations;
  const std::vector<std::uint8_t> chd = SmallCompressedChd();
  allocations::Count();
  OpenFailure clean;
  EXPECT_TRUE(OpenSmallChd(std::make_unique<ChdFile>(chd), &clean)) << clean.text;
  if (allocations::Stop() == 0) {
    GTEST_SKIP() << allocations::kNotOurOperatorNew;
  }
  std::set<std::string> said;
  const auto each = [&](const auto& step) {
    allocations::Count();
    step();
    const long count = allocations::Stop();
    for (long n = 1; n <= count; ++n) {
      allocations::Count(n);
      try {
        step();
      } catch (const std::bad_alloc&) {
        said.insert("thrown");
      }
      allocations::Stop();
    }
  };
  each([&] {
    OpenFailure failure;
    if (!OpenSmallChd(std::make_unique<ChdFile>(chd), &failure)) {
      EXPECT_EQ(failure.error, std::make_error_code(std::errc::not_enough_memory));
      said.insert(failure.text);
    }
  });
  // A hunk read: the track opened first, its allocations not counted.
  std::set<std::string> faults;
  for (long n = 1;; ++n) {
    OpenFailure failure;
    auto track = OpenSmallChd(std::make_unique<ChdFile>(chd), &failure);
    ASSERT_TRUE(track) << failure.text;
    std::vector<std::uint8_t> out(2048);
    ReadFault fault;
    allocations::Count(n);
    bool read = false;
    try {
      read = track->Read(4, 1, out.data(), &fault);
    } catch (const std::bad_alloc&) {
      fault.why = "thrown";
    }
    const long counted = allocations::Stop();
    EXPECT_FALSE(read);
    faults.insert(fault.why);
    if (counted < n) {
      break;  // no allocation failed: the read's own fault
    }
  }
  // Out of memory for the hunk, for decompressing it, or the damage that
  // its data hold; else thrown on.
  const std::string hunk = "\"small.chd\": hunk 4 (sector 4) ";
  EXPECT_EQ(faults, (std::set<std::string>{hunk + "cannot be held: out of memory",
                                           hunk + "cannot be decompressed: out of memory",
                                           hunk + "its deflate data are damaged", "thrown"}));
  EXPECT_TRUE(said.count("out of memory")) << ::testing::PrintToString(said);
  EXPECT_TRUE(said.count("its map cannot be held: out of memory"))
      << ::testing::PrintToString(said);
}
#endif

#if TVRCGCV_CHD_ENCODERS
// Hunks compressed here with the libraries' own encoders, as the codecs
// describe them, decompress to their bytes; damaged, they say so. (A build
// whose libraries are decoders only, the Windows program's, has no
// encoders to make them.)
std::vector<std::uint8_t> Deflated(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out(compressBound(static_cast<uLong>(bytes.size())) + 64);
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::vector<std::uint8_t> Lzma(std::span<const std::uint8_t> bytes) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  options.dict_size = 1 << 16;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<std::uint8_t> out(bytes.size() + 1024);
  std::size_t written = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, bytes.data(), bytes.size(), out.data(),
                                   &written, out.size()),
            LZMA_OK);
  out.resize(written);
  return out;
}

// FLAC frames of big-endian 16-bit stereo samples, in blocks of `block`
// samples, without the stream's header (a CD codec's FLAC data are frames
// alone).
std::vector<std::uint8_t> FlacFrames(std::span<const std::uint8_t> bytes, unsigned block) {
  std::vector<std::uint8_t> out;
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  EXPECT_TRUE(FLAC__stream_encoder_set_channels(encoder, 2) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder, 16) &&
              FLAC__stream_encoder_set_sample_rate(encoder, 44100) &&
              FLAC__stream_encoder_set_blocksize(encoder, block));
  const auto write = [](const FLAC__StreamEncoder*, const FLAC__byte buffer[], std::size_t bytes,
                        uint32_t samples, uint32_t, void* data) {
    if (samples > 0) {  // a frame, not the header or metadata
      static_cast<std::vector<std::uint8_t>*>(data)->insert(
          static_cast<std::vector<std::uint8_t>*>(data)->end(), buffer, buffer + bytes);
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  };
  EXPECT_EQ(FLAC__stream_encoder_init_stream(encoder, write, nullptr, nullptr, nullptr, &out),
            FLAC__STREAM_ENCODER_INIT_STATUS_OK);
  std::vector<FLAC__int32> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  }
  EXPECT_TRUE(FLAC__stream_encoder_process_interleaved(encoder, samples.data(),
                                                       static_cast<uint32_t>(samples.size() / 2)));
  EXPECT_TRUE(FLAC__stream_encoder_finish(encoder));
  FLAC__stream_encoder_delete(encoder);
  return out;
}

TEST(Chd, CodecsGiveTheirHunksBack) {
  // Two frames: sector data of a pattern, subcode of another.
  std::vector<std::uint8_t> hunk(2 * chd::kFrameBytes);
  std::vector<std::uint8_t> sectors(2 * kRawBytes);
  std::vector<std::uint8_t> subcode(2 * 96);
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    sectors[i] = static_cast<std::uint8_t>(i * 7 + i / 300);
  }
  for (std::size_t i = 0; i < subcode.size(); ++i) {
    subcode[i] = static_cast<std::uint8_t>(i);
  }
  for (std::size_t f = 0; f < 2; ++f) {
    std::copy_n(&sectors[f * kRawBytes], kRawBytes, &hunk[f * chd::kFrameBytes]);
    std::copy_n(&subcode[f * 96], 96, &hunk[f * chd::kFrameBytes + kRawBytes]);
  }
  // A CD codec's hunk: no frame to rewrite, the sector data's length, the
  // sector data, the subcode.
  const auto cd = [&](const std::vector<std::uint8_t>& data, const std::vector<std::uint8_t>& sub) {
    std::vector<std::uint8_t> in = {0, static_cast<std::uint8_t>(data.size() >> 8),
                                    static_cast<std::uint8_t>(data.size())};
    in.insert(in.end(), data.begin(), data.end());
    in.insert(in.end(), sub.begin(), sub.end());
    return in;
  };
  struct Case {
    const char* tag;
    std::vector<std::uint8_t> in;
  };
  std::vector<Case> cases = {
      {"zlib", Deflated(hunk)},
      {"lzma", Lzma(hunk)},
      {"cdzl", cd(Deflated(sectors), Deflated(subcode))},
      {"cdlz", cd(Lzma(sectors), Deflated(subcode))},
  };
  // FLAC frames of the hunk's samples (blocks as the reader expects them:
  // a quarter of the sector data's bytes), then the deflated subcode.
  std::vector<std::uint8_t> flac = FlacFrames(sectors, 2 * kRawBytes / 4);
  const std::vector<std::uint8_t> flacSubcode = Deflated(subcode);
  flac.insert(flac.end(), flacSubcode.begin(), flacSubcode.end());
  cases.push_back({"cdfl", flac});
#if HAVE_ZSTD_HEADER
  const auto zstd = [](std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out(ZSTD_compressBound(bytes.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), bytes.data(), bytes.size(), 3));
    return out;
  };
  if (chd::CodecRead(chd::Tag("zstd"))) {
    cases.push_back({"zstd", zstd(hunk)});
    cases.push_back({"cdzs", cd(zstd(sectors), zstd(subcode))});
  }
#endif
  for (const Case& test : cases) {
    SCOPED_TRACE(test.tag);
    const std::uint32_t tag = chd::Tag({test.tag[0], test.tag[1], test.tag[2], test.tag[3], 0});
    ASSERT_TRUE(chd::CodecRead(tag));
    chd::CodecScratch scratch;
    std::vector<std::uint8_t> out(hunk.size());
    const auto wrong = chd::Decompress(tag, test.in, out, &scratch);
    ASSERT_FALSE(wrong) << *wrong;
    EXPECT_EQ(out, hunk);
    // Cut short, or the length of the sector data beyond the hunk.
    std::vector<std::uint8_t> cut(test.in.begin(), test.in.begin() + test.in.size() / 2);
    EXPECT_TRUE(chd::Decompress(tag, cut, out, &scratch));
    // Without its last bytes (of a CD codec: the subcode's): damaged, or
    // the hunk still (LZMA's decoder may not need its data's last bytes);
    // without all but its first.
    EXPECT_TRUE(chd::Decompress(tag, std::span(test.in).first(test.in.size() - 4), out, &scratch) ||
                out == hunk);
    EXPECT_TRUE(chd::Decompress(tag, std::span(test.in).first(2), out, &scratch));
    std::vector<std::uint8_t> longer = test.in;
    longer[1] = 0xFF;
    EXPECT_TRUE(chd::Decompress(tag, longer, out, &scratch) || out != hunk);
  }
  chd::CodecScratch scratch;
  std::vector<std::uint8_t> out(hunk.size());
  const auto unknown = chd::Decompress(chd::Tag("avhu"), hunk, out, &scratch);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(*unknown, "is compressed with avhu, which this build does not read");
  EXPECT_TRUE(chd::Decompress(chd::Tag("cdfl"), hunk, out, &scratch));  // no FLAC frames
}
#endif

TEST(Chd, CrcAndTags) {
  const std::string text = "123456789";
  EXPECT_EQ(chd::Crc16({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}),
            0x29B1);  // the check value of CRC-16/IBM-3740
  // Three times over: steps of eight bytes from a register that is no
  // longer 0xFFFF (the value as Python's binascii.crc_hqx gives it).
  const std::string thrice = text + text + text;
  EXPECT_EQ(chd::Crc16({reinterpret_cast<const std::uint8_t*>(thrice.data()), thrice.size()}),
            0xDBAE);
  EXPECT_EQ(chd::TagName(chd::Tag("cdfl")), "cdfl");
  EXPECT_EQ(chd::TagName(0x01020304), "0x01020304");
}
#endif

}  // namespace
