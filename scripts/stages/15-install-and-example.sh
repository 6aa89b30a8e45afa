#!/usr/bin/env bash
# Installs the library into a temporary prefix and checks what a user of it
# gets: only public headers; the examples built against the installed CMake
# package (the disc-image library among them) and run on the demo disc,
# their pictures compared with the program's; the C API's example (a picture
# from memory to a PNG file with libspng) built both ways, its pixels
# compared with the program's files; programs built with nothing but
# pkg-config, in C++ and in C; and the Development component installed
# alone.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc
cmake --install build --prefix "$work/prefix" >/dev/null

# Public headers only: the fault seam and the decoding core's own headers
# stay in the build tree.
for internal in faults.h core.h layout.h colour.h backend.h; do
  if [[ -n $(find "$work/prefix/include" -name "$internal") ]]; then
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

# The C program converts the whole catalogue into the program's files:
# every one of them, byte for byte, and no other.
CompareRun() {
  local folder=$1
  if ! diff <(cd "$work/out" && ls) <(cd "$folder" && ls) >&2; then
    echo "$folder holds other files than the program's" >&2
    exit 1
  fi
  for file in "$work/out"/*.bmp; do
    cmp "$file" "$folder/$(basename "$file")"
  done
}
ConvertWithC() {
  local program=$1 folder=$2
  mkdir "$folder"
  (cd "$folder" && TVRCGCV_DRIVE_ROOT="$work/drives" "$program" q >/dev/null)
  CompareRun "$folder"
}
ConvertWithC "$work/build/convert_catalogue" "$work/c-cmake"
# The same from a CMake project of C alone, which the package gives the C++
# runtime.
mkdir "$work/c-only"
cat >"$work/c-only/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(c_only LANGUAGES C)
find_package(tvrcgcv 1.0 REQUIRED)
add_executable(convert_catalogue "$PWD/examples/convert_catalogue.c")
target_link_libraries(convert_catalogue PRIVATE tvrcgcv::catalog)
EOF
cmake -S "$work/c-only" -B "$work/c-only/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/c-only/build" >/dev/null
ConvertWithC "$work/c-only/build/convert_catalogue" "$work/c-cmake-c-only"
echo "convert_catalogue (C, find_package, in C and C++ projects) wrote the program's" \
  "$(find "$work/out" -mindepth 1 -maxdepth 1 | wc -l) files"

# A portrait over a background, from the folder: a 288 x 144 picture of 24
# bits, 54 header bytes and 144 rows of 864 bytes.
"$work/build/portrait_over_background" "$work/disc" "$work/out.bmp" 7 155
size=$(stat -c %s "$work/out.bmp")
if [[ "$size" != 124470 || "$(head -c 2 "$work/out.bmp")" != BM ]]; then
  echo "example output is not the expected BMP (size $size)" >&2
  exit 1
fi
echo "portrait_over_background wrote a $size-byte BMP"

# The same from an ISO image.
xorriso -as mkisofs -R -o "$work/disc.iso" "$work/drives/q" >/dev/null 2>&1
"$work/build/portrait_over_background" "$work/disc.iso" "$work/from-image.bmp" 7 155
cmp "$work/out.bmp" "$work/from-image.bmp"
echo "portrait_over_background wrote the same BMP from an ISO image"

# A program of the disc-image library's older name, with pkg-config alone.
# shellcheck disable=SC2046
g++ -std=c++20 -o "$work/image-by-pkg-config" -x c++ - \
  $(PKG_CONFIG_PATH="$(find "$work/prefix" -type d -name pkgconfig | tr '\n' ':')" \
    pkg-config --cflags --libs tvrcgcv-discimage) <<'PROGRAM'
#include "cgvw/disc_image.h"
int main(int argc, char** argv) { return argc == 2 && cgvw::DiscImageSource::Open(argv[1]) ? 0 : 1; }
PROGRAM
"$work/image-by-pkg-config" "$work/disc.iso"
echo "a program built with pkg-config --libs tvrcgcv-discimage opens the ISO image"

# From memory to RGBA to a PNG file through the C API: the pixels of the
# program's BMP files, as stb_image (libstb-dev) reads both files.
cat >"$work/same_pixels.c" <<'EOF'
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#include <stb_image.h>
#include <stdio.h>
#include <string.h>
/* same_pixels A B: exit 0 when both files have the same size and pixels. */
int main(int argc, char* argv[]) {
  int w[2], h[2], n, same;
  unsigned char* p[2];
  if (argc != 3) return 2;
  p[0] = stbi_load(argv[1], &w[0], &h[0], &n, 4);
  p[1] = stbi_load(argv[2], &w[1], &h[1], &n, 4);
  same = p[0] && p[1] && w[0] == w[1] && h[0] == h[1] &&
         memcmp(p[0], p[1], (size_t)w[0] * h[0] * 4) == 0;
  if (!same) fprintf(stderr, "%s and %s differ\n", argv[1], argv[2]);
  return same ? 0 : 1;
}
EOF
cc -O1 -I/usr/include/stb -o "$work/same_pixels" "$work/same_pixels.c" -lm
if [[ ! -x "$work/build/decode_to_png" ]]; then
  echo "decode_to_png was not built (libspng-dev missing?)" >&2
  exit 1
fi
ToPng() {  # program row files...: the picture of the row, against the program's
  local program=$1 row=$2
  shift 2
  "$program" "$row" "$work/$row.png" "$@"
  "$work/same_pixels" "$work/$row.png" "$work/out/tvrcg$(printf %03d "$row").bmp"
}
ToPng "$work/build/decode_to_png" 0 "$work/disc/bg000_0.bg"
ToPng "$work/build/decode_to_png" 152 "$work/disc/Tesuna.bpl" "$work/disc/Tesuna.btx"
echo "decode_to_png (C, the C API) wrote PNG files of the program's pixels"

# pkg-config alone is enough to build against the library.
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$(find "$work/prefix" -type d -name pkgconfig | tr '\n' ':')"
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
g++ -std=c++20 -o "$work/by-pkg-config" examples/decode_from_memory.cpp \
  $(pkg-config --cflags --libs tvrcgcv)
"$work/by-pkg-config" "$work/disc/bg000_0.bg" "$work/pkg-config.bmp"
cmp "$work/pkg-config.bmp" "$work/out/tvrcg000.bmp"
echo "a program built with pkg-config --libs tvrcgcv decodes the same picture"

# From C: tvrcgcv-c, whose flags are C's (no warning, C99 pedantic); and
# tvrcgcv itself with --static, whose -std=c++20 gcc only warns about in C.
# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$work/c-by-pkg-config" \
  examples/convert_catalogue.c $(pkg-config --cflags --libs tvrcgcv-c)
ConvertWithC "$work/c-by-pkg-config" "$work/c-pkg-config"
# shellcheck disable=SC2046
gcc -o "$work/c-by-pkg-config-static" examples/convert_catalogue.c \
  $(pkg-config --cflags --libs --static tvrcgcv) 2>"$work/c-static.log"
ConvertWithC "$work/c-by-pkg-config-static" "$work/c-pkg-config-static"
echo "convert_catalogue (C) built with pkg-config tvrcgcv-c, and tvrcgcv --static, writes the same files"
# The C API's example as C99 and as C11, warnings as errors, by pkg-config.
for standard in c99 c11; do
  # shellcheck disable=SC2046
  gcc -std="$standard" -Wall -Wextra -Wpedantic -Werror -o "$work/png-$standard" \
    examples/decode_to_png.c $(pkg-config --cflags --libs tvrcgcv-c spng)
  ToPng "$work/png-$standard" 7 "$work/disc/bg009_0.bg"
done
echo "decode_to_png built with pkg-config tvrcgcv-c spng as C99 and C11 writes the same pixels"
# Disc images from C: tvrcgcv-discimage-c brings the disc-image library.
printf '%s\n' '#include <cgvw/disc_image_c.h>' '#include <stdio.h>' \
  'int main(int c, char** v) { cgvw_source* s = NULL; char why[256] = "";' \
  '  int status = cgvw_source_new_disc_image(c > 1 ? v[1] : "", &s, why, sizeof why);' \
  '  cgvw_source_free(s); puts(status == CGVW_OK ? "opened" : why); return 0; }' \
  >"$work/image.c"
# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wpedantic -Werror -o "$work/image" "$work/image.c" \
  $(pkg-config --cflags --libs tvrcgcv-discimage-c)
[[ $("$work/image" "$work/nowhere.iso") == *nowhere.iso* ]]
[[ $("$work/image" "$work/disc.iso") == opened ]]
echo "a C program built with pkg-config tvrcgcv-discimage-c opens disc images"

# The Development component alone, from a build tree where only the
# libraries were built: libraries, headers, CMake package, .pc files.
cmake -S . -B "$work/libs-only" -DTVRCGCV_BUILD_TESTS=OFF -DTVRCGCV_BUILD_TOOLS=OFF \
  -DTVRCGCV_BUILD_BENCHMARKS=OFF >/dev/null
libraries=(tvrcgcv_catalog tvrcgcv_disc tvrcgcv_discimage_c)  # and the libraries below them
cmake --build "$work/libs-only" -j"$(nproc)" --target "${libraries[@]}" >/dev/null
cmake --install "$work/libs-only" --prefix "$work/dev" --component Development >/dev/null
for installed in cgvw_c.h disc_image.h disc_image_c.h tvrcgcv-c.pc tvrcgcv-discimage.pc \
  tvrcgcv-discimage-c.pc tvrcgcvConfig.cmake libtvrcgcv_cgvw.a libtvrcgcv_disc.a \
  libtvrcgcv_discimage_c.a; do
  if [[ -z $(find "$work/dev" -name "$installed") ]]; then
    echo "the Development component lacks $installed" >&2
    exit 1
  fi
done
echo "the Development component installs from a build of the libraries alone"
