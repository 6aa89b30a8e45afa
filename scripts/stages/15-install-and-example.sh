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
