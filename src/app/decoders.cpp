#include "decoders.h"

#include <new>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"

namespace app {

void DecodedRow::Release() noexcept {
  if (block) {
    platform::GlobalUnlock(block.get());
    block.Reset();
  }
  owned = cgvw::Picture();
  picture.reset();
}

void ClassicDecoder::Decode(std::size_t row, DecodedRow* decoded) noexcept {
  const TCGVwImage* descriptor = &Catalogue[row].Image;
  std::uint32_t backdropFlag = 0;
  platform::HGLOBAL handle = nullptr;
  std::int32_t status = kCGVwNoMemory;
  try {
    status = CGVwDecode(&descriptor, &backdropFlag, &handle);
  } catch (const std::bad_alloc&) {
    handle = nullptr;
  }
  // After a failure the result slot is not used: there is nothing to free.
  if (status != kCGVwOk || handle == nullptr) {
    decoded->failure = RowFailure::kDecode;
    return;
  }
  decoded->block = platform::GlobalBlock(handle);  // freed with the row, locked or not
  const std::span<const std::uint8_t> bytes = platform::Lock(decoded->block);
  if (bytes.data() == nullptr) {
    decoded->failure = RowFailure::kLock;
    return;
  }
  // A block too small for what its header says is refused by the writer.
  decoded->picture = cgvw::PictureView::FromDib(bytes);
}

void TypedDecoder::Decode(std::size_t row, DecodedRow* decoded) noexcept {
  try {
    const TCGVwImage& image = Catalogue[row].Image;
    cgvw::Problem problem;
    cgvw::Result<cgvw::Picture> picture = cgvw::Decode(image, *disc_.source, {}, &problem);
    if (!picture) {
      decoded->failure = RowFailure::kDecode;
      decoded->why =
          problem.file.empty()
              ? std::string(cgvw::StatusText(picture.status()))
              : disc_.FileName(problem.file) + ": " +
                    disc_.ReadFailure(problem.file, {picture.status(), 0, problem.error});
      return;
    }
    if (picture->missingSourceBytes()) {
      decoded->failure = RowFailure::kIncomplete;
      decoded->why = "incomplete: " + IncompleteText(disc_, image);
      return;
    }
    decoded->owned = std::move(*picture);
    decoded->picture = decoded->owned.view();
  } catch (const std::bad_alloc&) {
    decoded->failure = RowFailure::kDecode;
    decoded->why = "out of memory";
  }
}

}  // namespace app
