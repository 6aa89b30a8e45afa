// Console output on POSIX. Standard output receives the program's Shift-JIS
// bytes unchanged, except on a terminal that expects UTF-8: that terminal is
// shown the same text converted from code page 932, as a Windows console set
// to code page 932 would show it.
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "../common/backend.h"
#include "platform/console.h"
#include "platform/faults.h"
#include "platform/names.h"

namespace platform {
namespace {

iconv_t g_toUtf8 = reinterpret_cast<iconv_t>(-1);

bool WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// The locale the C library would take for character types: LC_ALL, else
// LC_CTYPE, else LANG, the first that is set and not empty.
std::string_view CharacterLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') {
      return value;
    }
  }
  return {};
}

}  // namespace

bool LocaleNameSaysUtf8(std::string_view name) {
  // language[_territory][.codeset][@modifier]; "UTF-8", "utf8" and other
  // spellings of it differ only in case and dashes.
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) {
    return false;
  }
  std::string_view codeset = name.substr(dot + 1);
  codeset = codeset.substr(0, codeset.find('@'));
  std::string_view wanted = "utf8";
  for (const char c : codeset) {
    if (c == '-') {
      continue;
    }
    const char lower = LowerAscii(c);
    if (wanted.empty() || lower != wanted.front()) {
      return false;
    }
    wanted.remove_prefix(1);
  }
  return wanted.empty();
}

namespace {

// A terminal expects UTF-8 when its locale says so. The installed locale
// answers if there is one; a locale that is named but not installed (a
// common sight in containers) is judged by its name, so the text does not
// reach the terminal as raw Shift-JIS bytes.
bool TerminalWantsUtf8() {
  if (::isatty(STDOUT_FILENO) == 0) {
    return false;
  }
  if (std::setlocale(LC_CTYPE, "") != nullptr) {
    const char* codeset = ::nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
    std::setlocale(LC_CTYPE, "C");  // nothing else of the program depends on the locale
    return utf8;
  }
  return LocaleNameSaysUtf8(CharacterLocaleName());
}

// Writes Shift-JIS text converted to UTF-8, a piece at a time through a
// buffer of its own; bytes that do not convert are passed on as they are.
bool WriteAsUtf8(std::string_view text) {
  char out[4096];
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  ::iconv(g_toUtf8, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    while (inLeft > 0 && outLeft >= 4) {
      if (::iconv(g_toUtf8, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
        if (errno == E2BIG) {
          break;
        }
        *outPtr++ = *in++;  // not Shift-JIS: keep the byte
        --inLeft;
        --outLeft;
      }
    }
    if (!WriteAll(STDOUT_FILENO, out, static_cast<std::size_t>(outPtr - out))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool OwnsConsoleWindow() {
  return faults::PretendedOwnConsoleWindow() == 1;
}

void WaitForKey(std::string_view prompt) {
  ConsoleWrite(prompt);  // a terminal closes with its shell, not with the program
}

void ConsoleInit() {
  // A reader that goes away must surface as a failed write, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  if (TerminalWantsUtf8()) {
    g_toUtf8 = ::iconv_open("UTF-8", "CP932");
  }
}

namespace backend {

bool WriteStandardOutput(std::string_view shiftJisBytes) noexcept {
  if (g_toUtf8 != reinterpret_cast<iconv_t>(-1)) {
    return WriteAsUtf8(shiftJisBytes);
  }
  return WriteAll(STDOUT_FILENO, shiftJisBytes.data(), shiftJisBytes.size());
}

bool WriteStandardError(std::string_view line) noexcept {
  return WriteAll(STDERR_FILENO, line.data(), line.size()) && WriteAll(STDERR_FILENO, "\n", 1);
}

}  // namespace backend

}  // namespace platform
