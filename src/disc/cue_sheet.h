// Cue sheets: the text that describes a raw dump of a CD, one file per
// track or one file for all. The reader is strict: a line that it does not
// understand is an error naming that line, never a guess.
//
// The commands understood, keywords in any case, one a line, the words of a
// line separated by spaces or tabs, lines ending in LF or CR LF (a UTF-8
// byte order mark may start the sheet):
//
//   FILE <name> BINARY|MOTOROLA|WAVE|MP3|AIFF   the file the next tracks are in
//   TRACK <nn> AUDIO|MODE1/2048|MODE1/2352|MODE2/2336|MODE2/2352
//   INDEX <nn> <mm:ss:ff>      a position in the track's file, in frames of
//                              1/75 s (one sector each); INDEX 01 is where
//                              the track's data begins, INDEX 00 its pregap
//   PREGAP <mm:ss:ff>, POSTGAP <mm:ss:ff>   silence that is not in the file
//   FLAGS DCP|4CH|PRE|SCMS..., ISRC <12 letters or digits>   of a track
//   CATALOG <13 digits>, CDTEXTFILE <name>   of the disc (the CD-TEXT file
//                              is never opened: nothing in it is needed)
//   TITLE, PERFORMER, SONGWRITER <text>      of the disc or a track
//   REM <anything>             a remark
//
// A name or text is one word, or any characters between double quotes
// (which cannot hold a double quote themselves). Track numbers count up by
// one; a track's index numbers go up, start at 00 or 01 and include 01;
// positions within a file never go back; every FILE holds an index. A sheet
// in UTF-16, or whose lines end in CR alone, is named as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cgvw::disc {

enum class TrackMode : std::uint8_t { kAudio, kMode1_2048, kMode1_2352, kMode2_2336, kMode2_2352 };
// Bytes a sector of the mode takes in the file (2352 for audio).
std::uint32_t BytesPerSector(TrackMode mode);
// The mode as a sheet writes it ("MODE1/2352").
const char* ModeName(TrackMode mode);

enum class FileType : std::uint8_t { kBinary, kMotorola, kWave, kMp3, kAiff };

struct CueFile {
  std::string name;  // as the sheet writes it
  FileType type;
  unsigned line;
};

struct CueIndex {
  unsigned number;
  std::uint32_t frame;  // from the start of its file
  std::size_t file;     // in CueSheet::files: the FILE above it
  unsigned line;
};

// A track's indexes refer to the FILE above them, so a pregap (INDEX 00)
// may end one file and the track's data (INDEX 01) begin the next.
struct CueTrack {
  unsigned number;
  TrackMode mode;
  unsigned line;
  std::vector<CueIndex> indexes;   // in order, INDEX 01 among them
  std::uint32_t pregap = 0;        // frames of PREGAP, not in the file
  std::uint32_t postgap = 0;       // frames of POSTGAP
  const CueIndex& Index1() const;  // where the track's data begins
};

struct CueSheet {
  std::vector<CueFile> files;
  std::vector<CueTrack> tracks;  // at least one
};

// What was not understood, and on which line (counted from 1; 0 for what
// concerns the sheet as a whole).
struct CueError {
  unsigned line = 0;
  std::string what;
  bool outOfMemory = false;  // the sheet was not refused: memory ran out
};

// Reads a sheet. Fills `sheet` and returns nullopt, or returns the first
// error. Any bytes at all may be given.
std::optional<CueError> ParseCueSheet(std::string_view text, CueSheet* sheet);

// Whether the bytes begin as a cue sheet does: after a byte order mark and
// blank lines, a keyword of the list above (in UTF-8, ASCII or UTF-16, so
// that a sheet in UTF-16 is told as one and named so). Tells a sheet from a
// disc image or anything else without the file's name.
bool LooksLikeCueSheet(std::string_view head);

}  // namespace cgvw::disc
