// The words of a cue sheet's lines: splitting a line, numbers, positions
// and keywords looked up ignoring case (cue_sheet.h says what they are).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/names.h"

namespace cgvw::disc {

struct Word {
  std::string_view text;
  bool quoted;
};

// The index of `word` in `names`, ignoring case; nullopt if it is none.
template <std::size_t N>
std::optional<std::size_t> Lookup(std::string_view word, const std::array<const char*, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (platform::EqualIgnoringAsciiCase(word, names[i])) {
      return i;
    }
  }
  return std::nullopt;
}

// Splits a line into words; false, with what is wrong, if it cannot.
bool SplitLine(std::string_view line, std::vector<Word>* words, std::string* what);

// A number of 1 to `digits` decimal digits.
std::optional<unsigned> Number(std::string_view text, std::size_t digits);

// mm:ss:ff (minutes, seconds below 60, frames below 75) in frames.
std::optional<std::uint32_t> Frames(std::string_view text);

}  // namespace cgvw::disc
