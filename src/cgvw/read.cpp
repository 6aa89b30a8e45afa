// Reading ranges of source files into fresh buffers, and palettes.
#include <cstring>
#include <limits>
#include <new>

#include "cgvw/colour.h"
#include "cgvw/core.h"
#include "platform/temp_buffer.h"

namespace cgvw::core {

Status CheckLimits(const Job& job, std::uint64_t pictureBytes,
                   std::initializer_list<std::uint64_t> ranges) {
  const Limits& limits = job.options.limits;
  if (pictureBytes > limits.maxPictureBytes) {
    return Status::TooLarge;
  }
  for (const std::uint64_t range : ranges) {
    if (range > limits.maxReadBytes) {
      return Status::TooLarge;
    }
  }
  return Status::Ok;
}

platform::TempBuffer ObtainBuffer(std::uint32_t size, bool zeroFilled) {
  if (size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return {};
  }
  return platform::TempBuffer::Obtain(size, zeroFilled);
}

Status ReadRange(Job& job, const char* name, std::uint32_t offset, std::span<std::uint8_t> buffer) {
  if (name == nullptr) {
    return Status::CannotOpen;
  }
  const ReadResult result = job.source.Read(name, offset, buffer);
  if (result.status != Status::Ok) {
    if (job.problem != nullptr) {
      try {
        job.problem->file = name;
      } catch (const std::bad_alloc&) {
        job.problem->file.clear();  // the status still says what happened
      }
      job.problem->error = result.error;
    }
    return result.status;
  }
  if (result.got < buffer.size()) {
    job.missingBytes = true;
    std::memset(buffer.data() + result.got, 0, buffer.size() - result.got);
  }
  return Status::Ok;
}

Status ReadNewBuffer(Job& job, const char* name, std::uint32_t offset, std::uint32_t size,
                     platform::TempBuffer* buffer) {
  *buffer = ObtainBuffer(size, false);  // every byte is read or set to 0
  if (!*buffer) {
    return Status::NoMemory;
  }
  return ReadRange(job, name, offset, buffer->span());
}

Status ReadPalette(Job& job, const TCGVwImage& image, std::uint8_t* dest) {
  const DepthInfo* depth = DepthOf(image.Flags);
  if (depth == nullptr || depth->paletteColours == 0 || image.PalFile == nullptr) {
    return Status::Unsupported;
  }
  // Zero-filled: colours missing from a short palette file come out black.
  platform::TempBuffer words;
  if (const Status status =
          ReadNewBuffer(job, image.PalFile, image.PalOffset, depth->paletteColours * 2, &words);
      status != Status::Ok) {
    return status;
  }
  ColourWordsToQuads(words.data(), depth->paletteColours, (image.Flags & cgvw_flags::kSwapOff) != 0,
                     dest);
  return Status::Ok;
}

}  // namespace cgvw::core
