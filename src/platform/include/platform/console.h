// Standard output of the console program.
#pragma once

#include <string_view>

namespace platform {

// Writes the bytes (Shift-JIS text as stored in the program) to standard
// output at once. Pipes and files get exactly these bytes; a terminal or
// console window that expects another encoding is shown the same text
// converted from code page 932. Returns false when the write failed.
bool ConsoleWrite(std::string_view shiftJisBytes);

// Writes a one-line diagnostic (plain ASCII) to standard error.
void ErrorWrite(std::string_view text);

// Prepares the process for console output (called once by main).
void ConsoleInit();

// Whether the program has a console window of its own, which closes as the
// program ends: on Windows, a program started by a double click from
// Explorer (standard output is a console and no other process shares it).
// Never on other systems, nor with standard output redirected.
bool OwnsConsoleWindow();
// Shows `prompt` (Shift-JIS, as ConsoleWrite takes it) and waits for a key
// on the console's input; returns at once where there is no console input.
void WaitForKey(std::string_view prompt);

#ifndef _WIN32
// Whether a POSIX locale name (language_territory.codeset@modifier, such as
// "ja_JP.UTF-8" or "C.utf8") names UTF-8: how a terminal is judged when its
// locale is named but not installed.
bool LocaleNameSaysUtf8(std::string_view name);
#endif

}  // namespace platform
