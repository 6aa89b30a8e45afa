// CloneCD descriptors (dumps.h). The text is made of sections, each a
// bracketed name on a line of its own followed by `key=value` lines:
//
//   [CloneCD]    Version (1 to 3)
//   [Disc]       TocEntries (the number of [Entry] sections), Sessions,
//                DataTracksScrambled (0: the image holds sectors as read),
//                CDTextLength, CATALOG
//   [CDText]     Entries, "Entry n" (the CD-TEXT packs, not needed)
//   [Session n]  PreGapMode, PreGapSubC
//   [Entry n]    one entry of the disc's table of contents, numbered from 0:
//                Session, Point (a track number 1-99, or 0xA0 first track,
//                0xA1 last track, 0xA2 lead-out, 0xB0 and 0xC0 of multi-
//                session discs), ADR, Control (bit 2 set: a data track),
//                TrackNo, AMin, ASec, AFrame, ALBA, Zero, PMin, PSec,
//                PFrame and PLBA (where the point begins: a track's first
//                sector, PLBA = (PMin x 60 + PSec) x 75 + PFrame - 150)
//   [TRACK n]    MODE (0 audio, 1, 2), "INDEX n" (a sector), ISRC, FLAGS
//
// Numbers are decimal (a sign allowed) or hexadecimal after "0x". The
// image holds every sector of the disc from sector 0 on, 2352 bytes each,
// so a track's sectors begin at its PLBA x 2352.
#include <algorithm>
#include <charconv>
#include <map>
#include <vector>

#include "dumps.h"
#include "messages.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

struct Field {
  std::int64_t value = 0;
  unsigned line = 0;
};

// One section: its kind, its number (for "Entry 3", "TRACK 1", ...), its
// line and its fields by key as written in lower case.
struct Section {
  std::string kind;  // lower case: "clonecd", "disc", "entry", ...
  long number = -1;
  unsigned line = 0;
  std::map<std::string, Field> fields;
  std::string written;  // its name as the line has it: "TRACK 1"
};

// The keys each kind of section may hold; "index" stands for "INDEX n".
struct Kind {
  const char* name;
  bool numbered;
  std::vector<std::string_view> keys;
  std::vector<std::string_view> texts;  // keys whose values are text, not numbers
};
const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"clonecd", false, {"version"}, {}},
      {"disc",
       false,
       {"tocentries", "sessions", "datatracksscrambled", "cdtextlength", "catalog"},
       {"catalog"}},
      {"cdtext", false, {"entries", "entry"}, {"entry"}},
      {"session", true, {"pregapmode", "pregapsubc"}, {}},
      {"entry",
       true,
       {"session", "point", "adr", "control", "trackno", "amin", "asec", "aframe", "alba", "zero",
        "pmin", "psec", "pframe", "plba"},
       {}},
      {"track", true, {"mode", "index", "isrc", "flags"}, {"isrc", "flags"}},
  };
  return kinds;
}

DumpError Wrong(unsigned line, std::string what) {
  return {line, std::move(what)};
}

// A `key=value` line of the section `kind` (null before the first).
std::optional<DumpError> ReadField(std::string_view line, unsigned number, const Kind* kind,
                                   std::vector<Section>* sections) {
  const std::size_t equals = line.find('=');
  if (kind == nullptr || equals == std::string_view::npos) {
    return Wrong(number, "not a section name nor a key=value line: " + Quoted(line));
  }
  const std::string key = Lower(Trim(line.substr(0, equals)));
  const std::string_view value = Trim(line.substr(equals + 1));
  const std::string base = key.substr(0, key.find(' '));
  const bool numberedKey =
      base == "index" || (base == "entry" && kind->name == std::string("cdtext"));
  if (numberedKey != (base != key) ||
      std::find(kind->keys.begin(), kind->keys.end(), base) == kind->keys.end()) {
    return Wrong(number, "unknown key " + Quoted(line.substr(0, equals)) + " in [" +
                             std::string(kind->name) + "]");
  }
  Field field{0, number};
  if (std::find(kind->texts.begin(), kind->texts.end(), base) == kind->texts.end()) {
    const std::optional<std::int64_t> n = Number(value);
    if (!n) {
      return Wrong(number, "the value of " + Quoted(line.substr(0, equals)) +
                               " is no number: " + Quoted(value));
    }
    field.value = *n;
  }
  if (!sections->back().fields.emplace(key, field).second) {
    return Wrong(number, Quoted(line.substr(0, equals)) + " given twice");
  }
  return std::nullopt;
}

// Reads the lines into sections.
std::optional<DumpError> ReadSections(std::string_view text, std::vector<Section>* sections) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  const Kind* kind = nullptr;
  unsigned number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) {
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') {
        return Wrong(number, "a section name without its closing \"]\"");
      }
      const std::string name = Lower(Trim(line.substr(1, line.size() - 2)));
      const std::size_t space = name.find(' ');
      const std::string head = name.substr(0, space);
      const auto found = std::find_if(Kinds().begin(), Kinds().end(),
                                      [&](const Kind& k) { return head == k.name; });
      if (found == Kinds().end() || found->numbered != (space != std::string::npos)) {
        return Wrong(number, "unknown section " + Quoted(line));
      }
      Section section{head, -1, number, {}, std::string(Trim(line.substr(1, line.size() - 2)))};
      if (found->numbered) {
        const std::optional<std::int64_t> n = Number(Trim(std::string_view(name).substr(space)));
        if (!n || *n < 0 || *n > 255) {
          return Wrong(number, "unknown section " + Quoted(line));
        }
        section.number = static_cast<long>(*n);
      }
      if (sections->empty() && head != "clonecd") {
        return Wrong(number, "the descriptor does not begin with [CloneCD]");
      }
      kind = &*found;
      sections->push_back(std::move(section));
      continue;
    }
    if (auto wrong = ReadField(line, number, kind, sections)) {
      return wrong;
    }
  }
  if (sections->empty()) {
    return Wrong(0, "the descriptor is empty");
  }
  return std::nullopt;
}

// One entry of the table of contents.
struct TocEntry {
  unsigned line;
  std::int64_t session, point, control, plba;
};

std::optional<DumpError> Need(const Section& section, const char* key, std::int64_t low,
                              std::int64_t high, std::int64_t* value) {
  const auto found = section.fields.find(key);
  if (found == section.fields.end()) {
    // Built by appending: g++ 12 at -O3 takes "[" + a string for overlapping copies.
    std::string what = "[";
    what += Shown(section.written);
    what += "] has no ";
    what += key;
    return Wrong(section.line, what);
  }
  if (found->second.value < low || found->second.value > high) {
    return Wrong(found->second.line, std::string(key) + " " + std::to_string(found->second.value) +
                                         " is outside " + std::to_string(low) + " to " +
                                         std::to_string(high));
  }
  *value = found->second.value;
  return std::nullopt;
}

std::optional<DumpError> ReadEntry(const Section& section, TocEntry* entry) {
  entry->line = section.line;
  std::int64_t minutes = 0, seconds = 0, frames = 0;
  std::optional<DumpError> wrong;
  if ((wrong = Need(section, "session", 1, 99, &entry->session)) ||
      (wrong = Need(section, "point", 0, 255, &entry->point)) ||
      (wrong = Need(section, "control", 0, 15, &entry->control))) {
    return wrong;
  }
  const bool track = entry->point >= 1 && entry->point <= 99;
  const bool known = track || entry->point == 0xA0 || entry->point == 0xA1 ||
                     entry->point == 0xA2 || entry->point == 0xB0 || entry->point == 0xC0;
  if (!known) {
    return Wrong(section.line, "[Entry " + std::to_string(section.number) + "] has unknown point " +
                                   std::to_string(entry->point));
  }
  if (!track && entry->point != 0xA2) {
    return std::nullopt;  // its minutes name a track or a time, not a sector
  }
  if ((wrong = Need(section, "plba", -150, kMostDiscSectors, &entry->plba)) ||
      (wrong = Need(section, "pmin", 0, 99, &minutes)) ||
      (wrong = Need(section, "psec", 0, 59, &seconds)) ||
      (wrong = Need(section, "pframe", 0, 74, &frames))) {
    return wrong;
  }
  if ((minutes * 60 + seconds) * 75 + frames - 150 != entry->plba) {
    return Wrong(section.fields.at("plba").line,
                 "PLBA " + std::to_string(entry->plba) + " is not where PMin, PSec and PFrame " +
                     "place the point (sector " +
                     std::to_string((minutes * 60 + seconds) * 75 + frames - 150) + ")");
  }
  return std::nullopt;
}

using Sections = std::vector<Section>;

const Section* Find(const Sections& sections, const std::string& kind, long number) {
  const auto found = std::find_if(sections.begin(), sections.end(), [&](const Section& s) {
    return s.kind == kind && s.number == number;
  });
  return found == sections.end() ? nullptr : &*found;
}

// [CloneCD] and [Disc]: the version, the number of entries and sessions.
std::optional<DumpError> ReadDisc(const Sections& sections, std::int64_t* entries,
                                  std::int64_t* sessionCount, const Section** disc) {
  std::int64_t value = 0;
  std::optional<DumpError> wrong;
  if ((wrong = Need(sections.front(), "version", 1, 3, &value))) {
    return wrong;
  }
  *disc = Find(sections, "disc", -1);
  if (*disc == nullptr) {
    return Wrong(0, "the descriptor has no [Disc] section");
  }
  if ((wrong = Need(**disc, "tocentries", 1, 255, entries)) ||
      (wrong = Need(**disc, "sessions", 1, 99, sessionCount))) {
    return wrong;
  }
  if ((*disc)->fields.count("datatracksscrambled") != 0 &&
      (wrong = Need(**disc, "datatracksscrambled", 0, 0, &value))) {
    wrong->what = "DataTracksScrambled: data tracks stored scrambled are not read";
    return wrong;
  }
  return std::nullopt;
}

// The table of contents: each section appears once, the entries numbered 0
// to TocEntries - 1, each of a session of the disc.
std::optional<DumpError> ReadToc(const Sections& sections, std::int64_t entries,
                                 std::int64_t sessionCount, const Section& disc,
                                 std::vector<TocEntry>* toc) {
  for (const Section& section : sections) {
    // Named once before: this is the second.
    if (std::any_of(sections.data(), &section, [&](const Section& s) {
          return s.kind == section.kind && s.number == section.number;
        })) {
      return Wrong(section.line, "a second [" + Shown(section.written) + "] section");
    }
    if (section.kind != "entry") {
      continue;
    }
    if (section.number != static_cast<long>(toc->size())) {
      return Wrong(section.line, "[Entry " + std::to_string(section.number) + "] where [Entry " +
                                     std::to_string(toc->size()) + "] was to come");
    }
    TocEntry entry{};
    if (auto wrong = ReadEntry(section, &entry)) {
      return wrong;
    }
    if (entry.session > sessionCount) {
      return Wrong(section.line, "[Entry " + std::to_string(section.number) + "] is of session " +
                                     std::to_string(entry.session) + " of a disc of " +
                                     std::to_string(sessionCount));
    }
    toc->push_back(entry);
  }
  if (static_cast<std::int64_t>(toc->size()) != entries) {
    return Wrong(disc.fields.at("tocentries").line, "TocEntries says " + std::to_string(entries) +
                                                        " entries, the descriptor has " +
                                                        std::to_string(toc->size()));
  }
  return std::nullopt;
}

// Every [TRACK n] belongs to a track of the table, its mode to its kind.
std::optional<DumpError> CheckTracks(const Sections& sections, const std::vector<TocEntry>& toc) {
  for (const Section& section : sections) {
    if (section.kind != "track") {
      continue;
    }
    const auto entry = std::find_if(toc.begin(), toc.end(),
                                    [&](const TocEntry& e) { return e.point == section.number; });
    if (entry == toc.end() || section.number < 1 || section.number > 99) {
      return Wrong(section.line, "[TRACK " + std::to_string(section.number) +
                                     "] is of no track in the table of contents");
    }
    std::int64_t mode = 0;
    if (auto wrong = Need(section, "mode", 0, 2, &mode)) {
      return wrong;
    }
    if ((mode != 0) != ((entry->control & 4) != 0)) {
      return Wrong(section.fields.at("mode").line,
                   "MODE " + std::to_string(mode) + " of an " +
                       ((entry->control & 4) != 0 ? "entry of a data track (Control "
                                                  : "entry of an audio track (Control ") +
                       std::to_string(entry->control) + ")");
    }
    if (const auto index = section.fields.find("index 1");
        index != section.fields.end() && index->second.value != entry->plba) {
      return Wrong(index->second.line, "INDEX 1 " + std::to_string(index->second.value) +
                                           " is not where the track's entry places it (sector " +
                                           std::to_string(entry->plba) + ")");
    }
  }
  return std::nullopt;
}

// The data track (the first track whose entry says data), in the first
// session, and where it ends: where the next track of its session begins,
// or at its lead-out.
std::optional<DumpError> LocateData(const Sections& sections, const std::vector<TocEntry>& toc,
                                    const TocEntry** data, std::int64_t* end, std::int64_t* mode) {
  for (const TocEntry& entry : toc) {
    if (entry.point >= 1 && entry.point <= 99 && (entry.control & 4) != 0 &&
        (*data == nullptr || entry.point < (*data)->point)) {
      *data = &entry;
    }
  }
  if (*data == nullptr) {
    return Wrong(0, "the table of contents has no data track");
  }
  const TocEntry& found = **data;
  const std::string name = "the data track " + std::to_string(found.point);
  const Section* section = Find(sections, "track", static_cast<long>(found.point));
  if (section == nullptr) {
    return Wrong(found.line, name + " has no [TRACK " + std::to_string(found.point) + "] section");
  }
  *mode = section->fields.at("mode").value;
  if (found.session != 1) {
    return Wrong(found.line, name + " is in session " + std::to_string(found.session) +
                                 ": only a data track of the first session is read");
  }
  for (const TocEntry& entry : toc) {
    const bool later = (entry.point > found.point && entry.point <= 99) || entry.point == 0xA2;
    if (entry.session == found.session && later && (*end < 0 || entry.plba < *end)) {
      *end = entry.plba;
    }
  }
  if (found.plba < 0) {
    return Wrong(found.line, name + " begins at sector " + std::to_string(found.plba) +
                                 ", before the disc's sector 0");
  }
  if (*end <= found.plba) {
    return Wrong(found.line, name + " begins at sector " + std::to_string(found.plba) +
                                 (*end < 0 ? ", and nothing says where it ends"
                                           : ", not before what follows it (sector " +
                                                 std::to_string(*end) + ")"));
  }
  return std::nullopt;
}

}  // namespace

std::optional<DumpError> ParseCloneCd(std::string_view text, std::string_view ownName,
                                      DumpTrack* track) {
  Sections sections;
  std::int64_t entries = 0, sessionCount = 0, end = -1, mode = 0;
  const Section* disc = nullptr;
  std::vector<TocEntry> toc;
  const TocEntry* data = nullptr;
  std::optional<DumpError> wrong;
  if ((wrong = ReadSections(text, &sections)) ||
      (wrong = ReadDisc(sections, &entries, &sessionCount, &disc)) ||
      (wrong = ReadToc(sections, entries, sessionCount, *disc, &toc)) ||
      (wrong = CheckTracks(sections, toc)) ||
      (wrong = LocateData(sections, toc, &data, &end, &mode))) {
    return wrong;
  }
  track->file = WithExtension(ownName, ".img");
  track->layout = {
      mode == 1 ? kMode1Raw : kMode2Raw, static_cast<std::uint64_t>(data->plba) * kRawBytes,
      static_cast<std::uint64_t>(end) * kRawBytes, static_cast<std::uint64_t>(data->plba)};
  return std::nullopt;
}

}  // namespace cgvw::disc
