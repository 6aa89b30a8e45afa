#!/usr/bin/env bash
# Installs the library into a temporary prefix and checks what a user of it
# gets: only public headers; the examples built against the installed CMake
# package (with its disc-image component where libcdio is there) and run on
# the demo disc, their pictures compared with the program's; and a program
# built with nothing but pkg-config.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc
cmake --install build --prefix "$work/prefix" >/dev/null

# Public headers only: the fault seam, the console, temporary buffers and
# the decoding core stay in the build tree.
for internal in faults.h console.h temp_buffer.h output_files.h core.h layout.h bytes.h; do
  if find "$work/prefix/include" -name "$internal" | grep -q .; then
    echo "internal header $internal was installed" >&2
    exit 1
  fi
done
echo "installed headers: $(cd "$work/prefix/include" && find . -name '*.h' | sort | tr '\n' ' ')"

cmake -S examples -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" -j"$(nproc)" >/dev/null

# The demo disc is drive q, and its folder the examples' disc.
build/make_demo_disc "$work/drives/q" >/dev/null
ln -s drives/q "$work/disc"
(mkdir "$work/out" && cd "$work/out" && TVRCGCV_DRIVE_ROOT="$work/drives" "$OLDPWD/build/tvrcgcv" q \
  >/dev/null)

# Decoding from memory gives the program's first picture.
"$work/build/decode_from_memory" "$work/disc/bg000_0.bg" "$work/memory.bmp"
cmp "$work/memory.bmp" "$work/out/tvrcg000.bmp"
echo "decode_from_memory wrote tvrcg000.bmp's bytes"

# A portrait over a background, from the folder: a 288 x 144 picture of 24
# bits, 54 header bytes and 144 rows of 864 bytes.
"$work/build/portrait_over_background" "$work/disc" "$work/out.bmp" 7 155
size=$(stat -c %s "$work/out.bmp")
if [[ "$size" != 124470 || "$(head -c 2 "$work/out.bmp")" != BM ]]; then
  echo "example output is not the expected BMP (size $size)" >&2
  exit 1
fi
echo "portrait_over_background wrote a $size-byte BMP"

# The same from an ISO image, where the disc-image component is there.
if command -v xorriso >/dev/null && [[ -f "$work/prefix/include/tvrcgcv/cgvw/disc_image.h" ]]; then
  xorriso -as mkisofs -R -o "$work/disc.iso" "$work/drives/q" >/dev/null 2>&1
  "$work/build/portrait_over_background" "$work/disc.iso" "$work/from-image.bmp" 7 155
  cmp "$work/out.bmp" "$work/from-image.bmp"
  echo "portrait_over_background wrote the same BMP from an ISO image"
fi

# pkg-config alone is enough to build against the library.
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$(find "$work/prefix" -type d -name pkgconfig | tr '\n' ':')"
# shellcheck disable=SC2046
g++ -std=c++20 -o "$work/by-pkg-config" examples/decode_from_memory.cpp \
  $(pkg-config --cflags --libs tvrcgcv)
"$work/by-pkg-config" "$work/disc/bg000_0.bg" "$work/pkg-config.bmp"
cmp "$work/pkg-config.bmp" "$work/out/tvrcg000.bmp"
echo "a program built with pkg-config --libs tvrcgcv decodes the same picture"
