// Console output on POSIX. Standard output receives the program's Shift-JIS
// bytes unchanged, except on a terminal whose locale is UTF-8: that terminal
// is shown the same text converted from code page 932, as a Windows console
// set to code page 932 would show it.
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/faults.h"

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

bool TerminalWantsUtf8() {
  if (::isatty(STDOUT_FILENO) == 0 || std::setlocale(LC_CTYPE, "") == nullptr) {
    return false;
  }
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

// Converts Shift-JIS to UTF-8; bytes that do not convert are passed through.
std::string ToUtf8(std::string_view text) {
  std::string out(text.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  ::iconv(g_toUtf8, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    if (::iconv(g_toUtf8, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      if (outLeft == 0) {
        break;
      }
      *outPtr++ = *in++;  // not Shift-JIS: keep the byte
      --inLeft;
      --outLeft;
    }
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

void ConsoleInit() {
  // A reader that goes away must surface as a failed write, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  if (TerminalWantsUtf8()) {
    g_toUtf8 = ::iconv_open("UTF-8", "CP932");
  }
}

bool ConsoleWrite(std::string_view shiftJisBytes) {
  if (faults::ShouldFail(faults::Point::Console)) {
    return false;
  }
  if (std::string* sink = faults::ConsoleCapture()) {
    sink->append(shiftJisBytes);
    return true;
  }
  if (g_toUtf8 != reinterpret_cast<iconv_t>(-1)) {
    const std::string utf8 = ToUtf8(shiftJisBytes);
    return WriteAll(STDOUT_FILENO, utf8.data(), utf8.size());
  }
  return WriteAll(STDOUT_FILENO, shiftJisBytes.data(), shiftJisBytes.size());
}

void ErrorWrite(std::string_view text) {
  WriteAll(STDERR_FILENO, text.data(), text.size());
  WriteAll(STDERR_FILENO, "\n", 1);
}

}  // namespace platform
