#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds the example program
# against the installed CMake package, and runs it on the demo disc.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc
cmake --install build --prefix "$work/prefix" >/dev/null
cmake -S examples -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" -j"$(nproc)" >/dev/null

mkdir -p "$work/drives"
build/make_demo_disc "$work/drives/q" >/dev/null
(cd "$work" && TVRCGCV_DRIVE_ROOT="$work/drives" build/portrait_over_background q out.bmp 7 155)

# A 288 x 144 picture of 24 bits: 54 header bytes and 144 rows of 864 bytes.
size=$(stat -c %s "$work/out.bmp")
if [[ "$size" != 124470 || "$(head -c 2 "$work/out.bmp")" != BM ]]; then
  echo "example output is not the expected BMP (size $size)" >&2
  exit 1
fi
echo "example program wrote a $size-byte BMP"

# The installed libraries read disc images too (libcdio found again through
# the package): the same picture from an ISO image of the demo disc.
if command -v xorriso >/dev/null && grep -q "TVRCGCV_WITH_DISC_IMAGES:INTERNAL=ON" build/CMakeCache.txt; then
  xorriso -as mkisofs -R -o "$work/disc.iso" "$work/drives/q" >/dev/null 2>&1
  ln -s "$work/disc.iso" "$work/drives/r"
  (cd "$work" && TVRCGCV_DRIVE_ROOT="$work/drives" build/portrait_over_background r from-image.bmp 7 155)
  cmp "$work/out.bmp" "$work/from-image.bmp"
  echo "example program wrote the same BMP from an ISO image"
fi
