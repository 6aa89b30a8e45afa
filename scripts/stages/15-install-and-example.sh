#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds the example program
# against the installed CMake package, and runs it on the demo disc.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
cd "$root"

new_work

cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc
cmake --install build --prefix "$work/prefix" >/dev/null
build/make_demo_disc "$work/drives/q" >/dev/null
example_against "$work/prefix" "$work/build" "$work/drives" "$work/out.bmp"

# The installed libraries read disc images too (libcdio found again through
# the package): the same picture from an ISO image of the demo disc.
if command -v xorriso >/dev/null && grep -q "TVRCGCV_WITH_DISC_IMAGES:INTERNAL=ON" build/CMakeCache.txt; then
  xorriso -as mkisofs -R -o "$work/disc.iso" "$work/drives/q" >/dev/null 2>&1
  ln -s "$work/disc.iso" "$work/drives/r"
  (cd "$work" && TVRCGCV_DRIVE_ROOT="$work/drives" build/portrait_over_background r from-image.bmp 7 155)
  cmp "$work/out.bmp" "$work/from-image.bmp"
  echo "example program wrote the same BMP from an ISO image"
fi
