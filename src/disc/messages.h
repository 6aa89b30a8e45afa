// Names and texts from outside (a sheet's FILE names, its words, paths) as
// messages show them: cut to a length a line can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cgvw::disc {

// The most bytes of an outside text that a message shows.
inline constexpr std::size_t kShownBytes = 160;

// The text as it is if it has at most kShownBytes bytes, else its start and
// its end around "…", cut between UTF-8 characters.
std::string Shown(std::string_view text);
// The same in double quotes: "\"disc.bin\"".
std::string Quoted(std::string_view text);
// A count with its noun: "1 sector", "2 sectors", "0 sectors".
std::string Counted(std::uint64_t count, std::string_view one, std::string_view many);

}  // namespace cgvw::disc
