// The typed API's look at a descriptor before it decodes: fields that are
// missing or zero, which the decoders would otherwise report as something
// else (a zero PixSize as a failed allocation, a missing PalFile as an
// unsupported mode) or not at all (a composite of no layers).
#include <new>
#include <string>

#include "cgvw/core.h"

namespace cgvw::core {
namespace {

// How the walk reached the descriptor it looks at: a chain of steps on the
// stack, turned into text only for a fault.
struct Step {
  const Step* outer;        // the composite whose layer this is; null at the top
  const TCGVwImage* image;  // the descriptor reached
  const char* via;          // "Backdrop" at the top of the backdrop, null otherwise
  std::size_t layer;        // the layer's index, below the top
};

// The path from the descriptor given to the step's: "" for the descriptor
// itself, "Backdrop", "Extra->Items[1].Image", ...
void AppendPath(const Step& step, std::string* text) {
  if (step.outer == nullptr) {
    *text += step.via == nullptr ? "" : step.via;
    return;
  }
  AppendPath(*step.outer, text);
  *text += text->empty() ? "" : "->";
  *text += "Extra->Items[" + std::to_string(step.layer) + "].Image";
}

// A fault of the descriptor at `step`: "<path>-><field> <what>", or
// "<path> <what>" for the descriptor itself.
Status Fault(const Step& step, const char* field, const char* what, std::string* fault) {
  if (fault != nullptr) {
    try {
      fault->clear();
      AppendPath(step, fault);
      if (*field != '\0') {
        *fault += fault->empty() ? "" : "->";
        *fault += field;
      }
      *fault += ' ';
      *fault += what;
    } catch (const std::bad_alloc&) {
      fault->clear();  // the status still says what happened
    }
  }
  return Status::BadDescriptor;
}

// The fields that reading the palette, the pixels or tiles and the map
// need, in the order in which the decoders would use them.
Status CheckSources(const Step& step, const DepthInfo& depth, std::string* fault) {
  const TCGVwImage& image = *step.image;
  if (depth.paletteColours != 0 && image.PalFile == nullptr) {
    return Fault(step, "PalFile", "is null", fault);
  }
  if ((image.Flags & cgvw_flags::kKindMask) == cgvw_flags::kKindTiled &&
      static_cast<const TCGVwChunk*>(image.Extra)->Size == 0) {
    return Fault(step, "Extra->Size", "is 0", fault);
  }
  if (image.PixSize == 0) {
    return Fault(step, "PixSize", "is 0", fault);
  }
  if (image.PixFile == nullptr) {
    return Fault(step, "PixFile", "is null", fault);
  }
  return Status::Ok;
}

bool Contains(const Step* step, const TCGVwImage* image) {
  for (; step != nullptr; step = step->outer) {
    if (step->image == image) {
      return true;
    }
  }
  return false;
}

Status CheckLayers(const Step& step, int nesting, int maxNesting, std::string* fault);

Status Check(const Step& step, int nesting, int maxNesting, std::string* fault) {
  const TCGVwImage& image = *step.image;
  const DepthInfo* depth = DepthOf(image.Flags);
  const std::uint32_t kind = image.Flags & cgvw_flags::kKindMask;
  // Kinds and depths that nothing decodes are the decoders' to refuse:
  // Depth codes 4 to 7, composites of an indexed depth (and, once its map
  // is described, a tiled picture of direct colour).
  const bool decodable =
      depth != nullptr && (kind == cgvw_flags::kKindPlain || kind == cgvw_flags::kKindTiled ||
                           (kind == cgvw_flags::kKindComposite && depth->paletteColours == 0));
  if (!decodable) {
    return Status::Ok;
  }
  if (image.Width == 0) {
    return Fault(step, "Width", "is 0", fault);
  }
  if (image.Height == 0) {
    return Fault(step, "Height", "is 0", fault);
  }
  if (kind == cgvw_flags::kKindComposite) {
    return CheckLayers(step, nesting, maxNesting, fault);
  }
  if (kind == cgvw_flags::kKindTiled) {
    if (image.Extra == nullptr) {
      return Fault(step, "Extra", "is null", fault);
    }
    if (depth->paletteColours == 0) {
      return Status::Ok;
    }
  }
  return CheckSources(step, *depth, fault);
}

// A composite's layer list and, one level down, each layer's picture.
Status CheckLayers(const Step& step, int nesting, int maxNesting, std::string* fault) {
  const auto* list = static_cast<const TCGVwLayers*>(step.image->Extra);
  if (list == nullptr) {
    return Fault(step, "Extra", "is null", fault);
  }
  if (nesting >= maxNesting) {
    return Status::Ok;  // TooDeep, from the decoder
  }
  const std::uint16_t count = list->Count;
  const TCGVwLayer* items = list->Items;
  if (count == 0) {
    return Fault(step, "Extra->Count", "is 0", fault);
  }
  if (items == nullptr) {
    return Fault(step, "Extra->Items", "is null", fault);
  }
  for (std::uint16_t i = 0; i < count; ++i) {
    const Step layer{&step, items[i].Image, nullptr, i};
    if (layer.image == nullptr) {
      return Fault(layer, "", "is null", fault);
    }
    if (Contains(&step, layer.image)) {
      return Fault(layer, "", "is a composite that contains it", fault);
    }
    if (const Status status = Check(layer, nesting + 1, maxNesting, fault); status != Status::Ok) {
      return status;
    }
  }
  return Status::Ok;
}

}  // namespace

Status CheckDescriptor(const TCGVwImage& image, bool overBackdrop, int maxNesting,
                       std::string* fault) noexcept {
  const Step given{nullptr, &image, nullptr, 0};
  if (!overBackdrop) {
    return Check(given, 0, maxNesting, fault);
  }
  // The backdrop composite holds the backdrop and then the picture, one
  // level down; the backdrop is no layer of the picture.
  const Step backdrop{nullptr, image.Backdrop, "Backdrop", 0};
  if (const Status status = Check(backdrop, 1, maxNesting, fault); status != Status::Ok) {
    return status;
  }
  return Check(given, 1, maxNesting, fault);
}

}  // namespace cgvw::core
