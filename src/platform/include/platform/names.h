// File names compared as Windows compares them: equal ignoring the case of
// ASCII letters. A lookup takes the exact name if it is there, else the
// first in byte order of the names that equal it that way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The letter in lower case if it is an ASCII capital, else the byte as it is.
char LowerAscii(char c) noexcept;

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept;

// The index in `names` that a lookup of `name` finds; nullopt if none.
std::optional<std::size_t> PickName(const std::vector<std::string>& names,
                                    std::string_view name) noexcept;

// The parts of a name that goes through folders, '/' or '\' between them;
// empty when a part is empty, "." or "..", which name nothing.
std::vector<std::string> SplitName(std::string_view name);

}  // namespace platform
