// Fuzzes the readers of whole-disc dump descriptors, one harness each
// (FUZZ_DUMP_FORMAT: 0 CloneCD, 1 Alcohol, 2 Nero): the input is the
// descriptor (a Nero image, whose chunks and footer are at its end, whole).
// The image files it names are 64 KiB of a byte pattern. A descriptor that
// is refused says why; one that is read gives a track whose first sectors
// are read, or a fault that says why not.
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_layout.h"

namespace {

using namespace cgvw::disc;

class PatternFiles final : public Neighbours {
 public:
  std::unique_ptr<ByteSource> Open(std::string_view name, std::error_code* /*error*/) override {
    std::vector<std::uint8_t> bytes(64 << 10);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    return std::make_unique<MemoryBytes>(std::move(bytes), std::string(name));
  }
  std::optional<std::uint64_t> Size(std::string_view /*name*/,
                                    std::error_code* /*error*/) override {
    return 64 << 10;
  }
  std::string PathOf(std::string_view name) const override { return std::string(name); }
  std::string GivenName() const override { return "disc.ccd"; }
};

constexpr const Container* kLayouts[] = {&kCloneCd, &kAlcohol, &kNero};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Container& layout = *kLayouts[FUZZ_DUMP_FORMAT];
  auto given = std::make_unique<MemoryBytes>(std::vector<std::uint8_t>(data, data + size), "given");
  const std::span<const std::uint8_t> head(data, std::min(size, kHeadBytes));
  static_cast<void>(layout.recognise({*given, head, "given"}));
  if (layout.names != nullptr) {
    static_cast<void>(layout.names(*given));
  }
  PatternFiles files;
  fuzzing::OpenAndRead(layout, std::move(given), files, {0});
  return 0;
}
