// The classic entry points (cgvw.h) over the decoding core: the tables, the
// decoders and services with their argument records, global memory blocks
// for results, the drive of SourceRoot for bytes, and the "Step err" box.
#include <cassert>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "cgvw/cgvw.h"
#include "cgvw/colour.h"
#include "cgvw/core.h"
#include "platform/handles.h"

using cgvw::Status;

const std::array<TCGVwOperation, kDecoderSlots> DecoderTable = {
    CGVwDecodePlain,      // 0
    CGVwDecodeTiled,      // 1
    nullptr,              // 2
    CGVwDecodeComposite,  // 3
};

const std::array<TCGVwOperation, kServiceSlots> ServiceTable = {
    CGVwReadFile,        // 0
    nullptr,             // 1
    CGVwGetPalette,      // 2
    nullptr,             // 3
    nullptr,             // 4
    nullptr,             // 5
    CGVwMakeInfoHeader,  // 6
    nullptr,             // 7
};

namespace {

// The record behind an untyped argument. Its type cannot be checked here; a
// debug build at least asserts that it is aligned as one of its kind must
// be, which a descriptor passed where a pointer to one belongs often is not.
template <typename T>
const T* As(const void* pointer) {
  assert(reinterpret_cast<std::uintptr_t>(pointer) % alignof(T) == 0);
  return static_cast<const T*>(pointer);
}
template <typename T>
T* AsSlot(void* pointer) {
  assert(reinterpret_cast<std::uintptr_t>(pointer) % alignof(T) == 0);
  return static_cast<T*>(pointer);
}

// The descriptor that an entry point's first argument points to the
// pointer of; null when either pointer is.
const TCGVwImage* DescriptorOf(const void* image) {
  if (image == nullptr) {
    return nullptr;
  }
  const TCGVwImage* descriptor = *As<const TCGVwImage*>(image);
  return descriptor == nullptr ? nullptr : As<TCGVwImage>(descriptor);
}

// The classic status codes: the typed ones that have no classic value of
// their own fold into the nearest that does.
std::int32_t Classic(Status status) {
  switch (status) {
    case Status::Ok:
      return kCGVwOk;
    case Status::CannotOpen:
    case Status::ReadFailed:
      return kCGVwCannotOpen;
    case Status::NoMemory:
    case Status::TooLarge:
      return kCGVwNoMemory;
    case Status::Unsupported:
    case Status::BadDescriptor:
    case Status::TooDeep:
      break;
  }
  return kCGVwUnsupported;
}

// Blocks are global memory, locked while they are filled and handed over
// unlocked.
class GlobalStore final : public cgvw::core::Store {
 public:
  Status Obtain(std::uint64_t size, bool zeroFilled, cgvw::core::Block* block) noexcept override {
    *block = {};
    lastLockFailed_ = false;
    if (size > std::numeric_limits<platform::SIZE_T>::max()) {
      return Status::NoMemory;
    }
    platform::GlobalBlock memory(platform::GlobalAlloc(
        zeroFilled ? platform::GHND : platform::GMEM_FIXED, static_cast<platform::SIZE_T>(size)));
    if (!memory) {
      return Status::NoMemory;
    }
    const std::span<std::uint8_t> bytes = platform::Lock(memory);
    if (bytes.data() == nullptr) {
      lastLockFailed_ = true;
      return Status::NoMemory;  // the block is freed on the way out
    }
    *block = {memory.Release(), bytes};
    return Status::Ok;
  }

  void Release(cgvw::core::Block* block) noexcept override {
    if (block->handle != nullptr) {
      platform::GlobalUnlock(block->handle);
      platform::GlobalFree(block->handle);
    }
    *block = {};
  }

  static platform::HGLOBAL HandOver(const cgvw::core::Block& block) {
    platform::GlobalUnlock(block.handle);
    return block.handle;
  }

  bool lastLockFailed() const { return lastLockFailed_; }

 private:
  bool lastLockFailed_ = false;
};

// The result slot of a decode, set to null, and its descriptor: null when
// either is missing (a missing slot is not written).
const TCGVwImage* Prepare(const void* imagePtr, void* result, platform::HGLOBAL** slot) {
  if (result == nullptr) {
    return nullptr;
  }
  *slot = AsSlot<platform::HGLOBAL>(result);
  **slot = nullptr;
  return DescriptorOf(imagePtr);
}

// One classic call: the drive of SourceRoot, global memory, no limits but
// the classic ones, and the error box for composites.
class ClassicDecode {
 public:
  ClassicDecode() {
    options_.limits = {std::numeric_limits<std::uint64_t>::max(),
                       std::numeric_limits<std::uint64_t>::max()};
    options_.onCompositeFailure = &ShowStepError;
    options_.context = this;
  }

  // A null descriptor or result slot decodes nothing: -1, as for a
  // descriptor that nothing decodes.
  template <typename Decoder>
  std::int32_t Run(const void* imagePtr, void* result, Decoder decoder) {
    platform::HGLOBAL* slot = nullptr;
    const TCGVwImage* image = Prepare(imagePtr, result, &slot);
    if (image == nullptr) {
      return kCGVwUnsupported;
    }
    cgvw::core::Job job{source_, store_, options_};
    cgvw::core::Block block;
    Status status = Status::NoMemory;
    try {
      status = decoder(job, *image, &block);
    } catch (...) {
      // Out of memory on the way; everything held was released.
    }
    if (status == Status::Ok) {
      *slot = GlobalStore::HandOver(block);
    }
    return Classic(status);
  }

 private:
  // The box is shown when a composite fails after its canvas was obtained:
  // a canvas that cannot be locked or a layer that fails, not a canvas that
  // cannot be allocated at all.
  static void ShowStepError(void* context, Status /*status*/, bool canvas) {
    const auto* call = static_cast<const ClassicDecode*>(context);
    if (!canvas || call->store_.lastLockFailed()) {
      platform::MessageBoxA(nullptr, "Step err", nullptr, platform::MB_OKCANCEL);
    }
  }

  cgvw::DriveSource source_;
  GlobalStore store_;
  cgvw::DecodeOptions options_;
};

}  // namespace

std::int32_t CGVwDecodePlain(const void* image, const void* /*reserved*/, void* result) {
  return ClassicDecode().Run(image, result, [](auto& job, const TCGVwImage& picture, auto* out) {
    return cgvw::core::DecodePlain(job, picture, out);
  });
}

std::int32_t CGVwDecodeTiled(const void* image, const void* /*reserved*/, void* result) {
  return ClassicDecode().Run(image, result, [](auto& job, const TCGVwImage& picture, auto* out) {
    return cgvw::core::DecodeTiled(job, picture, out);
  });
}

std::int32_t CGVwDecodeComposite(const void* image, const void* /*reserved*/, void* result) {
  return ClassicDecode().Run(image, result, [](auto& job, const TCGVwImage& picture, auto* out) {
    return cgvw::core::DecodeComposite(job, picture, 0, out);
  });
}

std::int32_t CGVwDecode(const void* image, const void* backdropFlag, void* result) {
  platform::HGLOBAL* slot = nullptr;
  const TCGVwImage* picture = Prepare(image, result, &slot);
  if (picture == nullptr) {
    return kCGVwUnsupported;
  }
  // The backdrop option: the picture over its backdrop, as a composite of
  // this call's own.
  const auto* flag = backdropFlag == nullptr ? nullptr : As<std::uint32_t>(backdropFlag);
  std::optional<cgvw::core::BackdropComposite> backdrop;
  const TCGVwImage* chosen = picture;
  if (flag != nullptr && *flag != 0 && picture->Backdrop != nullptr) {
    chosen = &backdrop.emplace(*picture).image;
  }
  const TCGVwOperation decoder = DecoderTable[chosen->Flags & cgvw_flags::kKindMask];
  if (decoder == nullptr) {
    return kCGVwUnsupported;
  }
  const TCGVwImage* local = chosen;
  return decoder(&local, nullptr, slot);
}

void CGVwRenderTiles(std::span<std::uint8_t> dest, std::span<const std::uint8_t> map,
                     std::span<const std::uint8_t> tiles, const TCGVwImage* image) {
  if (image != nullptr) {
    cgvw::core::RenderTiles(dest, map, tiles, *image);
  }
}

std::int32_t CGVwReadFile(const void* argsPtr, const void* /*reserved*/, void* result) {
  if (argsPtr == nullptr || result == nullptr) {
    return kCGVwUnsupported;
  }
  const auto& args = *As<TArgs_CGVwReadFile00>(argsPtr);
  if (args.Buffer == nullptr && args.Size > 0) {
    return kCGVwUnsupported;
  }
  // A negative offset or size cannot be read as asked: as a position it lies
  // past anything the drive source reads (which opens the file all the same).
  const bool readable = args.Offset >= 0 && args.Size >= 0;
  const std::uint64_t offset = readable ? static_cast<std::uint64_t>(args.Offset)
                                        : std::numeric_limits<std::uint64_t>::max();
  const std::span<std::uint8_t> buffer(args.Buffer, readable ? std::size_t(args.Size) : 0);
  const cgvw::ReadResult read = cgvw::DriveSource().Read(args.FileName, offset, buffer);
  if (read.status != Status::Ok) {
    return Classic(read.status);
  }
  *AsSlot<std::int32_t>(result) = 0;
  return kCGVwOk;
}

std::int32_t CGVwGetPalette(const void* argsPtr, const void* info, void* result) {
  if (result == nullptr) {
    return kCGVwUnsupported;
  }
  auto* count = AsSlot<std::int32_t>(result);
  *count = 0;
  if (argsPtr == nullptr) {
    return kCGVwUnsupported;
  }
  const auto& args = *As<TArgs_CGVwGetPalette00>(argsPtr);
  if (args.Mode == 1) {  // colour words in memory
    const auto* words = info == nullptr ? nullptr : As<TCGVwPalInfo>(info);
    if (words == nullptr) {
      return kCGVwUnsupported;
    }
    if (words->Count > 0) {
      if (args.Dest == nullptr || args.Source == nullptr) {
        return kCGVwUnsupported;
      }
      cgvw::ColourWordsToQuads(static_cast<const std::uint8_t*>(args.Source),
                               static_cast<std::size_t>(words->Count), words->NoSwap != 0,
                               args.Dest);
      *count = words->Count;
    }
    return kCGVwOk;
  }
  if (args.Mode != 0 || args.Source == nullptr || args.Dest == nullptr) {
    return kCGVwUnsupported;
  }
  const auto* image = As<TCGVwImage>(args.Source);
  cgvw::DriveSource source;
  GlobalStore unused;
  const cgvw::DecodeOptions options;
  cgvw::core::Job job{source, unused, options};
  Status status = Status::NoMemory;
  try {
    status = cgvw::core::ReadPalette(job, *image, args.Dest);
  } catch (...) {
    // Out of memory for a file name.
  }
  if (status == Status::Ok) {
    *count = static_cast<std::int32_t>(cgvw::DepthOf(image->Flags)->paletteColours);
  }
  return Classic(status);
}

std::int32_t CGVwMakeInfoHeader(const void* argsPtr, const void* /*reserved*/, void* result) {
  if (argsPtr == nullptr || result == nullptr) {
    return kCGVwUnsupported;
  }
  const auto& args = *As<TArgs_CGVwMakeInfoHeader00>(argsPtr);
  if (args.Dest == nullptr || args.Image == nullptr) {
    return kCGVwUnsupported;
  }
  cgvw::core::WriteInfoHeader(args.Dest, *args.Image);
  *AsSlot<std::int32_t>(result) = 0;
  return kCGVwOk;
}

// ---------------------------------------------------------------------------
// The typed entry points of cgvw_c.h, for C and C++ callers alike.

std::int32_t CGVwDecode(const TCGVwImage* const* image, const std::uint32_t* backdropFlag,
                        TCGVwHandle* result) {
  return CGVwDecode(static_cast<const void*>(image), static_cast<const void*>(backdropFlag),
                    static_cast<void*>(result));
}

std::int32_t CGVwDecodePlain(const TCGVwImage* const* image, const void* reserved,
                             TCGVwHandle* result) {
  return CGVwDecodePlain(static_cast<const void*>(image), reserved, static_cast<void*>(result));
}

std::int32_t CGVwDecodeTiled(const TCGVwImage* const* image, const void* reserved,
                             TCGVwHandle* result) {
  return CGVwDecodeTiled(static_cast<const void*>(image), reserved, static_cast<void*>(result));
}

std::int32_t CGVwDecodeComposite(const TCGVwImage* const* image, const void* reserved,
                                 TCGVwHandle* result) {
  return CGVwDecodeComposite(static_cast<const void*>(image), reserved, static_cast<void*>(result));
}

TCGVwHandle CGVwGlobalAlloc(unsigned int flags, std::size_t bytes) {
  return platform::GlobalAlloc(flags, bytes);
}
void* CGVwGlobalLock(TCGVwHandle block) {
  return platform::GlobalLock(block);
}
int CGVwGlobalUnlock(TCGVwHandle block) {
  return platform::GlobalUnlock(block);
}
TCGVwHandle CGVwGlobalFree(TCGVwHandle block) {
  return platform::GlobalFree(block);
}
std::size_t CGVwGlobalSize(TCGVwHandle block) {
  return platform::GlobalSize(block);
}
