#include "messages.h"

namespace cgvw::disc {
namespace {

bool Continues(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;  // a UTF-8 continuation byte
}

}  // namespace

std::string Shown(std::string_view text) {
  if (text.size() <= kShownBytes) {
    return std::string(text);
  }
  std::size_t head = kShownBytes / 2;
  while (head > 0 && Continues(text[head])) {
    --head;
  }
  std::size_t tail = text.size() - kShownBytes / 2;
  while (tail < text.size() && Continues(text[tail])) {
    ++tail;
  }
  return std::string(text.substr(0, head)) + "\xE2\x80\xA6" + std::string(text.substr(tail));
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  return quoted.append(Shown(text)).append("\"");
}

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count).append(" ").append(count == 1 ? one : many);
}

}  // namespace cgvw::disc
