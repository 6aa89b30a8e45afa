#!/usr/bin/env bash
# The build with warnings as errors, then every unit and end-to-end test.
# With TVRCGCV_QUICK=1 (scripts/test.sh --quick) the benchmarks are left out
# of the build; the full run builds them here too.
set -euo pipefail
cd "$(dirname "$0")/../.."
benchmarks=ON
[[ ${TVRCGCV_QUICK:-} == 1 ]] && benchmarks=OFF
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DTVRCGCV_BUILD_BENCHMARKS="$benchmarks"
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
