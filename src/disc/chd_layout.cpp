// The parts of CHD files (chd.h) read without bits: the map of a file
// without codecs, the texts of the track metadata, and where the data
// track lies among the tracks; and the CRC-16 of maps and hunks.
#include <algorithm>
#include <array>

#include "chd.h"
#include "dumps.h"

namespace cgvw::disc::chd {
namespace {

// A decimal number of at most 9 digits.
bool Number(std::string_view value, std::uint64_t* out) {
  if (value.empty() || value.size() > 9 ||
      !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  *out = 0;
  for (const char c : value) {
    *out = *out * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

// Tables for eight bytes a step: kCrc16Tables[0][b] is the register (16
// bits, most significant bit first) after byte b went into a register of
// zeros; kCrc16Tables[k][b] the same b followed by k zero bytes.
using Crc16Tables = std::array<std::array<std::uint16_t, 256>, 8>;
constexpr Crc16Tables MakeCrc16Tables() {
  Crc16Tables tables{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    auto crc = static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    tables[0][byte] = crc;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      const std::uint16_t before = tables[k - 1][byte];
      tables[k][byte] = static_cast<std::uint16_t>((before << 8) ^ tables[0][before >> 8]);
    }
  }
  return tables;
}
constexpr Crc16Tables kCrc16Tables = MakeCrc16Tables();

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  const auto& t = kCrc16Tables;
  std::uint32_t crc = 0xFFFF;
  const std::uint8_t* at = bytes.data();
  std::size_t left = bytes.size();
  // Eight bytes a step: the register's two bytes go into the first two, and
  // each byte's share of the register after the step is its table's, k
  // being the bytes that follow it in the step.
  for (; left >= 8; left -= 8, at += 8) {
    crc = t[7][at[0] ^ (crc >> 8)] ^ t[6][at[1] ^ (crc & 0xFF)] ^ t[5][at[2]] ^ t[4][at[3]] ^
          t[3][at[4]] ^ t[2][at[5]] ^ t[1][at[6]] ^ t[0][at[7]];
  }
  for (; left > 0; --left, ++at) {
    crc = ((crc << 8) & 0xFFFF) ^ t[0][(crc >> 8) ^ *at];
  }
  return static_cast<std::uint16_t>(crc);
}

std::optional<std::string> ParseStoredMap(std::span<const std::uint8_t> bytes, const Header& header,
                                          std::uint64_t fileSize, std::vector<MapEntry>* map) {
  const auto count = static_cast<std::size_t>(header.hunkCount);
  if (bytes.size() / 4 < count) {
    return std::string("map is cut short: the file is cut short");
  }
  map->assign(count, MapEntry{});
  for (std::size_t hunk = 0; hunk < count; ++hunk) {
    MapEntry& entry = (*map)[hunk];
    const std::uint64_t place = BigEndian(bytes, 4 * hunk, 4);
    if (place == 0) {
      entry.kind = header.HasParent() ? HunkKind::kParent : HunkKind::kZeros;
      entry.offset = hunk * (header.hunkBytes / header.unitBytes);
      continue;
    }
    entry.kind = HunkKind::kStored;
    entry.length = header.hunkBytes;
    entry.offset = place * header.hunkBytes;
    if (entry.offset > fileSize || entry.length > fileSize - entry.offset) {
      return "hunk " + std::to_string(hunk) + " lies beyond the end of the file (" +
             std::to_string(fileSize) + " bytes): the file is cut short";
    }
  }
  return std::nullopt;
}

std::optional<std::string> ParseTrack(std::string_view text, Track* track) {
  while (!text.empty() && text.back() == '\0') {
    text.remove_suffix(1);
  }
  bool haveNumber = false;
  bool haveType = false;
  bool haveFrames = false;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) {
      continue;
    }
    const std::size_t colon = word.find(':');
    if (colon == std::string_view::npos) {
      return "track text has the word \"" + std::string(word.substr(0, 40)) + "\" without a value";
    }
    const std::string_view key = word.substr(0, colon);
    const std::string_view value = word.substr(colon + 1);
    const auto number = [&](std::uint64_t* out) { return Number(value, out); };
    std::uint64_t n = 0;
    bool good = true;
    if (key == "TRACK") {
      good = number(&n) && n >= 1 && n <= 99;
      track->number = static_cast<unsigned>(n);
      haveNumber = good;
    } else if (key == "TYPE") {
      track->type = std::string(value);
      haveType = !value.empty();
    } else if (key == "FRAMES") {
      good = number(&track->frames) && track->frames <= kMostDiscSectors;
      haveFrames = good;
    } else if (key == "PREGAP") {
      good = number(&track->pregap) && track->pregap <= kMostDiscSectors;
    } else if (key == "POSTGAP") {
      good = number(&track->postgap) && track->postgap <= kMostDiscSectors;
    } else if (key == "PGTYPE") {
      track->pregapStored = !value.empty() && value.front() == 'V';
    }
    if (!good) {
      return "track text has " + std::string(key) + " " + std::string(value.substr(0, 40)) +
             ", which is no number of a disc";
    }
  }
  if (!haveNumber || !haveType || !haveFrames) {
    return std::string("track text lacks its TRACK, TYPE or FRAMES");
  }
  return std::nullopt;
}

std::optional<std::string> FindDataTrack(std::span<const Track> tracks, DataTrack* data) {
  if (tracks.empty()) {
    return std::string("metadata describes no track of a CD");
  }
  std::uint64_t frame = 0;   // in the file
  std::uint64_t sector = 0;  // on the disc, sector 0 at 00:02:00 (the first track's pregap is
                             // before it)
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const Track& track = tracks[i];
    if (track.number != i + 1) {
      return "metadata gives track " + std::to_string(track.number) + " where track " +
             std::to_string(i + 1) + " belongs";
    }
    const std::uint64_t storedPregap = track.pregapStored ? track.pregap : 0;
    if (storedPregap > track.frames) {
      return "track " + std::to_string(track.number) + " has a pregap longer than itself";
    }
    if (i > 0) {
      sector += track.pregap;
    }
    if (track.type != "AUDIO") {
      static constexpr struct {
        std::string_view type;
        SectorFormat format;
      } kTypes[] = {
          {"MODE1", {kFrameBytes, 0, 0}},
          {"MODE1_RAW", {kFrameBytes, kMode1Raw.dataOffset, 1}},
          {"MODE2_RAW", {kFrameBytes, kMode2Raw.dataOffset, 2}},
          {"MODE2_FORM1", {kFrameBytes, 0, 0}},
      };
      for (const auto& known : kTypes) {
        if (known.type == track.type) {
          data->format = known.format;
          data->firstFrame = frame + storedPregap;
          data->sectors = track.frames - storedPregap;
          data->firstSector = sector;
          return std::nullopt;
        }
      }
      return "track " + std::to_string(track.number) + " is of the type " +
             std::string(track.type.substr(0, 40)) + ", which holds no data read here";
    }
    frame += (track.frames + 3) / 4 * 4;
    sector += track.frames - storedPregap + track.postgap;
  }
  return std::string("tracks are all audio: the disc has no data track");
}

}  // namespace cgvw::disc::chd
