#include "decode_all.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "catalog/catalogue.h"

namespace bench {
namespace {

// Passes reads on to another source and keeps a copy of what they got.
class RecordingSource final : public cgvw::Source {
 public:
  explicit RecordingSource(cgvw::Source& inner) : inner_(inner) {}
  cgvw::ReadResult Read(std::string_view name, std::uint64_t offset,
                        std::span<std::uint8_t> dest) noexcept override {
    const cgvw::ReadResult result = inner_.Read(name, offset, dest);
    if (result.status == cgvw::Status::Ok && result.got > 0) {
      std::vector<std::uint8_t>& file = files_[std::string(name)];
      file.resize(std::max<std::size_t>(file.size(), offset + result.got));
      std::memcpy(file.data() + offset, dest.data(), result.got);
    }
    return result;
  }
  std::map<std::string, std::vector<std::uint8_t>>& files() { return files_; }

 private:
  cgvw::Source& inner_;
  std::map<std::string, std::vector<std::uint8_t>> files_;
};

}  // namespace

SourceBytes ReadCatalogueSources(cgvw::Source& disc) {
  RecordingSource recording(disc);
  SourceBytes bytes;
  for (std::size_t row = 0; row < kPictureRows; ++row) {
    if (!cgvw::Decode(Catalogue[row].Image, recording)) {
      ++bytes.failed;
    }
  }
  bytes.files = std::move(recording.files());
  return bytes;
}

DecodeTiming TimeDecodeAll(const SourceBytes& bytes, int samples, int passes) {
  cgvw::MemorySource memory;
  for (const auto& [name, file] : bytes.files) {
    memory.Add(name, file);
  }
  DecodeTiming timing;
  std::vector<double> times;
  for (int sample = 0; sample < samples; ++sample) {
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < passes; ++pass) {
      for (std::size_t row = 0; row < kPictureRows; ++row) {
        if (!cgvw::Decode(Catalogue[row].Image, memory)) {
          ++timing.failed;
        }
      }
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    times.push_back(took.count() / passes);
  }
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    timing.medianMs = times[times.size() / 2];
    timing.minMs = times.front();
  }
  return timing;
}

}  // namespace bench
