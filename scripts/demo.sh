#!/usr/bin/env bash
# Builds tvrcgcv, writes the bundled demo disc and converts it: the 161
# pictures land in demo/out as tvrcg000.bmp ... tvrcg160.bmp, and the
# console transcript is shown as the program wrote it. It also leaves the
# disc as an image, demo/disc.iso, for the README's quick start.
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

# A terminal of a system without any locale setting (a minimal install) is
# taken to show UTF-8, as terminals do today; with a locale set, the
# program goes by it.
if [[ -t 1 && -z ${LC_ALL:-}${LC_CTYPE:-}${LANG:-} ]]; then
  export LC_CTYPE=C.UTF-8
fi

# Drive q is the directory demo/drives/q.
(cd demo/out && TVRCGCV_DRIVE_ROOT="$PWD/../drives" ../../build-demo/tvrcgcv q)
echo
echo "$(find demo/out -mindepth 1 -maxdepth 1 | wc -l) files written to $PWD/demo/out"

# The same disc as an ISO 9660 image, as most copies of the disc are kept.
xorriso -as mkisofs -R -J -V DEMO -o demo/disc.iso demo/drives/q >/dev/null 2>&1
echo "The demo disc as an image: demo/disc.iso (the program is build-demo/tvrcgcv)"
