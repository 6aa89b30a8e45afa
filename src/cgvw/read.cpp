// Reading ranges of source files into fresh buffers, and palettes.
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "cgvw/colour.h"
#include "cgvw/core.h"
#include "platform/temp_buffer.h"

namespace cgvw::core {

namespace {

// Says in the job's problem, if it has one, what passes which limit:
// "<what> <size> <verb> over the <limit>".
Status OverLimit(const Job& job, const char* what, std::uint64_t size, const char* verbAndLimit,
                 std::uint64_t limit) {
  if (job.problem != nullptr) {
    try {
      job.problem->field = std::string(what) + ' ' + std::to_string(size) + ' ' + verbAndLimit +
                           ' ' + std::to_string(limit);
    } catch (const std::bad_alloc&) {
      job.problem->field.clear();  // the status still says what happened
    }
  }
  return Status::TooLarge;
}

}  // namespace

Status CheckLimits(const Job& job, const TCGVwImage& image, std::uint64_t pictureBytes,
                   std::initializer_list<LimitedRange> ranges) {
  const Limits& limits = job.options.limits;
  if (image.Width > limits.maxWidth) {
    return OverLimit(job, "Width", image.Width, "is over the width limit of", limits.maxWidth);
  }
  if (image.Height > limits.maxHeight) {
    return OverLimit(job, "Height", image.Height, "is over the height limit of", limits.maxHeight);
  }
  if (pictureBytes > limits.maxPictureBytes) {
    return OverLimit(job, "a picture of", pictureBytes, "bytes is over the picture limit of",
                     limits.maxPictureBytes);
  }
  for (const LimitedRange& range : ranges) {
    if (range.size > limits.maxReadBytes) {
      return OverLimit(job, range.field, range.size, "is over the read limit of",
                       limits.maxReadBytes);
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
    return Status::BadDescriptor;  // no file named: nothing to open
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
  if (depth == nullptr || depth->paletteColours == 0) {
    return Status::Unsupported;
  }
  if (image.PalFile == nullptr) {
    return Status::BadDescriptor;
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
