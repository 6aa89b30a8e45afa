// Helpers shared by the dump descriptors' readers (dumps.h).
#include "dumps.h"

#include <algorithm>
#include <charconv>

namespace cgvw::disc {

std::string WithExtension(std::string_view name, std::string_view extension) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.find_last_of("/\\");
  const bool hasExtension = dot != std::string_view::npos && dot > 0 &&
                            (slash == std::string_view::npos || dot > slash + 1);
  return std::string(hasExtension ? name.substr(0, dot) : name) + std::string(extension);
}

std::uint64_t LittleEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = value << 8 | bytes[at + i];
  }
  return value;
}

std::uint64_t BigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value = value << 8 | bytes[at + i];
  }
  return value;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<std::int64_t> Number(std::string_view text) {
  std::int64_t value = 0;
  int base = 10;
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) {
    text.remove_prefix(1);
  }
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      value > (std::int64_t{1} << 40)) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

bool LooksLikeCloneCd(std::span<const std::uint8_t> head) {
  std::string_view text(reinterpret_cast<const char*>(head.data()),
                        std::min<std::size_t>(head.size(), 64));
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  while (!text.empty() && (text.front() == ' ' || text.front() == '\r' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  return Lower(text.substr(0, 9)) == "[clonecd]";
}

}  // namespace cgvw::disc
