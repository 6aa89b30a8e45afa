// The typed API: decoded pictures on the heap, and the statuses' texts.
#include <cstdlib>
#include <optional>
#include <utility>

#include "cgvw/bytes.h"
#include "cgvw/core.h"
#include "cgvw/decode.h"
#include "platform/temp_buffer.h"

namespace cgvw {
namespace {

// Pictures live on the general heap; the fault seam's HeapBuffer point and
// live count cover them as they cover temporary buffers.
class HeapStore final : public core::Store {
 public:
  Status Obtain(std::uint64_t size, bool zeroFilled, core::Block* block) noexcept override {
    *block = {};
    if (size > SIZE_MAX) {
      return Status::NoMemory;
    }
    void* data = platform::AllocateHeapBlock(static_cast<std::size_t>(size), zeroFilled);
    if (data == nullptr) {
      return Status::NoMemory;
    }
    *block = {data, {static_cast<std::uint8_t*>(data), static_cast<std::size_t>(size)}};
    return Status::Ok;
  }

  void Release(core::Block* block) noexcept override {
    if (block->handle != nullptr) {
      platform::FreeHeapBlock(block->handle);
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
    // A tiled block may hold more than its DIB.
    picture.view_ =
        PictureView::FromDib(block.bytes.first(static_cast<std::size_t>(layout.blockSize)))
            .value_or(PictureView{});
    picture.missing_ = missing;
    return picture;
  }
};

void Picture::FreeBytes::operator()(std::uint8_t* bytes) const noexcept {
  core::Block block{bytes, {}};
  HeapStore().Release(&block);
}

Picture::Picture(Picture&& other) noexcept {
  *this = std::move(other);
}

// The bytes and the view of them go along, so that the moved-from Picture
// is an empty one.
Picture& Picture::operator=(Picture&& other) noexcept {
  if (this != &other) {
    bytes_ = std::move(other.bytes_);
    view_ = std::exchange(other.view_, PictureView{});
    missing_ = std::exchange(other.missing_, false);
  }
  return *this;
}

std::optional<PictureView> PictureView::FromDib(std::span<const std::uint8_t> dib) noexcept {
  if (dib.size() < kInfoHeaderSize) {
    return std::nullopt;
  }
  const std::uint16_t bitCount = LoadLE16(&dib[14]);
  const DepthInfo* depth = DepthOfBitCount(bitCount);
  if (depth == nullptr) {
    return std::nullopt;
  }
  PictureView view;
  view.imageSize_ = LoadLE32(&dib[20]);
  view.pixelOffset_ = depth->PixelOffset();
  const std::uint64_t size = std::uint64_t{view.pixelOffset_} + view.imageSize_;
  if (size > dib.size()) {
    return std::nullopt;
  }
  view.dib_ = dib.first(static_cast<std::size_t>(size));
  view.width_ = LoadLE32(&dib[4]);
  view.height_ = LoadLE32(&dib[8]);
  view.bitCount_ = bitCount;
  view.stride_ = static_cast<std::uint32_t>((std::uint64_t{view.width_} * bitCount + 31) / 32 * 4);
  return view;
}

std::span<const std::uint8_t> PictureView::colourTable() const {
  return dib_.empty() ? dib_ : dib_.subspan(kInfoHeaderSize, pixelOffset_ - kInfoHeaderSize);
}

std::span<const std::uint8_t> PictureView::pixels() const {
  return dib_.empty() ? dib_ : dib_.subspan(pixelOffset_);
}

std::span<const std::uint8_t> PictureView::row(std::uint32_t y) const {
  const std::uint64_t start = std::uint64_t{height_ - 1 - y} * stride_;
  if (y >= height_ || start + stride_ > imageSize_) {
    return {};
  }
  return pixels().subspan(static_cast<std::size_t>(start), stride_);
}

std::array<std::uint8_t, 14> PictureView::BmpFileHeader() const {
  std::array<std::uint8_t, 14> header{'B', 'M'};
  StoreLE32(&header[2], static_cast<std::uint32_t>(kFileHeaderSize + dib_.size()));  // bfSize
  StoreLE32(&header[10], kFileHeaderSize + pixelOffset_);                            // bfOffBits
  return header;
}

SourceRanges RangesOf(const TCGVwImage& image) noexcept {
  SourceRanges ranges;
  const auto add = [&](const char* role, const char* file, std::uint32_t offset,
                       std::uint32_t size) {
    ranges.items[ranges.count++] = {role, file, offset, size};
  };
  const DepthInfo* depth = DepthOf(image.Flags);
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  if (depth == nullptr || (kind != cgvw_flags::kKindPlain && kind != cgvw_flags::kKindTiled)) {
    return ranges;
  }
  if (depth->paletteColours != 0 && image.PalFile != nullptr) {
    add("palette", image.PalFile, image.PalOffset, depth->paletteColours * 2);
  }
  const bool tiled = kind == cgvw_flags::kKindTiled;
  const auto* map = tiled ? static_cast<const TCGVwChunk*>(image.Extra) : nullptr;
  if (map != nullptr && map->FileName != nullptr) {
    add("map", map->FileName, map->Offset, map->Size);
  }
  if (image.PixFile != nullptr) {
    add(tiled ? "tiles" : "pixels", image.PixFile, image.PixOffset, image.PixSize);
  }
  return ranges;
}

namespace {

// The descriptor a typed call decodes: the one given, or under the backdrop
// option the composite of it over its backdrop.
struct Chosen {
  std::optional<core::BackdropComposite> backdrop;
  const TCGVwImage* image = nullptr;
};

// The start of every typed call: the problem cleared, the descriptor
// checked, and the descriptor to decode chosen.
Status Choose(const TCGVwImage& image, const DecodeOptions& options, Problem* problem,
              Chosen* chosen) {
  if (problem != nullptr) {  // nothing of an earlier call stays in it
    problem->file.clear();
    problem->error.clear();
    problem->field.clear();
  }
  const bool overBackdrop = options.backdrop && image.Backdrop != nullptr;
  if (const Status status = core::CheckDescriptor(image, overBackdrop, options.maxNesting,
                                                  problem == nullptr ? nullptr : &problem->field);
      status != Status::Ok) {
    return status;
  }
  chosen->image = overBackdrop ? &chosen->backdrop.emplace(image).image : &image;
  return Status::Ok;
}

// Inspect reads nothing.
class NoSource final : public Source {
 public:
  ReadResult Read(std::string_view, std::uint64_t, std::span<std::uint8_t>) noexcept override {
    return {Status::CannotOpen, 0, {}};
  }
};

}  // namespace

Result<Picture> Decode(const TCGVwImage& image, Source& source, const DecodeOptions& options,
                       Problem* problem) noexcept {
  Chosen chosen;
  HeapStore store;
  core::Job job{source, store, options, problem};
  core::Block block;
  if (Status status = Choose(image, options, problem, &chosen);
      status != Status::Ok ||
      (status = core::Decode(job, *chosen.image, 0, &block)) != Status::Ok) {
    return status;
  }
  return PictureMaker::Make(block, *chosen.image, job.missingBytes);
}

Result<PictureInfo> Inspect(const TCGVwImage& image, const DecodeOptions& options,
                            Problem* problem) noexcept {
  Chosen chosen;
  NoSource source;
  HeapStore store;
  const core::Job job{source, store, options, problem};
  core::Plan plan;
  if (Status status = Choose(image, options, problem, &chosen);
      status != Status::Ok || (status = core::PlanOf(job, *chosen.image, 0, &plan)) != Status::Ok ||
      (status = plan.onceHeld) != Status::Ok) {
    return status;
  }
  PictureInfo info;
  info.width = chosen.image->Width;
  info.height = chosen.image->Height;
  info.bitCount = plan.dib.bitCount;
  info.colourEntries = plan.dib.colourEntries;
  info.stride = plan.dib.rowStride;
  info.dibSize = plan.dib.blockSize;
  return info;
}

const char* StatusText(Status status) noexcept {
  static constexpr std::pair<Status, const char*> kTexts[] = {
      {Status::Ok, "done"},
      {Status::Unsupported, "a kind, depth or mode that nothing decodes"},
      {Status::CannotOpen, "a source file cannot be opened"},
      {Status::NoMemory, "out of memory"},
      {Status::ReadFailed, "a source file cannot be read"},
      {Status::TooLarge, "larger than the limits allow"},
      {Status::BadDescriptor, "a descriptor field is missing or zero"},
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
