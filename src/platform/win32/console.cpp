// Console output on Windows. Standard output is written through its handle:
// pipes and files get exactly the program's Shift-JIS bytes, CR LF staying
// two bytes (no text-mode C runtime in between) and every write reaching the
// handle at once. A console window is written with WriteConsoleW instead,
// the text converted from code page 932 first, so it reads correctly
// whatever code page the console uses; the user's console code page is
// never changed.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "../common/backend.h"
#include "platform/console.h"
#include "platform/faults.h"
#include "win32_headers.h"

namespace platform {
namespace {

constexpr ::UINT kShiftJisCodePage = 932;
// Old consoles refuse very long single writes; texts are written in pieces.
constexpr std::size_t kConsolePiece = 8192;

bool IsConsole(HANDLE handle) {
  ::DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

bool WriteBytes(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto ask = static_cast<::DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000u));
    ::DWORD put = 0;
    if (::WriteFile(handle, bytes.data(), ask, &put, nullptr) == 0 || put == 0) {
      return false;
    }
    bytes.remove_prefix(put);
  }
  return true;
}

// The text in UTF-16; empty when the code page is not available.
std::wstring FromCodePage(std::string_view text, ::UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) {
    return {};
  }
  std::wstring converted(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), length, converted.data(), wide);
  return converted;
}

bool WriteConsoleText(HANDLE console, std::string_view text, ::UINT codePage) {
  std::wstring wide;
  try {
    wide = FromCodePage(text, codePage);
  } catch (...) {
    // No memory for the converted text: the bytes as they are still say
    // something in the console's own code page.
  }
  if (wide.empty()) {
    return WriteBytes(console, text);  // no conversion: the console's own code page shows it
  }
  std::wstring_view rest = wide;
  while (!rest.empty()) {
    const auto ask = static_cast<::DWORD>(std::min(rest.size(), kConsolePiece));
    ::DWORD put = 0;
    if (::WriteConsoleW(console, rest.data(), ask, &put, nullptr) == 0 || put == 0) {
      return false;
    }
    rest.remove_prefix(put);
  }
  return true;
}

// Standard output carries the program's texts in code page 932; standard
// error carries UTF-8 (English messages with the paths the user gave).
bool WriteTo(::DWORD stdHandle, std::string_view text, ::UINT codePage) {
  if (text.empty()) {
    return true;
  }
  HANDLE handle = ::GetStdHandle(stdHandle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return false;  // no standard output at all
  }
  return IsConsole(handle) ? WriteConsoleText(handle, text, codePage) : WriteBytes(handle, text);
}

}  // namespace

bool OwnsConsoleWindow() {
  if (const int pretended = faults::PretendedOwnConsoleWindow(); pretended >= 0) {
    return pretended == 1;
  }
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::DWORD processes[2] = {};
  return output != nullptr && output != INVALID_HANDLE_VALUE && IsConsole(output) &&
         ::GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKey(std::string_view prompt) {
  ConsoleWrite(prompt);
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !IsConsole(input)) {
    return;  // nothing to wait on
  }
  ::INPUT_RECORD record{};
  ::DWORD got = 0;
  while (::ReadConsoleInputW(input, &record, 1, &got) != 0 && got == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
      return;
    }
  }
}

void ConsoleInit() {
  // Whatever still goes through the C runtime's streams is written in binary
  // mode as well.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

namespace backend {

bool WriteStandardOutput(std::string_view shiftJisBytes) noexcept {
  return WriteTo(STD_OUTPUT_HANDLE, shiftJisBytes, kShiftJisCodePage);
}

bool WriteStandardError(std::string_view line) noexcept {
  return WriteTo(STD_ERROR_HANDLE, line, CP_UTF8) && WriteTo(STD_ERROR_HANDLE, "\r\n", CP_UTF8);
}

}  // namespace backend

}  // namespace platform
