// Console output on POSIX. Standard output receives the program's Shift-JIS
// bytes unchanged, except on a terminal that expects UTF-8: that terminal is
// shown the same text converted from code page 932, as a Windows console set
// to code page 932 would show it (by the program's own converter, so that
// no iconv module is needed).
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
#include "platform/shift_jis.h"

namespace platform {
namespace {

bool g_utf8Terminal = false;

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
// reach the terminal as raw Shift-JIS bytes. The statically linked program
// judges every locale by its name: the installed locales are files of the
// system's C library, which need not be the version linked into it.
bool TerminalWantsUtf8() {
  if (::isatty(STDOUT_FILENO) == 0) {
    return false;
  }
  if (TVRCGCV_READS_LOCALES && std::setlocale(LC_CTYPE, "") != nullptr) {
    const char* codeset = ::nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
    std::setlocale(LC_CTYPE, "C");  // nothing else of the program depends on the locale
    return utf8;
  }
  return LocaleNameSaysUtf8(CharacterLocaleName());
}

// Writes Shift-JIS text converted to UTF-8, a piece at a time through a
// buffer of its own.
bool WriteAsUtf8(std::string_view text) {
  char out[4096];
  while (!text.empty()) {
    const std::size_t put = ShiftJisToUtf8(&text, out);
    if (!WriteAll(STDOUT_FILENO, out, put)) {
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
  g_utf8Terminal = TerminalWantsUtf8();
}

namespace backend {

bool WriteStandardOutput(std::string_view shiftJisBytes) noexcept {
  if (g_utf8Terminal) {
    return WriteAsUtf8(shiftJisBytes);
  }
  return WriteAll(STDOUT_FILENO, shiftJisBytes.data(), shiftJisBytes.size());
}

bool WriteStandardError(std::string_view line) noexcept {
  return WriteAll(STDERR_FILENO, line.data(), line.size()) && WriteAll(STDERR_FILENO, "\n", 1);
}

}  // namespace backend

}  // namespace platform
