// The native side of the page's decoding figure: every picture of the
// catalogue decoded from memory, the sources read first from a disc folder.
//
//   decode_all_bench DISC-FOLDER [SAMPLES [PASSES]]
//
// Prints one line: "decode-all native median=<ms> min=<ms> failed=<n>".
#include <cstdio>
#include <cstdlib>

#include "decode_all.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: decode_all_bench DISC-FOLDER [SAMPLES [PASSES]]\n");
    return 2;
  }
  const int samples = argc > 2 ? std::atoi(argv[2]) : 21;
  const int passes = argc > 3 ? std::atoi(argv[3]) : 10;
  if (samples < 1 || passes < 1) {
    std::fprintf(stderr, "decode_all_bench: SAMPLES and PASSES are positive numbers\n");
    return 2;
  }
  cgvw::FolderSource disc(argv[1]);
  const bench::SourceBytes bytes = bench::ReadCatalogueSources(disc);
  if (bytes.failed != 0) {
    std::fprintf(stderr, "decode_all_bench: %zu pictures cannot be decoded from %s\n", bytes.failed,
                 argv[1]);
    return 1;
  }
  const bench::DecodeTiming timing = bench::TimeDecodeAll(bytes, samples, passes);
  std::printf("decode-all native median=%.3f min=%.3f failed=%zu\n", timing.medianMs, timing.minMs,
              timing.failed);
  return timing.failed == 0 ? 0 : 1;
}
