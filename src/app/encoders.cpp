#include "encoders.h"

#include <cstdio>
#include <new>

#include "cgvw/bytes.h"
#include "platform/output_files.h"
#include "png_writer.h"

namespace app {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;

// bfOffBits for a bit count: 118, 1078 or 54; 0 for any other.
std::uint32_t PixelFileOffset(std::uint16_t bitCount) {
  switch (bitCount) {
    case 4:
      return kFileHeaderSize + 40 + 16 * 4;
    case 8:
      return kFileHeaderSize + 40 + 256 * 4;
    case 24:
      return kFileHeaderSize + 40;
    default:
      return 0;
  }
}

std::uint64_t BmpFileSize(const cgvw::PictureView& picture) {
  return std::uint64_t{PixelFileOffset(picture.bitCount())} + picture.imageSize();
}

}  // namespace

bool BmpEncoder::CanEncode(const cgvw::PictureView& picture, std::string* why) const {
  if (PixelFileOffset(picture.bitCount()) == 0 || BmpFileSize(picture) > 0xFFFFFFFFu) {
    *why = "too large for a BMP file";
    return false;
  }
  return true;
}

bool BmpEncoder::Encode(const cgvw::PictureView& picture, EncodedFile* file, std::string* why) {
  if (!CanEncode(picture, why)) {
    return false;
  }
  record_.bfOffBits = PixelFileOffset(picture.bitCount());
  record_.bfSize = static_cast<std::uint32_t>(BmpFileSize(picture));
  cgvw::StoreLE16(&file->header[0], record_.bfType);
  cgvw::StoreLE32(&file->header[2], record_.bfSize);
  cgvw::StoreLE16(&file->header[6], record_.bfReserved1);
  cgvw::StoreLE16(&file->header[8], record_.bfReserved2);
  cgvw::StoreLE32(&file->header[10], record_.bfOffBits);
  file->headerSize = kFileHeaderSize;
  file->body = picture.dib().first(record_.bfSize - kFileHeaderSize);
  return true;
}

bool PngEncoder::CanEncode(const cgvw::PictureView& /*picture*/, std::string* why) const {
  return PngAvailable(why);
}

bool PngEncoder::Encode(const cgvw::PictureView& picture, EncodedFile* file, std::string* why) {
  if (!EncodePng(picture, &file->owned, why)) {
    return false;
  }
  file->headerSize = 0;
  file->body = file->owned;
  return true;
}

// The file goes to a temporary name beside the final one and is renamed
// over it once it is complete and closed: the final name holds the earlier
// file or the whole new one, never part of it.
WriteOutcome WritePictureFile(const std::string& path, const cgvw::PictureView& picture,
                              Encoder& encoder, std::string* why) noexcept {
  try {
    if (!encoder.CanEncode(picture, why)) {
      return WriteOutcome::kRefused;
    }
    std::error_code error;
    platform::OutputFile file;
    if (!file.Create(path, &error)) {
      *why = error.message();
      return WriteOutcome::kCreateFailed;
    }
    EncodedFile encoded;
    if (!encoder.Encode(picture, &encoded, why)) {
      return WriteOutcome::kWriteFailed;  // the temporary file goes with `file`
    }
    const bool header = encoded.headerSize == 0 ||
                        file.Write(std::span(encoded.header).first(encoded.headerSize), &error);
    if (header && file.Write(encoded.body, &error) && file.Commit(&error)) {
      return WriteOutcome::kWritten;
    }
    *why = error.message();
    return WriteOutcome::kWriteFailed;
  } catch (const std::bad_alloc&) {
    *why = "out of memory";
    return WriteOutcome::kWriteFailed;
  }
}

OutputName::OutputName(std::size_t row, OutputFormat format) : text{} {
  std::snprintf(text, sizeof text, "tvrcg%03d.%s", static_cast<int>(row),
                format == OutputFormat::kPng ? "png" : "bmp");
}

}  // namespace app
