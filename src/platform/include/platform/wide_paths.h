// UTF-8 paths on Windows: the system's wide-character file functions take
// UTF-16, so a path with Japanese (or any other) characters is converted
// rather than squeezed through the ANSI code page.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

namespace platform {

// The UTF-16 form of a UTF-8 path; empty if it is not valid UTF-8.
std::wstring WidePath(std::string_view utf8);
// The UTF-8 form of a UTF-16 text (a path or a command-line argument).
std::string Utf8Text(std::wstring_view wide);

}  // namespace platform
#endif
