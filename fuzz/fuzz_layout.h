// Shared by the harnesses of the disc layouts (dumps, CHD files, archives):
// a layout opened from the fuzzer's input must either say why it refuses
// it, or give a track whose sectors are read or whose fault says why.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "containers.h"
#include "dumps.h"
#include "fuzz_support.h"
#include "tracks.h"

namespace fuzzing {

// The neighbours of a layout that names no other file (or keeps them all
// inside it): none can be opened.
class NoFiles final : public cgvw::disc::Neighbours {
 public:
  explicit NoFiles(std::string given) : given_(std::move(given)) {}
  std::unique_ptr<cgvw::disc::ByteSource> Open(std::string_view /*name*/,
                                               std::error_code* error) override {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return nullptr;
  }
  std::optional<std::uint64_t> Size(std::string_view /*name*/, std::error_code* error) override {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return std::nullopt;
  }
  std::string PathOf(std::string_view name) const override { return std::string(name); }
  std::string GivenName() const override { return given_; }

 private:
  std::string given_;
};

// Opens `layout` over `given`: a refusal names what is wrong; an opened
// track begins on a disc (where `onADisc`: a dump's or a CHD's tracks are
// bounded so; a sheet's may begin later), and its sectors at `offsets` from
// its first are read (four at a time), or the fault says why.
inline void OpenAndRead(const cgvw::disc::Container& layout,
                        std::unique_ptr<cgvw::disc::ByteSource> given,
                        cgvw::disc::Neighbours& files, std::initializer_list<std::uint64_t> offsets,
                        bool onADisc = true) {
  using namespace cgvw::disc;
  OpenedTrack opened;
  OpenFailure failure;
  if (!layout.open(std::move(given), files, &opened, &failure)) {
    FUZZ_CHECK(!failure.text.empty() && failure.error);
    return;
  }
  FUZZ_CHECK(opened.track != nullptr);
  TrackReader reader(std::move(opened.track));
  const std::uint64_t first = reader.track().first();
  FUZZ_CHECK(!onADisc || first <= static_cast<std::uint64_t>(kMostDiscSectors));
  std::vector<std::uint8_t> out(4 * kUserBytes);
  for (const std::uint64_t offset : offsets) {
    ReadFault fault;
    if (!reader.ReadSectors(first + offset, 4, out.data(), &fault)) {
      FUZZ_CHECK(!fault.why.empty());
    }
  }
}

}  // namespace fuzzing
