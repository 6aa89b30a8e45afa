// Small pieces shared by the decoders: calling a service and reading a range
// of a source file into a fresh temporary buffer.
#pragma once

#include <cstdint>
#include <limits>

#include "cgvw/cgvw.h"
#include "platform/temp_buffer.h"

namespace cgvw {

// The picture a decoder's first argument points at.
inline const TCGVwImage* DescriptorOf(const void* image) {
  return image == nullptr ? nullptr : *static_cast<const TCGVwImage* const*>(image);
}

// Calls a ServiceTable slot with a null second argument and a scratch result.
inline std::int32_t CallService(std::size_t slot, const void* args) {
  std::int32_t scratch = 0;
  return ServiceTable[slot](args, nullptr, &scratch);
}

// Obtains a zero-filled temporary buffer of `size` bytes. Empty when the size
// is 0, larger than a read request can state, or not available.
inline platform::TempBuffer ObtainBuffer(std::uint32_t size) {
  if (size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return {};
  }
  return platform::TempBuffer::Obtain(size);
}

// Reads `buffer.size()` bytes at `offset` of `fileName` through the source
// reader service. Returns the reader's status.
inline std::int32_t ReadInto(const platform::TempBuffer& buffer, const char* fileName,
                             std::uint32_t offset) {
  if (fileName == nullptr) {
    return kCGVwCannotOpen;
  }
  TArgs_CGVwReadFile00 read;
  read.Buffer = buffer.data();
  read.FileName = fileName;
  read.Offset = static_cast<std::int32_t>(offset);
  read.Size = static_cast<std::int32_t>(buffer.size());
  return CallService(kServiceReadFile, &read);
}

// Fills the colour table at `dest` from the picture's palette file.
inline std::int32_t ReadPalette(const TCGVwImage* image, std::uint8_t* dest) {
  TArgs_CGVwGetPalette00 palette;
  palette.Dest = dest;
  palette.Source = image;
  palette.Mode = 0;
  return CallService(kServiceGetPalette, &palette);
}

// Writes the picture's BITMAPINFOHEADER at `dest`.
inline void WriteInfoHeader(const TCGVwImage* image, std::uint8_t* dest) {
  TArgs_CGVwMakeInfoHeader00 header;
  header.Dest = dest;
  header.Image = image;
  CallService(kServiceMakeInfoHeader, &header);
}

}  // namespace cgvw
