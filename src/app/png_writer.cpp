// PNG encoding with libspng. On Windows, in the web page's module and in the
// statically linked Linux program libspng is linked in; elsewhere on Linux
// it is loaded (libspng.so.0) only when a PNG file is asked for, so that the
// runs that write BMP files start without it.
#include "png_writer.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if TVRCGCV_WITH_PNG
#include "spng.h"
#endif
#if TVRCGCV_SPNG_LOADED
#include <dlfcn.h>
#endif

namespace app {

#if TVRCGCV_WITH_PNG
namespace {

// The functions of libspng used here.
struct Spng {
  decltype(&spng_ctx_new) ctxNew = nullptr;
  decltype(&spng_ctx_free) ctxFree = nullptr;
  decltype(&spng_set_option) setOption = nullptr;
  decltype(&spng_set_ihdr) setIhdr = nullptr;
  decltype(&spng_set_plte) setPlte = nullptr;
  decltype(&spng_encode_image) encodeImage = nullptr;
  decltype(&spng_get_png_buffer) getPngBuffer = nullptr;
  decltype(&spng_strerror) strerror = nullptr;
  std::string missing;  // why there is none
};

#if TVRCGCV_SPNG_LOADED
template <typename Function>
void Resolve(void* library, const char* name, Function* function, std::string* missing) {
  *function = reinterpret_cast<Function>(::dlsym(library, name));
  if (*function == nullptr && missing->empty()) {
    *missing = std::string("libspng.so.0 has no ") + name;
  }
}

Spng LoadSpng() {
  Spng spng;
  void* library = ::dlopen("libspng.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = ::dlerror();
    spng.missing = std::string("PNG files need libspng (libspng0), which cannot be loaded: ") +
                   (error != nullptr ? error : "unknown error");
    return spng;
  }
  Resolve(library, "spng_ctx_new", &spng.ctxNew, &spng.missing);
  Resolve(library, "spng_ctx_free", &spng.ctxFree, &spng.missing);
  Resolve(library, "spng_set_option", &spng.setOption, &spng.missing);
  Resolve(library, "spng_set_ihdr", &spng.setIhdr, &spng.missing);
  Resolve(library, "spng_set_plte", &spng.setPlte, &spng.missing);
  Resolve(library, "spng_encode_image", &spng.encodeImage, &spng.missing);
  Resolve(library, "spng_get_png_buffer", &spng.getPngBuffer, &spng.missing);
  Resolve(library, "spng_strerror", &spng.strerror, &spng.missing);
  return spng;  // the library stays loaded for the rest of the run
}
#else
Spng LoadSpng() {
  Spng spng;
  spng.ctxNew = spng_ctx_new;
  spng.ctxFree = spng_ctx_free;
  spng.setOption = spng_set_option;
  spng.setIhdr = spng_set_ihdr;
  spng.setPlte = spng_set_plte;
  spng.encodeImage = spng_encode_image;
  spng.getPngBuffer = spng_get_png_buffer;
  spng.strerror = spng_strerror;
  return spng;
}
#endif

const Spng& Library() {
  static const Spng spng = LoadSpng();
  return spng;
}

// The picture's rows from the top, each as many bytes as its pixels take
// (PNG rows have no padding): indices as they stand (4-bit rows pack the
// left pixel into the high nibble in both formats), colours turned from
// blue, green, red into red, green, blue.
std::vector<std::uint8_t> PngRows(const cgvw::PictureView& picture) {
  const std::size_t rowBytes = (std::size_t{picture.width()} * picture.bitCount() + 7) / 8;
  std::vector<std::uint8_t> rows(rowBytes * picture.height());
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    const std::span<const std::uint8_t> in = picture.row(y);
    std::uint8_t* out = rows.data() + y * rowBytes;
    if (picture.bitCount() != 24) {
      std::memcpy(out, in.data(), rowBytes);
      continue;
    }
    for (std::size_t x = 0; x < picture.width(); ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return rows;
}

// libspng's failures that come of memory running out (zlib's own included).
bool OutOfMemory(int error) {
  return error == SPNG_EMEM || error == SPNG_EZLIB_INIT;
}

bool Encode(const cgvw::PictureView& picture, std::vector<std::uint8_t>* png, std::string* why) {
  const Spng& spng = Library();
  if (!spng.missing.empty()) {
    *why = spng.missing;
    return false;
  }
  const std::unique_ptr<spng_ctx, decltype(spng.ctxFree)> context(spng.ctxNew(SPNG_CTX_ENCODER),
                                                                  spng.ctxFree);
  if (!context) {
    *why = "out of memory";
    return false;
  }
  const bool indexed = picture.bitCount() != 24;
  spng_ihdr header{};
  header.width = picture.width();
  header.height = picture.height();
  header.bit_depth = static_cast<std::uint8_t>(indexed ? picture.bitCount() : 8);
  header.color_type = indexed ? SPNG_COLOR_TYPE_INDEXED : SPNG_COLOR_TYPE_TRUECOLOR;
  spng_plte palette{};
  const std::span<const std::uint8_t> table = picture.colourTable();
  palette.n_entries = static_cast<std::uint32_t>(table.size() / 4);
  for (std::uint32_t i = 0; i < palette.n_entries; ++i) {
    palette.entries[i] = {table[4 * i + 2], table[4 * i + 1], table[4 * i], 255};
  }
  const std::vector<std::uint8_t> rows = PngRows(picture);
  int error = spng.setOption(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
  error = error != 0 ? error : spng.setIhdr(context.get(), &header);
  error = error != 0 || !indexed ? error : spng.setPlte(context.get(), &palette);
  error = error != 0 ? error
                     : spng.encodeImage(context.get(), rows.data(), rows.size(), SPNG_FMT_PNG,
                                        SPNG_ENCODE_FINALIZE);
  std::size_t size = 0;
  void* bytes = error != 0 ? nullptr : spng.getPngBuffer(context.get(), &size, &error);
  if (bytes == nullptr) {
    *why = OutOfMemory(error) ? "out of memory" : spng.strerror(error);
    return false;
  }
  const std::unique_ptr<void, decltype(&std::free)> owned(bytes, std::free);
  png->assign(static_cast<const std::uint8_t*>(bytes),
              static_cast<const std::uint8_t*>(bytes) + size);
  return true;
}

}  // namespace

bool PngAvailable(std::string* why) {
  *why = Library().missing;
  return why->empty();
}

bool EncodePng(const cgvw::PictureView& picture, std::vector<std::uint8_t>* png, std::string* why) {
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    if (picture.row(y).empty()) {
      *why = "the picture's rows are not all there";
      return false;
    }
  }
  try {
    return Encode(picture, png, why);
  } catch (const std::bad_alloc&) {
    *why = "out of memory";
    return false;
  }
}

#else
namespace {
constexpr const char* kNoPng = "this build writes no PNG files (it was built without libspng)";
}  // namespace

bool PngAvailable(std::string* why) {
  *why = kNoPng;
  return false;
}

bool EncodePng(const cgvw::PictureView& /*picture*/, std::vector<std::uint8_t>* /*png*/,
               std::string* why) {
  *why = kNoPng;
  return false;
}
#endif

}  // namespace app
