// The demo disc: a complete synthetic source disc for every row of the
// built-in catalogue, with the catalogue's file names and byte layout.
//
// Each picture is first drawn as an RGB picture (SourcePicture) and then
// encoded into the source files that the converter reads: backgrounds as a
// palette, 8 x 8 tiles and a 16-bit tile map, portraits as a palette file and
// a file of palette indices. Every colour of a picture is exactly
// representable by a 15-bit colour word, so a correct conversion gives back
// SourcePicture pixel for pixel. The bytes written depend on nothing but the
// row number.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace demo {

// An RGB picture: height rows of width pixels, top row first, each pixel the
// three bytes R, G, B.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// One source file of the disc.
struct DiscFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

// The number of pictures on the disc (the catalogue's rows).
int PictureCount();

// The picture of catalogue row `row` (0 to PictureCount() - 1): its own
// colours and its row number in large digits. Throws std::out_of_range for
// any other row.
Picture SourcePicture(int row);

// The source files of one row: the background file, or the portrait's
// palette file and pixel file. With upperCase the names are in upper case.
// Throws std::out_of_range for a row outside the catalogue and
// std::logic_error if the picture does not fit the catalogue's ranges.
std::vector<DiscFile> EncodeRow(int row, bool upperCase);

// Writes the files of every row into `directory` (created if missing) and
// returns the number of files written. Throws std::runtime_error when a file
// cannot be written.
int WriteDisc(const std::filesystem::path& directory, bool upperCase);

}  // namespace demo
