// Shift-JIS (code page 932) to UTF-8 for a terminal that expects UTF-8,
// built into the program rather than taken from the C library's iconv,
// whose code page 932 is a module loaded at run time (absent from some
// systems, and never loadable by a statically linked program).
//
// What converts: ASCII (as it is), the half-width katakana 0xA1-0xDF, all
// hiragana and katakana, and the punctuation and kanji of the program's
// console texts, each to the code point that code page 932 gives it.
// Anything else goes on as it is, a byte at a time: a byte that starts no
// character, a lead byte without a trail byte, and a pair this table does
// not hold (the bytes of a path given by the user, say).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace platform {

// Converts characters from the front of `text` into `out` while a whole
// character's UTF-8 (at most 3 bytes) still fits, and removes them from
// `text`; returns the number of bytes written.
std::size_t ShiftJisToUtf8(std::string_view* text, std::span<char> out) noexcept;

}  // namespace platform
