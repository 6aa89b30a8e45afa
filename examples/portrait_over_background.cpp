// Draws a portrait over a background with the backdrop option and writes
// the result as a 24-bit BMP file. The disc is a folder (a mounted disc, or
// a copy of its files) or a disc image (.iso, .bin, or .cue with its .bin).
//
//   portrait_over_background <disc folder or image> <output.bmp> [background row] [portrait row]
//
// The rows are catalogue rows: 0 to 151 are backgrounds, 152 to 160 are
// portraits. The portrait's colour index 0 is transparent.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "catalog/catalogue.h"
#include "cgvw/decode.h"
#include "cgvw/disc_image.h"

namespace {

// The disc at `path`: a folder, else a disc image.
std::unique_ptr<cgvw::Source> OpenDisc(const std::string& path) {
  if (std::filesystem::is_directory(path)) {
    return std::make_unique<cgvw::FolderSource>(path);
  }
  cgvw::ImageProblem problem;
  auto image = cgvw::DiscImageSource::Open(path, &problem);
  if (image) {
    return std::move(*image);
  }
  std::fprintf(stderr, "%s\n", problem.text.c_str());
  return nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <disc> <output.bmp> [background row] [portrait row]\n",
                 argv[0]);
    return 2;
  }
  const int backgroundRow = argc > 3 ? std::atoi(argv[3]) : 0;
  const int portraitRow = argc > 4 ? std::atoi(argv[4]) : 152;
  if (backgroundRow < 0 || backgroundRow >= 152 || portraitRow < 152 || portraitRow > 160) {
    std::fprintf(stderr, "background rows are 0 to 151, portrait rows 152 to 160\n");
    return 2;
  }
  const std::unique_ptr<cgvw::Source> disc = OpenDisc(argv[1]);
  if (!disc) {
    return 1;
  }

  // The portrait, placed over the background near its bottom-right corner.
  const TCGVwImage& background = Catalogue[backgroundRow].Image;
  TCGVwImage portrait = Catalogue[portraitRow].Image;
  portrait.Backdrop = &background;
  portrait.PosX = static_cast<std::uint16_t>(background.Width - portrait.Width - 8);
  portrait.PosY = static_cast<std::uint16_t>(background.Height - portrait.Height - 8);

  cgvw::DecodeOptions options;
  options.backdrop = true;
  cgvw::Problem problem;
  const cgvw::Result<cgvw::Picture> picture = cgvw::Decode(portrait, *disc, options, &problem);
  if (!picture) {
    std::fprintf(stderr, "decoding failed: %s%s%s\n", cgvw::StatusText(picture.status()),
                 problem.file.empty() ? "" : ": ", problem.file.c_str());
    return 1;
  }

  // A BMP file is the file header followed by the picture's DIB.
  const auto header = picture->BmpFileHeader();
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(header.data()), header.size());
  out.write(reinterpret_cast<const char*>(picture->dib().data()),
            static_cast<std::streamsize>(picture->dib().size()));
  if (!out.flush()) {
    std::fprintf(stderr, "could not write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %ux%u, %u bits per pixel\n", argv[2], picture->width(), picture->height(),
              picture->bitCount());
  return 0;
}
