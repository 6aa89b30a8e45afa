// PNG files of decoded pictures, through libspng: palette pictures stay
// indexed (bit depth 4 or 8, with their whole colour table), 24-bit
// pictures become RGB. Every pixel is the one the BMP file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cgvw/decode.h"

namespace app {

// The PNG file of the picture; false with `why` set when it cannot be made
// (no libspng, "out of memory", rows the picture does not hold).
bool EncodePng(const cgvw::PictureView& picture, std::vector<std::uint8_t>* png, std::string* why);

// Whether this build can write PNG files at all, and if not why.
bool PngAvailable(std::string* why);

}  // namespace app
