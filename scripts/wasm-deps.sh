#!/usr/bin/env bash
# Builds, for WebAssembly with Debian's emscripten, the C libraries that the
# web page's module links statically, and installs them into a prefix:
#   libspng + zlib        PNG files
#   liblzma, libFLAC, libzstd (decoders) + zlib
#                         CHD files
#   libarchive (zip and 7z readers) + zlib, liblzma, libzstd
#                         zip and 7z archives
# All are built from Debian's source packages (apt-get source), each
# upstream tarball checked against the SHA-256 of apt's index.
#
#   scripts/wasm-deps.sh build-deps/wasm32-emscripten
#
# zlib is the version that Debian 12's zlib1g is built from ($zlib_source
# of scripts/lib/debian-sources.sh): the PNG files of the page are the
# native program's byte for byte only with the same libspng and the same
# zlib deflate code.
#
# The prefix gets include/, lib/*.a and lib/pkgconfig/*.pc (relocatable),
# the licences in share/licenses/ and a stamp naming what was built; a
# second run with the same sources, compiler and recipe does nothing.
# Debian's source index is needed (deb-src lines); as root the script adds
# it (scripts/windows-deps.sh --apt-sources does the same), otherwise it
# names the command to run. TVRCGCV_DEPS_SOURCES=<dir> keeps the
# downloaded source files in <dir>.
#
# Needs (Debian 12 packages): emscripten, nodejs, make, bzip2, xz-utils,
# patch.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
recipe_files=("$here/wasm-deps.sh" "$here/lib/debian-sources.sh")
log_name=wasm-deps
# shellcheck source=scripts/lib/debian-sources.sh
source "$here/lib/debian-sources.sh"

(($# == 1)) || {
  echo "usage: $0 PREFIX" >&2
  exit 2
}
mkdir -p "$1"
prefix=$(cd "$1" && pwd)

for tool in emcc emar emconfigure node make bzip2 xz patch sha256sum; do
  command -v "$tool" >/dev/null ||
    die "no $tool (apt-get install emscripten nodejs make bzip2 xz-utils patch)"
done
# Debian's emscripten runs its JavaScript tools with this node, which finds
# Debian's acorn there.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
# Its first line, taken after emcc has written everything (a reader that
# stops early would break emcc's pipe).
compiler=$(emcc --version)
compiler=${compiler%%$'\n'*}

stamp_file=$prefix/share/tvrcgcv-wasm-deps/stamp
prefix_installed+=("${disc_prefix_installed[@]}")
if ! ensure_source_index libspng "$zlib_source" "${disc_sources[@]}"; then
  keep_without_index ""
fi
read_source_index libspng "$zlib_source" "${disc_sources[@]}"
spng_version=$(source_version libspng)
zlib_version=$(source_version zlib)
recipe=$(cat "${recipe_files[@]}" | sha256sum | cut -c1-16)
stamp="target=wasm32-emscripten
libspng=$spng_version
zlib=$zlib_version
$(disc_stamp_lines)
compiler=$compiler
recipe=$recipe"
if prefix_current "$stamp"; then
  log "$prefix: up to date (libspng $spng_version, zlib $zlib_version)"
  exit 0
fi

log "building into $prefix: libspng $spng_version, zlib $zlib_version, $(disc_stamp_lines | tr '\n' ' ')"
start_build wasm-deps tvrcgcv-wasm-deps

# --- Sources -------------------------------------------------------------

fetch_sources "$source_dir" "$work/apt.log" libspng "$zlib_source" "${disc_sources[@]}"
mkdir "$work/src"
for package in libspng zlib; do
  tar -xf "$(upstream_tarball "$package")" -C "$work/src"
done
spng_src=$(echo "$work"/src/libspng-*/)
zlib_src=$(echo "$work"/src/zlib-*/)
[[ -f $spng_src/spng/spng.c && -f $zlib_src/deflate.c ]] ||
  die "unexpected source layout"

# --- zlib: the library's C files, without the gz* file functions -------------

# shellcheck disable=SC2086  # cflags is a list of options
build_zlib emcc emar "$stage" "$zlib_src" $cflags

# --- liblzma, libFLAC, libzstd and libarchive ---------------------------------

# shellcheck disable=SC2086
disc_libraries_build emcc emar "$stage" wasm32-emscripten $cflags

# --- libspng, then the .pc files, licences, stamp, and into place -----------

# shellcheck disable=SC2086
build_spng emcc emar "$stage" "$spng_src" $cflags
finish_prefix "$stage" "$prefix" "$stamp" tvrcgcv-wasm-deps wasm32-emscripten "$zlib_src/zlib.h"
log "$prefix: built in $(($(date +%s) - start)) s"
