// Checks the static Windows builds of libspng and zlib that
// scripts/windows-deps.sh makes. Run by run.sh in a scratch directory:
// writes two PNG files there, reads them back, and ends with the line "N
// passed, N failed"; the exit status is 0 only if nothing failed.
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
  ++(ok ? passed : failed);
}

// Writes a PNG file with libspng; returns the libspng error (0: none).
int write_png(const char* path, spng_ihdr ihdr, const spng_plte* plte,
              const std::vector<unsigned char>& image) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr)
    return -1;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  int error = spng_set_png_file(ctx, file);
  if (error == 0)
    error = spng_set_ihdr(ctx, &ihdr);
  if (error == 0 && plte != nullptr)
    error = spng_set_plte(ctx, const_cast<spng_plte*>(plte));
  if (error == 0)
    error = spng_encode_image(ctx, image.data(), image.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  spng_ctx_free(ctx);
  if (std::fclose(file) != 0 && error == 0)
    error = -1;
  return error;
}

struct Png {
  int error = 0;
  spng_ihdr ihdr{};
  spng_plte plte{};
  std::vector<unsigned char> image;  // as stored (SPNG_FMT_PNG)
  std::vector<unsigned char> rgb;    // as 8-bit RGB
};

Png read_png(const char* path) {
  Png png;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    png.error = -1;
    return png;
  }
  spng_ctx* ctx = spng_ctx_new(0);
  std::size_t size = 0;
  png.error = spng_set_png_file(ctx, file);
  if (png.error == 0)
    png.error = spng_get_ihdr(ctx, &png.ihdr);
  if (png.error == 0 && png.ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
    png.error = spng_get_plte(ctx, &png.plte);
  for (int format : {SPNG_FMT_PNG, SPNG_FMT_RGB8}) {
    auto& out = format == SPNG_FMT_PNG ? png.image : png.rgb;
    if (png.error == 0)
      png.error = spng_decoded_image_size(ctx, format, &size);
    if (png.error != 0)
      break;
    out.resize(size);
    png.error = spng_decode_image(ctx, out.data(), out.size(), format, 0);
    // A second decode needs the file from its start, in a new context.
    spng_ctx_free(ctx);
    std::rewind(file);
    ctx = spng_ctx_new(0);
    if (png.error == 0)
      png.error = spng_set_png_file(ctx, file);
  }
  spng_ctx_free(ctx);
  std::fclose(file);
  return png;
}

void check_png() {
  std::puts("--- PNG files (libspng, zlib)");
  // 4-bit indexed, 5 x 3: two pixels a byte, the last byte of a row half used.
  spng_plte plte{};
  plte.n_entries = 16;
  for (std::uint32_t i = 0; i < 16; ++i)
    plte.entries[i] = {static_cast<std::uint8_t>(i * 17), static_cast<std::uint8_t>(255 - i * 9),
                       static_cast<std::uint8_t>(i * i), 0};
  const unsigned width = 5, height = 3, stride = 3;
  std::vector<unsigned char> packed(stride * height, 0);
  std::vector<unsigned char> expected_rgb;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const unsigned index = (x + 5 * y + 3) % 16;
      packed[y * stride + x / 2] |= static_cast<unsigned char>(x % 2 == 0 ? index << 4 : index);
      const spng_plte_entry& color = plte.entries[index];
      expected_rgb.insert(expected_rgb.end(), {color.red, color.green, color.blue});
    }
  spng_ihdr ihdr{width, height, 4, SPNG_COLOR_TYPE_INDEXED, 0, 0, 0};
  int error = write_png("indexed.png", ihdr, &plte, packed);
  check(error == 0, std::string("indexed.png written: ") + spng_strerror(error));
  Png png = read_png("indexed.png");
  check(png.error == 0 && png.ihdr.width == width && png.ihdr.height == height &&
            png.ihdr.bit_depth == 4 && png.ihdr.color_type == SPNG_COLOR_TYPE_INDEXED,
        "indexed.png reads back as 5 x 3, 4-bit indexed");
  bool same_palette = png.plte.n_entries == 16;
  for (std::uint32_t i = 0; same_palette && i < 16; ++i)
    same_palette = std::memcmp(&png.plte.entries[i], &plte.entries[i], 3) == 0;
  check(same_palette, "its 16 palette entries");
  check(png.image == packed && png.rgb == expected_rgb, "its pixels, as indices and as RGB");

  // 24-bit RGB, 4 x 3.
  std::vector<unsigned char> rgb;
  for (unsigned y = 0; y < 3; ++y)
    for (unsigned x = 0; x < 4; ++x)
      rgb.insert(rgb.end(),
                 {static_cast<unsigned char>(x * 60), static_cast<unsigned char>(y * 100),
                  static_cast<unsigned char>(x * y * 37 + 10)});
  ihdr = {4, 3, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
  error = write_png("rgb.png", ihdr, nullptr, rgb);
  check(error == 0, std::string("rgb.png written: ") + spng_strerror(error));
  png = read_png("rgb.png");
  check(png.error == 0 && png.ihdr.width == 4 && png.ihdr.height == 3 && png.ihdr.bit_depth == 8 &&
            png.ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && png.rgb == rgb,
        "rgb.png reads back as the same 4 x 3 RGB pixels");
}

}  // namespace

int main() {
  check_png();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
