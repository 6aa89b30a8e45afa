#include "console.h"

#include <cstring>
#include <string>

#include "console_texts.h"
#include "exit_status.h"
#include "platform/console.h"

namespace app {

std::string Shown(std::string_view name) {
  const auto continues = [&name](std::size_t i) {
    return (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80;  // a UTF-8 continuation byte
  };
  if (name.size() <= kShownBytes) {
    return std::string(name);
  }
  std::size_t head = kShownBytes / 2;
  while (head > 0 && continues(head)) {
    --head;
  }
  std::size_t tail = name.size() - kShownBytes / 2;
  while (tail < name.size() && continues(tail)) {
    ++tail;
  }
  return std::string(name.substr(0, head)).append("\xE2\x80\xA6").append(name.substr(tail));
}

bool Console::Text(std::string_view text) const {
  return quiet_ || platform::ConsoleWrite(text);
}

bool Console::Line(std::string_view text) const {
  return quiet_ || Always(text);
}

bool Console::Always(std::string_view text) const {
  // Lines of the program's own texts fit the buffer; a longer line (a
  // listing's) is written in two pieces.
  constexpr std::size_t kRoom = 256;
  char line[kRoom + texts::kLineEnd.size()];
  if (text.size() > kRoom) {
    return platform::ConsoleWrite(text) && platform::ConsoleWrite(texts::kLineEnd);
  }
  std::memcpy(line, text.data(), text.size());
  std::memcpy(line + text.size(), texts::kLineEnd.data(), texts::kLineEnd.size());
  return platform::ConsoleWrite({line, text.size() + texts::kLineEnd.size()});
}

void Console::Complain(std::string_view text) {
  constexpr std::string_view kPrefix = "tvrcgcv: ";
  try {
    platform::ErrorWrite(std::string(kPrefix).append(text));
  } catch (const std::bad_alloc&) {
    platform::ErrorWrite("tvrcgcv: out of memory");
  }
}

int Console::Failed() {
  platform::ErrorWrite(texts::kConsoleWriteFailed);
  return kExitConsoleFailed;
}

}  // namespace app
