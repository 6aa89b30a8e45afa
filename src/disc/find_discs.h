// Which of a set of files are discs, told from their bytes: what the page
// does with the files it is given, and what a layout that holds several
// files (an archive) does with its members.
#pragma once

#include <string>
#include <vector>

namespace cgvw::disc {

// The paths, in the order given, of each cue sheet among `paths` and of
// each image (of one file) that no sheet among them names. Files that are
// neither (the tracks a sheet names, a folder's files, anything else) and
// what is no regular file are left out.
std::vector<std::string> FindDiscs(const std::vector<std::string>& paths);

}  // namespace cgvw::disc
