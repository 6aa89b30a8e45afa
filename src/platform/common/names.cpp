#include "platform/names.h"

#include <algorithm>

namespace platform {

char LowerAscii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::optional<std::size_t> PickName(const std::vector<std::string>& names,
                                    std::string_view name) noexcept {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) {
      return i;
    }
    if (EqualIgnoringAsciiCase(names[i], name) && (!best || names[i] < names[*best])) {
      best = i;
    }
  }
  return best;
}

std::vector<std::string> SplitName(std::string_view name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of("/\\", start);
    std::string part(name.substr(start, end == std::string_view::npos ? end : end - start));
    if (part.empty() || part == "." || part == "..") {
      return {};
    }
    parts.push_back(std::move(part));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

}  // namespace platform
