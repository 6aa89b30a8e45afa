// The codecs' libraries (chd_libraries.h).
#include "chd_libraries.h"

#include "loaded_library.h"

namespace cgvw::disc::chd {
namespace {

Libraries Load() {
  Libraries functions;
#if TVRCGCV_CHD_LOADED
  LoadedLibrary zlib(TVRCGCV_SONAME_ZLIB);
  LoadedLibrary lzma(TVRCGCV_SONAME_LZMA);
  LoadedLibrary flac(TVRCGCV_SONAME_FLAC);
#define TVRCGCV_FIND(library, name) library.Find(#name, &functions.name);
  TVRCGCV_CHD_FUNCTIONS(TVRCGCV_FIND)
  const LoadedLibrary* libraries[] = {&zlib, &lzma, &flac, nullptr};
#if TVRCGCV_CHD_ZSTD
  LoadedLibrary zstd(TVRCGCV_SONAME_ZSTD);
  TVRCGCV_CHD_ZSTD_FUNCTIONS(TVRCGCV_FIND)
  libraries[3] = &zstd;
#endif
#undef TVRCGCV_FIND
  for (const LoadedLibrary* library : libraries) {
    if (library != nullptr && functions.missing.empty()) {
      functions.missing = library->missing();
    }
  }
#else
#define TVRCGCV_LINK(library, name) functions.name = &::name;
  TVRCGCV_CHD_FUNCTIONS(TVRCGCV_LINK)
  TVRCGCV_CHD_ZSTD_FUNCTIONS(TVRCGCV_LINK)
#undef TVRCGCV_LINK
#endif
  return functions;
}

}  // namespace

const Libraries& Lib() {
  static const Libraries functions = Load();
  return functions;
}

}  // namespace cgvw::disc::chd
