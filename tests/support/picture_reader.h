// The independent reader of BMP and PNG files of the tests: stb_image
// (Debian's libstb-dev), compiled into each test source that includes this
// as functions of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace testing_support {

// A picture file read as rows of RGB, top first; empty when it cannot be
// read (stbi_failure_reason() says why).
[[maybe_unused]] static std::vector<std::uint8_t> Rgb(std::span<const std::uint8_t> file,
                                                      int* width, int* height) {
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), width, height,
                                          &channels, 3);
  if (pixels == nullptr) {
    return {};
  }
  std::vector<std::uint8_t> rgb(pixels, pixels + static_cast<std::size_t>(*width) * *height * 3);
  stbi_image_free(pixels);
  return rgb;
}

}  // namespace testing_support
