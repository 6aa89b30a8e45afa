// Decoding from C: what a picture is, the caller's buffer checked against
// it, then the typed decode and its rows written as the caller asks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>

#include "cgvw/bytes.h"
#include "handles.h"

namespace {

using cgvw::c_api::Fail;

// The decoder's problem text of a typed call, and its status.
int Typed(cgvw_decoder* decoder, const cgvw::Problem& problem, cgvw::Status status) noexcept {
  try {
    return Fail(decoder, static_cast<int>(status), cgvw::c_api::ProblemText(problem, status));
  } catch (const std::bad_alloc&) {
    return Fail(decoder, static_cast<int>(status), "");
  }
}

// Starts a call: the problem of the one before goes; a null argument (named
// in the problem) is refused.
int Begin(cgvw_decoder* decoder, std::initializer_list<std::pair<const void*, const char*>> args) {
  decoder->problem.clear();
  for (const auto& [pointer, name] : args) {
    if (pointer == nullptr) {
      return Fail(decoder, CGVW_INVALID_ARGUMENT, std::string(name) + " is null");
    }
  }
  return CGVW_OK;
}

cgvw_info InfoOf(const cgvw::PictureInfo& picture) {
  cgvw_info info{};
  info.width = picture.width;
  info.height = picture.height;
  info.bits_per_pixel = picture.bitCount;
  info.colours = picture.colourEntries;
  info.dib_size = picture.dibSize;
  info.native_size = std::uint64_t{info.height} * cgvw_row_bytes(&info, CGVW_FORMAT_NATIVE);
  info.rgb8_size = std::uint64_t{info.height} * cgvw_row_bytes(&info, CGVW_FORMAT_RGB8);
  info.rgba8_size = std::uint64_t{info.height} * cgvw_row_bytes(&info, CGVW_FORMAT_RGBA8);
  return info;
}

// Whether the output can take the picture: a format, a stride and a buffer
// that hold its rows, and room for its palette if one is given.
int CheckOutput(cgvw_decoder* decoder, const cgvw_info& info, const cgvw_output& output) {
  const std::size_t row = cgvw_row_bytes(&info, output.format);
  if (row == 0) {
    return Fail(decoder, CGVW_INVALID_ARGUMENT,
                "format " + std::to_string(output.format) + " is none of CGVW_FORMAT_");
  }
  if ((output.flags & ~CGVW_BOTTOM_UP) != 0) {
    return Fail(decoder, CGVW_INVALID_ARGUMENT,
                "flags " + std::to_string(output.flags) + " are not CGVW_BOTTOM_UP");
  }
  const std::size_t stride = output.stride == 0 ? row : output.stride;
  if (stride < row) {
    return Fail(decoder, CGVW_INVALID_ARGUMENT,
                "stride " + std::to_string(stride) + " is less than a row's " +
                    std::to_string(row) + " bytes");
  }
  if (output.pixels == nullptr) {
    return Fail(decoder, CGVW_INVALID_ARGUMENT, "pixels is null");
  }
  // The rows before the last at the stride, then the last row's own bytes;
  // a stride so large that this passes 64 bits fits no buffer.
  const std::uint64_t rowsBefore = info.height == 0 ? 0 : info.height - 1u;
  if (rowsBefore != 0 && stride > (UINT64_MAX - row) / rowsBefore) {
    return Fail(decoder, CGVW_BUFFER_TOO_SMALL,
                "stride " + std::to_string(stride) + " is too large");
  }
  const std::uint64_t needed = std::uint64_t{stride} * rowsBefore + row;
  if (needed > output.size) {
    return Fail(decoder, CGVW_BUFFER_TOO_SMALL,
                "the picture needs " + std::to_string(needed) + " bytes; size is " +
                    std::to_string(output.size));
  }
  if (output.palette != nullptr && output.palette_size < std::size_t{4} * info.colours) {
    return Fail(decoder, CGVW_BUFFER_TOO_SMALL,
                "the palette needs " + std::to_string(4 * info.colours) +
                    " bytes; palette_size is " + std::to_string(output.palette_size));
  }
  return CGVW_OK;
}

// The typed decode of the picture, with the decoder's options; the problem
// text on failure.
int DecodePicture(cgvw_decoder* decoder, cgvw_source* source, const TCGVwImage* image,
                  cgvw::Result<cgvw::Picture>* picture) {
  cgvw::Problem problem;
  *picture = cgvw::Decode(*image, *source->source, decoder->options, &problem);
  if (!*picture) {
    return Typed(decoder, problem, picture->status());
  }
  decoder->missingBytes = (*picture)->missingSourceBytes();
  return CGVW_OK;
}

}  // namespace

extern "C" {

std::size_t cgvw_row_bytes(const cgvw_info* info, int format) {
  if (info == nullptr) {
    return 0;
  }
  const std::size_t width = info->width;
  switch (format) {
    case CGVW_FORMAT_NATIVE:
      return (width * info->bits_per_pixel + 7) / 8;
    case CGVW_FORMAT_RGB8:
      return width * 3;
    case CGVW_FORMAT_RGBA8:
      return width * 4;
  }
  return 0;
}

int cgvw_get_info(cgvw_decoder* decoder, const TCGVwImage* image, cgvw_info* info) {
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  if (const int status = Begin(decoder, {{image, "image"}, {info, "info"}}); status != CGVW_OK) {
    return status;
  }
  cgvw::Problem problem;
  const cgvw::Result<cgvw::PictureInfo> picture = cgvw::Inspect(*image, decoder->options, &problem);
  if (!picture) {
    return Typed(decoder, problem, picture.status());
  }
  *info = InfoOf(*picture);
  return CGVW_OK;
}

int cgvw_decode(cgvw_decoder* decoder, cgvw_source* source, const TCGVwImage* image,
                const cgvw_output* output) {
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  if (const int status = Begin(decoder, {{source, "source"}, {image, "image"}, {output, "output"}});
      status != CGVW_OK) {
    return status;
  }
  cgvw_info info;
  if (const int status = cgvw_get_info(decoder, image, &info); status != CGVW_OK) {
    return status;
  }
  if (const int status = CheckOutput(decoder, info, *output); status != CGVW_OK) {
    return status;
  }
  cgvw::Result<cgvw::Picture> picture = cgvw::Status::Unsupported;
  if (const int status = DecodePicture(decoder, source, image, &picture); status != CGVW_OK) {
    return status;
  }
  cgvw::c_api::WritePicture(picture->view(), *output);
  return CGVW_OK;
}

int cgvw_decode_bmp(cgvw_decoder* decoder, cgvw_source* source, const TCGVwImage* image, void** bmp,
                    std::size_t* size) {
  if (bmp != nullptr) {
    *bmp = nullptr;
  }
  if (size != nullptr) {
    *size = 0;
  }
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  if (const int status =
          Begin(decoder, {{source, "source"}, {image, "image"}, {bmp, "bmp"}, {size, "size"}});
      status != CGVW_OK) {
    return status;
  }
  cgvw::Result<cgvw::Picture> picture = cgvw::Status::Unsupported;
  if (const int status = DecodePicture(decoder, source, image, &picture); status != CGVW_OK) {
    return status;
  }
  const auto header = picture->BmpFileHeader();
  const std::span<const std::uint8_t> dib = picture->dib();
  if (dib.size() > SIZE_MAX - header.size()) {
    return Fail(decoder, CGVW_NO_MEMORY, "the file is larger than this system's memory can be");
  }
  auto* file = static_cast<std::uint8_t*>(std::malloc(header.size() + dib.size()));
  if (file == nullptr) {
    return Fail(decoder, CGVW_NO_MEMORY, "");
  }
  std::memcpy(file, header.data(), header.size());
  std::memcpy(file + header.size(), dib.data(), dib.size());
  *bmp = file;
  *size = header.size() + dib.size();
  return CGVW_OK;
}

void cgvw_free(void* bytes) {
  std::free(bytes);
}

}  // extern "C"
