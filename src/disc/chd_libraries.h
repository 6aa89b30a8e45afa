// The functions of zlib, liblzma, libFLAC and libzstd that decompress CHD
// hunks (chd_codecs.cpp): linked in, or loaded when the first CHD file is
// opened (loaded_library.h).
#pragma once

#include <FLAC/stream_decoder.h>
#include <lzma.h>
#include <zlib.h>

#include <string>

#if TVRCGCV_CHD_ZSTD
#include <zstd.h>
#endif

namespace cgvw::disc::chd {

// Each function with its library.
#define TVRCGCV_CHD_FUNCTIONS(X)                              \
  X(zlib, inflateInit2_)                                      \
  X(zlib, inflate)                                            \
  X(zlib, inflateEnd)                                         \
  X(lzma, lzma_lzma_preset)                                   \
  X(lzma, lzma_raw_decoder)                                   \
  X(lzma, lzma_code)                                          \
  X(lzma, lzma_end)                                           \
  X(flac, FLAC__stream_decoder_new)                           \
  X(flac, FLAC__stream_decoder_delete)                        \
  X(flac, FLAC__stream_decoder_init_stream)                   \
  X(flac, FLAC__stream_decoder_process_until_end_of_metadata) \
  X(flac, FLAC__stream_decoder_process_single)                \
  X(flac, FLAC__stream_decoder_get_state)                     \
  X(flac, FLAC__stream_decoder_get_decode_position)
#if TVRCGCV_CHD_ZSTD
#define TVRCGCV_CHD_ZSTD_FUNCTIONS(X) X(zstd, ZSTD_decompress) X(zstd, ZSTD_isError)
#else
#define TVRCGCV_CHD_ZSTD_FUNCTIONS(X)
#endif

struct Libraries {
#define TVRCGCV_FIELD(library, name) decltype(&::name) name = nullptr;
  TVRCGCV_CHD_FUNCTIONS(TVRCGCV_FIELD)
  TVRCGCV_CHD_ZSTD_FUNCTIONS(TVRCGCV_FIELD)
#undef TVRCGCV_FIELD
  std::string missing;  // why the codecs cannot be used
};

// The functions, loaded once; `missing` says why they cannot be used.
const Libraries& Lib();

}  // namespace cgvw::disc::chd
