// What the page makes of a decoded picture: the program's file bytes (BMP
// or PNG, through the program's own encoders) and RGBA pixels for a
// canvas.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cgvw/decode.h"
#include "options.h"

namespace web {

// The bytes of the picture's output file as the run with options writes
// it (app::BmpEncoder, app::PngEncoder). False with `why` set when they
// cannot be made.
bool FileBytes(const cgvw::PictureView& picture, app::OutputFormat format,
               std::vector<std::uint8_t>* bytes, std::string* why) noexcept;

// The picture's pixels as RGBA, 4 bytes a pixel (alpha 255), rows from the
// top without padding; colour indices through the colour table. With a
// `longest` side (0: none) a larger picture is made smaller by the
// smallest whole factor that brings both sides to it or under, each pixel
// the one at the centre of the factor x factor pixels it stands for (as a
// browser scales pixel art without smoothing; a block cut short at the
// right or bottom edge gives its last pixel). The size made goes to
// `width` and `height`. False when there is no memory for the pixels.
bool RgbaPixels(const cgvw::PictureView& picture, std::uint32_t longest,
                std::vector<std::uint8_t>* rgba, std::uint32_t* width,
                std::uint32_t* height) noexcept;

}  // namespace web
