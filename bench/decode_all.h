// Decoding every picture of the catalogue from memory: the figure by which
// the web page's module (web/wasm) is compared with the native library.
// Both builds run this same code on the same source bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cgvw/decode.h"

namespace bench {

// The bytes that the catalogue's pictures read from a disc, file by file
// (each file as far as its last range; bytes no picture reads are 0).
struct SourceBytes {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::size_t failed = 0;  // pictures that could not be decoded from the disc
};

// Decodes every picture once from `disc`, keeping what it reads.
SourceBytes ReadCatalogueSources(cgvw::Source& disc);

struct DecodeTiming {
  double medianMs = 0;  // one pass over every picture, median of the samples
  double minMs = 0;
  std::size_t failed = 0;  // decodes that failed, over all passes
};

// Decodes every picture from `bytes` (held in a MemorySource) `passes` times
// per sample, for `samples` samples.
DecodeTiming TimeDecodeAll(const SourceBytes& bytes, int samples, int passes);

}  // namespace bench
