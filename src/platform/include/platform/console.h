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

}  // namespace platform
