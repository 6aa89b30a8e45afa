// Decodes the first background of the catalogue from bytes in memory and
// writes it as a BMP file.
//
//   decode_from_memory <bg000_0.bg> <out.bmp>
#include <fstream>
#include <iterator>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/decode.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};

  cgvw::MemorySource disc;
  disc.Add("bg000_0.bg", bytes);
  const cgvw::Result<cgvw::Picture> picture = cgvw::Decode(Catalogue[0].Image, disc);
  if (!picture) {
    return 1;
  }
  const auto header = picture->BmpFileHeader();
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(header.data()), header.size());
  out.write(reinterpret_cast<const char*>(picture->dib().data()), picture->dib().size());
  return out ? 0 : 1;
}
