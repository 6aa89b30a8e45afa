// The cue sheet reader (cue_sheet.h).
#include "cue_sheet.h"

#include <algorithm>
#include <array>
#include <new>

#include "cue_words.h"
#include "messages.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

constexpr std::array<const char*, 5> kModeNames = {"AUDIO", "MODE1/2048", "MODE1/2352",
                                                   "MODE2/2336", "MODE2/2352"};
constexpr std::array<std::uint32_t, 5> kModeBytes = {2352, 2048, 2352, 2336, 2352};
constexpr std::array<const char*, 5> kFileTypes = {"BINARY", "MOTOROLA", "WAVE", "MP3", "AIFF"};
constexpr std::array<const char*, 4> kFlags = {"DCP", "4CH", "PRE", "SCMS"};
constexpr std::array<const char*, 12> kKeywords = {
    "REM",   "FILE", "TRACK",   "INDEX",      "PREGAP", "POSTGAP",
    "FLAGS", "ISRC", "CATALOG", "CDTEXTFILE", "TITLE",  "PERFORMER"};  // and SONGWRITER
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Whether the text is UTF-16: a byte order mark of it, or a zero byte in
// either of its first two bytes (no sheet's text begins with one).
bool Utf16(std::string_view text) {
  return text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
         (text.size() >= 2 && (text[0] == '\0') != (text[1] == '\0'));
}

// The ASCII characters of UTF-16 text (the others as '?'), without its
// byte order mark: enough to see whether it starts as a sheet.
std::string NarrowUtf16(std::string_view text) {
  const bool bigEndian =
      text.starts_with("\xFE\xFF") || (!text.starts_with("\xFF\xFE") && text[0] == '\0');
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    text.remove_prefix(2);
  }
  std::string narrow;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const char high = bigEndian ? text[i] : text[i + 1];
    const char low = bigEndian ? text[i + 1] : text[i];
    narrow += high == '\0' && static_cast<unsigned char>(low) < 0x80 ? low : '?';
  }
  return narrow;
}

// Why a text in this encoding, or with these line ends, is not read as a
// sheet; null if it is not one of those.
const char* UnreadableEncoding(std::string_view text) {
  if (Utf16(text)) {
    return "the sheet is UTF-16 text: save it as UTF-8 (or ASCII) to read it";
  }
  const std::size_t cr = text.find('\r');
  if (text.find('\n') == std::string_view::npos && cr != std::string_view::npos &&
      cr + 1 < text.size()) {
    return "the sheet's lines end in CR alone: save it with LF or CR LF line ends to read it";
  }
  return nullptr;
}

bool AllOf(std::string_view text, bool (*test)(char)) {
  return std::all_of(text.begin(), text.end(), test);
}

// Reads the sheet line by line, keeping what a track has had so far.
class Reader {
 public:
  explicit Reader(CueSheet* sheet) : sheet_(sheet) {}

  // Takes one line's words; an error text if they are not understood.
  std::string Take(const std::vector<Word>& words, unsigned line) {
    line_ = line;
    const std::string_view keyword = words[0].text;
    const std::size_t arguments = words.size() - 1;
    if (words[0].quoted) {
      return "a line begins with a quoted text instead of a keyword";
    }
    if (platform::EqualIgnoringAsciiCase(keyword, "REM")) {
      return "";
    }
    if (Is(keyword, "FILE")) {
      return arguments != 2 ? Usage("FILE <name> BINARY") : File(words[1], words[2]);
    }
    if (Is(keyword, "TRACK")) {
      return arguments != 2 ? Usage("TRACK <number> <mode>") : Track(words[1], words[2]);
    }
    if (Is(keyword, "INDEX")) {
      return arguments != 2 ? Usage("INDEX <number> <mm:ss:ff>") : Index(words[1], words[2]);
    }
    if (Is(keyword, "PREGAP") || Is(keyword, "POSTGAP")) {
      return arguments != 1 ? Usage(std::string(keyword) + " <mm:ss:ff>") : Gap(words[1]);
    }
    if (Is(keyword, "FLAGS")) {
      return arguments == 0 ? Usage("FLAGS <flag>...") : Flags(words);
    }
    if (Is(keyword, "ISRC")) {
      return arguments != 1 ? Usage("ISRC <code>") : Isrc(words[1]);
    }
    if (Is(keyword, "CATALOG") || Is(keyword, "CDTEXTFILE")) {
      return arguments != 1 ? Usage(std::string(keyword) + " <value>") : DiscValue(words[1]);
    }
    if (Is(keyword, "TITLE") || Is(keyword, "PERFORMER") || Is(keyword, "SONGWRITER")) {
      return arguments != 1 ? Usage(std::string(keyword) + " \"<text>\"") : "";
    }
    return "unknown keyword " + Quoted(keyword);
  }

  // What is wrong with the sheet once every line has been read.
  CueError Finish() const {
    if (sheet_->tracks.empty()) {
      return {0, "no TRACK in the sheet"};
    }
    for (const std::string& open : {UnfinishedTrack(), UnusedFile()}) {
      if (!open.empty()) {
        return {0, open};
      }
    }
    return {};
  }

 private:
  struct TrackState {
    bool pregap = false;
    bool postgap = false;
    bool flags = false;
    bool isrc = false;
  };

  bool Is(std::string_view keyword, const char* name) {
    if (!platform::EqualIgnoringAsciiCase(keyword, name)) {
      return false;
    }
    keyword_ = name;
    return true;
  }
  static std::string Usage(const std::string& form) { return "expected " + form; }

  CueTrack* Current() { return sheet_->tracks.empty() ? nullptr : &sheet_->tracks.back(); }

  // The last track, if it ended without INDEX 01 before another began.
  std::string UnfinishedTrack() const {
    if (sheet_->tracks.empty()) {
      return "";
    }
    const CueTrack& track = sheet_->tracks.back();
    const bool indexed = std::any_of(track.indexes.begin(), track.indexes.end(),
                                     [](const CueIndex& index) { return index.number == 1; });
    return indexed ? ""
                   : "TRACK " + std::to_string(track.number) + " (line " +
                         std::to_string(track.line) + ") has no INDEX 01";
  }
  // The last file, if no index was given in it before another began.
  std::string UnusedFile() const {
    return sheet_->files.empty() || fileHasIndex_
               ? ""
               : "FILE on line " + std::to_string(sheet_->files.back().line) + " holds no INDEX";
  }

  std::string File(const Word& name, const Word& type) {
    // A track's pregap may end one file and its data begin the next, so
    // only the file before must have had an index.
    if (std::string unused = UnusedFile(); !unused.empty()) {
      return unused;
    }
    const auto kind = Lookup(type.text, kFileTypes);
    if (name.text.empty()) {
      return "FILE with an empty name";
    }
    if (!kind || type.quoted) {
      return "unknown file type " + Quoted(type.text) + " (BINARY, MOTOROLA, WAVE, " +
             "MP3 or AIFF)";
    }
    sheet_->files.push_back({std::string(name.text), static_cast<FileType>(*kind), line_});
    fileHasIndex_ = false;
    lastFrame_ = 0;
    return "";
  }

  std::string Track(const Word& number, const Word& mode) {
    if (sheet_->files.empty()) {
      return "TRACK before any FILE";
    }
    if (std::string unfinished = UnfinishedTrack(); !unfinished.empty()) {
      return unfinished;
    }
    const auto value = Number(number.text, 2);
    if (!value || *value == 0) {
      return "bad track number " + Quoted(number.text) + " (1 to 99)";
    }
    if (!sheet_->tracks.empty() && *value != sheet_->tracks.back().number + 1) {
      return "TRACK " + std::to_string(*value) + " after TRACK " +
             std::to_string(sheet_->tracks.back().number) + " (tracks count up by one)";
    }
    const auto kind = Lookup(mode.text, kModeNames);
    if (!kind || mode.quoted) {
      return "unknown track mode \"" + std::string(mode.text) +
             "\" (AUDIO, MODE1/2048, MODE1/2352, MODE2/2336 or MODE2/2352)";
    }
    sheet_->tracks.push_back({*value, static_cast<TrackMode>(*kind), line_, {}});
    state_ = {};
    return "";
  }

  std::string Index(const Word& number, const Word& position) {
    CueTrack* track = Current();
    if (track == nullptr) {
      return "INDEX before any TRACK";
    }
    const auto value = Number(number.text, 2);
    const auto frame = Frames(position.text);
    if (!value) {
      return "bad index number " + Quoted(number.text) + " (0 to 99)";
    }
    if (!frame) {
      return "bad position " + Quoted(position.text) + " (mm:ss:ff)";
    }
    if (track->indexes.empty() ? *value > 1 : *value <= track->indexes.back().number) {
      return "INDEX " + std::to_string(*value) + " out of order (a track's indexes start at " +
             "00 or 01 and count up)";
    }
    if (fileHasIndex_ && *frame < lastFrame_) {
      return "INDEX position " + Shown(position.text) + " goes back within the file";
    }
    if (state_.postgap) {
      return "INDEX after POSTGAP";
    }
    track->indexes.push_back({*value, *frame, sheet_->files.size() - 1, line_});
    fileHasIndex_ = true;
    lastFrame_ = *frame;
    return "";
  }

  std::string Gap(const Word& length) {
    CueTrack* track = Current();
    const bool pre = keyword_ == std::string_view("PREGAP");
    if (track == nullptr) {
      return std::string(keyword_) + " before any TRACK";
    }
    const auto frames = Frames(length.text);
    if (!frames) {
      return "bad length " + Quoted(length.text) + " (mm:ss:ff)";
    }
    bool& seen = pre ? state_.pregap : state_.postgap;
    if (seen) {
      return std::string(keyword_) + " given twice for one track";
    }
    const bool indexed = !track->indexes.empty();
    if (pre ? indexed : !indexed) {
      return pre ? "PREGAP after an INDEX" : "POSTGAP before any INDEX";
    }
    seen = true;
    (pre ? track->pregap : track->postgap) = *frames;
    return "";
  }

  std::string Flags(const std::vector<Word>& words) {
    if (Current() == nullptr) {
      return "FLAGS before any TRACK";
    }
    if (state_.flags) {
      return "FLAGS given twice for one track";
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (words[i].quoted || !Lookup(words[i].text, kFlags)) {
        return "unknown flag " + Quoted(words[i].text) + " (DCP, 4CH, PRE or SCMS)";
      }
    }
    state_.flags = true;
    return "";
  }

  std::string Isrc(const Word& code) {
    if (Current() == nullptr) {
      return "ISRC before any TRACK";
    }
    if (state_.isrc) {
      return "ISRC given twice for one track";
    }
    const bool alphanumeric = AllOf(code.text, [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
    if (code.text.size() != 12 || !alphanumeric) {
      return "bad ISRC " + Quoted(code.text) + " (12 letters or digits)";
    }
    state_.isrc = true;
    return "";
  }

  std::string DiscValue(const Word& value) {
    if (!sheet_->tracks.empty()) {
      return std::string(keyword_) + " after the first TRACK";
    }
    const bool catalog = keyword_ == std::string_view("CATALOG");
    bool& seen = catalog ? catalog_ : textFile_;
    if (seen) {
      return std::string(keyword_) + " given twice";
    }
    if (catalog && (value.text.size() != 13 ||
                    !AllOf(value.text, [](char c) { return c >= '0' && c <= '9'; }))) {
      return "bad CATALOG " + Quoted(value.text) + " (13 digits)";
    }
    if (!catalog && value.text.empty()) {
      return "CDTEXTFILE with an empty name";
    }
    seen = true;  // the CD-TEXT file itself is never opened
    return "";
  }

  CueSheet* sheet_;
  unsigned line_ = 0;
  const char* keyword_ = "";
  TrackState state_;
  bool fileHasIndex_ = false;
  std::uint32_t lastFrame_ = 0;
  bool catalog_ = false;
  bool textFile_ = false;
};

}  // namespace

std::uint32_t BytesPerSector(TrackMode mode) {
  return kModeBytes[static_cast<std::size_t>(mode)];
}

const char* ModeName(TrackMode mode) {
  return kModeNames[static_cast<std::size_t>(mode)];
}

const CueIndex& CueTrack::Index1() const {
  return *std::find_if(indexes.begin(), indexes.end(),
                       [](const CueIndex& index) { return index.number == 1; });
}

std::optional<CueError> ParseCueSheet(std::string_view text, CueSheet* sheet) {
  try {
    *sheet = {};
    if (text.starts_with(kByteOrderMark)) {
      text.remove_prefix(kByteOrderMark.size());
    }
    if (const char* encoding = UnreadableEncoding(text)) {
      return CueError{0, encoding};
    }
    Reader reader(sheet);
    std::vector<Word> words;
    unsigned line = 0;
    while (!text.empty()) {
      ++line;
      const std::size_t end = std::min(text.size(), text.find('\n'));
      std::string_view content = text.substr(0, end);
      text.remove_prefix(std::min(text.size(), end + 1));
      if (content.ends_with('\r')) {
        content.remove_suffix(1);
      }
      words.clear();
      std::string what;
      if (!SplitLine(content, &words, &what) ||
          (!words.empty() && !(what = reader.Take(words, line)).empty())) {
        return CueError{line, what};
      }
    }
    if (CueError error = reader.Finish(); !error.what.empty()) {
      return error;
    }
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return CueError{0, "out of memory", true};
  }
}

bool LooksLikeCueSheet(std::string_view head) {
  if (head.starts_with(kByteOrderMark)) {
    head.remove_prefix(kByteOrderMark.size());
  }
  std::string narrow;
  if (Utf16(head)) {
    narrow = NarrowUtf16(head.substr(0, 1024));  // enough for the first word
    head = narrow;
  }
  const std::size_t start = head.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) {
    return false;
  }
  head.remove_prefix(start);
  const std::string_view word = head.substr(0, head.find_first_of(" \t\r\n"));
  return Lookup(word, kKeywords) || platform::EqualIgnoringAsciiCase(word, "SONGWRITER");
}

}  // namespace cgvw::disc
