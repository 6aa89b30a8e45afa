#!/usr/bin/env bash
# The benchmarks still build and run: every micro-benchmark once, briefly, and
# the end-to-end comparison with a single run of each side. Nothing here is
# timed against a target; bench/README.md says how to measure.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DTVRCGCV_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build -j"$(nproc)" --target cgvw_bench tvrcgcv make_demo_disc floor conversion_plan

log=$(mktemp)
trap 'rm -f "$log"' EXIT
build/bench/cgvw_bench --benchmark_min_time=0 --benchmark_color=false >"$log" 2>&1 || {
  cat "$log"
  echo "cgvw_bench failed" >&2
  exit 1
}
# Every group of benchmarks reached the summary.
for row in '| RenderTiles/0xC00/mirrored/4096x4096 |' '| FifteenBit/big-endian/4096x4096 |' \
  '| Palette/256 |' '| Decode/catalogue/background/288x144 |' '| plain-15bit, cold |'; do
  grep -qF -- "$row" "$log" || {
    cat "$log"
    echo "cgvw_bench: no summary row $row" >&2
    exit 1
  }
done
echo "cgvw_bench: $(grep -c '^| ' "$log") summary rows"

python3 bench/e2e_bench.py --build-dir build --no-build --runs 1

# Bytes read from disc images against the sector-rounded bytes needed: a
# conversion reads each needed sector of an .iso or a raw cue/bin set once,
# so the ratio stays at most 1.1.
python3 bench/image_reads.py --build-dir build --limit 1.1
