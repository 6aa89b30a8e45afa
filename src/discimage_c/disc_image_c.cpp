// Disc images as sources of the C API: a cgvw::DiscImageSource behind a C
// source handle.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "cgvw/decode.h"
#include "cgvw/disc_image.h"
#include "cgvw/disc_image_c.h"

namespace {

// Puts `text` at `dest`, cut to `size` bytes with its terminator.
void PutText(const std::string& text, char* dest, std::size_t size) {
  if (dest == nullptr || size == 0) {
    return;
  }
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(dest, text.data(), length);
  dest[length] = '\0';
}

}  // namespace

extern "C" int cgvw_source_new_disc_image(const char* path, cgvw_source** source, char* problem,
                                          std::size_t problem_size) {
  PutText("", problem, problem_size);
  if (source == nullptr || path == nullptr) {
    if (source != nullptr) {
      *source = nullptr;
    }
    return CGVW_INVALID_ARGUMENT;
  }
  *source = nullptr;
  try {
    cgvw::ImageProblem why;
    cgvw::Result<std::unique_ptr<cgvw::DiscImageSource>> image =
        cgvw::DiscImageSource::Open(path, &why);
    if (!image) {
      PutText(why.text.empty() ? std::string(cgvw::StatusText(image.status())) : why.text, problem,
              problem_size);
      // Memory that ran out on the way is told as such, whichever layer met it.
      return why.error == std::errc::not_enough_memory ? CGVW_NO_MEMORY
                                                       : static_cast<int>(image.status());
    }
    *source = cgvw::MakeCSource(std::move(*image));
    return *source == nullptr ? CGVW_NO_MEMORY : CGVW_OK;
  } catch (const std::bad_alloc&) {
    return CGVW_NO_MEMORY;  // the path as a string
  }
}
