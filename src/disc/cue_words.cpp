#include "cue_words.h"

#include <algorithm>

namespace cgvw::disc {

// Splits a line into words; false, with what is wrong, if it cannot.
bool SplitLine(std::string_view line, std::vector<Word>* words, std::string* what) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
      *what = "a control character (byte " + std::to_string(byte) + ")";
      return false;
    }
  }
  std::size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) {
      return true;
    }
    if (line[at] == '"') {
      const std::size_t close = line.find('"', at + 1);
      if (close == std::string_view::npos) {
        *what = "a double quote that is not closed";
        return false;
      }
      words->push_back({line.substr(at + 1, close - at - 1), true});
      at = close + 1;
      if (at < line.size() && line[at] != ' ' && line[at] != '\t') {
        *what = "no space after a closing double quote";
        return false;
      }
      continue;
    }
    const std::size_t end = std::min(line.size(), line.find_first_of(" \t", at));
    const std::string_view word = line.substr(at, end - at);
    if (word.find('"') != std::string_view::npos) {
      *what = "a double quote inside the word \"" + std::string(word) + "\"";
      return false;
    }
    words->push_back({word, false});
    at = end;
  }
}

// A number of 1 to `digits` decimal digits.
std::optional<unsigned> Number(std::string_view text, std::size_t digits) {
  if (text.empty() || text.size() > digits ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char c : text) {
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

// mm:ss:ff (minutes, seconds below 60, frames below 75) in frames.
std::optional<std::uint32_t> Frames(std::string_view text) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) {
    return std::nullopt;
  }
  const auto minutes = Number(text.substr(0, first), 3);
  const auto seconds = Number(text.substr(first + 1, second - first - 1), 2);
  const auto frames = Number(text.substr(second + 1), 2);
  if (!minutes || !seconds || !frames || *seconds >= 60 || *frames >= 75) {
    return std::nullopt;
  }
  return (*minutes * 60 + *seconds) * 75 + *frames;
}

}  // namespace cgvw::disc
