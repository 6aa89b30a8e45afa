// The one console writer of both runs. Standard output gets the program's
// Shift-JIS texts, each write one piece, a line together with its line end;
// writing a line allocates nothing, so memory that runs out can never cost
// a console line. Standard error gets English lines, "tvrcgcv: ...".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace app {

// The most bytes of a name from outside (an argument, a path, a file of
// the disc) that a message shows.
inline constexpr std::size_t kShownBytes = 160;

// The name as it is if it has at most kShownBytes bytes, else its start and
// its end around "…", cut between UTF-8 characters.
std::string Shown(std::string_view name);

class Console {
 public:
  // quiet: progress and outcome texts are not shown (run with --quiet).
  explicit Console(bool quiet = false) : quiet_(quiet) {}

  // Text without a line end, and a line; false when standard output could
  // not be written (a quiet console writes nothing and reports success).
  bool Text(std::string_view text) const;
  bool Line(std::string_view text) const;
  // A line that is written even on a quiet console (a summary, a listing).
  bool Always(std::string_view text) const;
  // "tvrcgcv: <text>" on standard error.
  static void Complain(std::string_view text);
  // Standard output failed: says so on standard error; the exit status.
  static int Failed();

 private:
  bool quiet_;
};

}  // namespace app
