#!/usr/bin/env bash
# Builds tvrcgcv, writes the bundled demo disc and converts it: the 161
# pictures land in demo/out as tvrcg000.bmp ... tvrcg160.bmp, and the
# console transcript is shown as the program wrote it.
#
# Needs only the packages of the build (.ci/packages-build): run as root it
# installs those that are missing, otherwise it names them and stops. The
# build (build-demo/) leaves out the tests and the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/lib/ensure-packages.sh .ci/packages-build
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DTVRCGCV_BUILD_TESTS=OFF \
  -DTVRCGCV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-demo -j"$(nproc)" --target tvrcgcv make_demo_disc >/dev/null

rm -rf demo
mkdir -p demo/drives demo/out
build-demo/make_demo_disc demo/drives/q

# Drive q is the directory demo/drives/q.
cd demo/out
TVRCGCV_DRIVE_ROOT="$PWD/../drives" ../../build-demo/tvrcgcv q
echo
echo "$(ls | wc -l) files written to $(pwd)"
