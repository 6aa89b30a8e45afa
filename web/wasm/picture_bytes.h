// What the page makes of a decoded picture: the program's file bytes (BMP
// or PNG, through the same code as the program's output files) and RGBA
// pixels for a canvas.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cgvw/decode.h"
#include "command_line.h"

namespace web {

// The bytes of the picture's output file as the option run writes it:
// BmpFileHeader() and dib() for BMP, app::EncodePng for PNG. False with
// `why` set when they cannot be made.
bool FileBytes(const cgvw::Picture& picture, app::OutputFormat format,
               std::vector<std::uint8_t>* bytes, std::string* why) noexcept;

// The picture's pixels as RGBA, 4 bytes a pixel (alpha 255), rows from the
// top, width() pixels each without padding; colour indices through the
// colour table. False when there is no memory for them.
bool RgbaPixels(const cgvw::Picture& picture, std::vector<std::uint8_t>* rgba) noexcept;

}  // namespace web
