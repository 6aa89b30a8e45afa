// The typed API: decoded pictures on the heap, and the statuses' texts.
#include <cstdlib>
#include <optional>
#include <utility>

#include "cgvw/bytes.h"
#include "cgvw/core.h"
#include "cgvw/decode.h"
#include "platform/faults.h"

namespace cgvw {
namespace {

// Pictures live on the general heap; the fault seam's HeapBuffer point and
// live count cover them as they cover temporary buffers.
class HeapStore final : public core::Store {
 public:
  Status Obtain(std::uint64_t size, bool zeroFilled, core::Block* block) noexcept override {
    *block = {};
    if (size > SIZE_MAX || platform::faults::ShouldFail(platform::faults::Point::HeapBuffer)) {
      return Status::NoMemory;
    }
    const std::size_t bytes = size == 0 ? 1 : static_cast<std::size_t>(size);
    void* data = zeroFilled ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (data == nullptr) {
      return Status::NoMemory;
    }
    platform::faults::AdjustLive(&platform::faults::Live::heapBuffers, +1);
    *block = {data, {static_cast<std::uint8_t*>(data), static_cast<std::size_t>(size)}};
    return Status::Ok;
  }

  void Release(core::Block* block) noexcept override {
    if (block->handle != nullptr) {
      std::free(block->handle);
      platform::faults::AdjustLive(&platform::faults::Live::heapBuffers, -1);
    }
    *block = {};
  }
};

}  // namespace

// Makes a Picture of a block of the heap store.
class PictureMaker {
 public:
  static Picture Make(const core::Block& block, const TCGVwImage& image, bool missing) {
    const TDibLayout layout = *DibLayoutFor(image.Flags, image.Width, image.Height);
    Picture picture;
    picture.bytes_.reset(block.bytes.data());
    picture.size_ = static_cast<std::size_t>(layout.blockSize);  // a tiled block may hold more
    picture.width_ = image.Width;
    picture.height_ = image.Height;
    picture.bitCount_ = layout.bitCount;
    picture.stride_ = layout.rowStride;
    picture.pixelOffset_ = layout.pixelOffset;
    picture.missing_ = missing;
    return picture;
  }
};

void Picture::FreeBytes::operator()(std::uint8_t* bytes) const noexcept {
  core::Block block{bytes, {}};
  HeapStore().Release(&block);
}

// An empty Picture (made by default, or held by a failed Result) has no
// header to measure from: its parts are empty.
std::span<const std::uint8_t> Picture::colourTable() const {
  if (!bytes_) {
    return {};
  }
  return dib().subspan(kInfoHeaderSize, pixelOffset_ - kInfoHeaderSize);
}

std::span<const std::uint8_t> Picture::pixels() const {
  if (!bytes_) {
    return {};
  }
  return dib().subspan(pixelOffset_);
}

std::span<const std::uint8_t> Picture::row(std::uint32_t y) const {
  if (y >= height_) {
    return {};
  }
  return pixels().subspan(std::size_t{height_ - 1 - y} * stride_, stride_);
}

std::array<std::uint8_t, 14> Picture::BmpFileHeader() const {
  std::array<std::uint8_t, 14> header{'B', 'M'};
  StoreLE32(&header[2], static_cast<std::uint32_t>(kFileHeaderSize + size_));  // bfSize
  StoreLE32(&header[10], kFileHeaderSize + pixelOffset_);                      // bfOffBits
  return header;
}

Result<Picture> Decode(const TCGVwImage& image, Source& source, const DecodeOptions& options,
                       Problem* problem) noexcept {
  HeapStore store;
  core::Job job{source, store, options, problem};
  std::optional<core::BackdropComposite> backdrop;
  const TCGVwImage* chosen = &image;
  if (options.backdrop && image.Backdrop != nullptr) {
    chosen = &backdrop.emplace(image).image;
  }
  core::Block block;
  if (const Status status = core::Decode(job, *chosen, 0, &block); status != Status::Ok) {
    return status;
  }
  return PictureMaker::Make(block, *chosen, job.missingBytes);
}

const char* StatusText(Status status) noexcept {
  static constexpr std::pair<Status, const char*> kTexts[] = {
      {Status::Ok, "done"},
      {Status::Unsupported, "a kind, depth or mode that nothing decodes"},
      {Status::CannotOpen, "a source file cannot be opened"},
      {Status::NoMemory, "out of memory"},
      {Status::ReadFailed, "a source file cannot be read"},
      {Status::TooLarge, "larger than the limits allow"},
      {Status::BadDescriptor,
       "an incomplete descriptor (no map chunk, no layer list, or a layer without a picture)"},
      {Status::TooDeep, "composites nested too deeply"},
  };
  for (const auto& [which, text] : kTexts) {
    if (which == status) {
      return text;
    }
  }
  return "an unknown status";
}

}  // namespace cgvw
