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

}  // namespace cgvw::disc
