#!/usr/bin/env bash
# Installs the library into a temporary prefix and checks what a user of it
# gets: only public headers; the examples built against the installed CMake
# package (the disc-image library among them) and run on
# the demo disc, their pictures compared with the program's; programs built
# with nothing but pkg-config, in C++ and in C; and the Development
# component installed alone.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc
cmake --install build --prefix "$work/prefix" >/dev/null

# Public headers only: the fault seam and the decoding core's own headers
# stay in the build tree.
for internal in faults.h core.h layout.h colour.h backend.h; do
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
  "$(ls "$work/out" | wc -l) files"

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

# pkg-config alone is enough to build against the library.
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$(find "$work/prefix" -type d -name pkgconfig | tr '\n' ':')"
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

# The Development component alone, from a build tree where only the
# libraries were built: libraries, headers, CMake package, .pc files.
cmake -S . -B "$work/libs-only" -DTVRCGCV_BUILD_TESTS=OFF -DTVRCGCV_BUILD_TOOLS=OFF \
  -DTVRCGCV_BUILD_BENCHMARKS=OFF >/dev/null
libraries=(tvrcgcv_catalog tvrcgcv_disc)  # and the libraries below them
cmake --build "$work/libs-only" -j"$(nproc)" --target "${libraries[@]}" >/dev/null
cmake --install "$work/libs-only" --prefix "$work/dev" --component Development >/dev/null
for installed in cgvw_c.h disc_image.h tvrcgcv-c.pc tvrcgcv-discimage.pc tvrcgcvConfig.cmake \
  libtvrcgcv_cgvw.a libtvrcgcv_disc.a; do
  if ! find "$work/dev" -name "$installed" | grep -q .; then
    echo "the Development component lacks $installed" >&2
    exit 1
  fi
done
echo "the Development component installs from a build of the libraries alone"
