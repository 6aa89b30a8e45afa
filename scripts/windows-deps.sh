#!/usr/bin/env bash
# Cross-builds, for one mingw-w64 target, the C libraries that the Windows
# program links statically, and installs them into a prefix:
#   libspng + zlib        PNG files
#   liblzma, libFLAC, libzstd (decoders) + zlib
#                         CHD files
#   libarchive (zip and 7z readers) + zlib, liblzma, libzstd
#                         zip and 7z archives
# They are built from Debian's source packages (apt-get source; Debian's
# patches applied to the last four), zlib is taken from Debian's
# libz-mingw-w64-dev.
#
#   scripts/windows-deps.sh x86_64-w64-mingw32 build-deps/x86_64-w64-mingw32
#   scripts/windows-deps.sh i686-w64-mingw32 build-deps/i686-w64-mingw32
#   scripts/windows-deps.sh --apt-sources   (as root: only add the deb-src
#                                            lines and fetch their index)
#
# The prefix gets include/, lib/*.a and lib/pkgconfig/*.pc (relocatable:
# paths are relative to the .pc files), the licences in share/licenses/ and
# a stamp naming what was built. A second run with the same target, the same
# Debian source versions and the same recipe does nothing. Debian's source
# index is needed (deb-src lines); as root the script adds it, otherwise it
# tells the command to run. TVRCGCV_DEPS_SOURCES=<dir> keeps the downloaded
# source files in <dir> (they are fetched into a temporary one otherwise).
#
# Needs (Debian 12 packages): gcc-mingw-w64-x86-64-posix and/or
# gcc-mingw-w64-i686-posix (brought by g++-mingw-w64-*), libz-mingw-w64-dev,
# make, bzip2, xz-utils, patch; nothing else beyond a base system with apt.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
recipe_files=("$here/windows-deps.sh" "$here/lib/debian-sources.sh")
log_name=windows-deps
# shellcheck source=scripts/lib/debian-sources.sh
source "$here/lib/debian-sources.sh"

usage() {
  echo "usage: $0 x86_64-w64-mingw32|i686-w64-mingw32 PREFIX" >&2
  echo "       $0 --apt-sources   (as root)" >&2
  exit 2
}

if [[ ${1:-} == --apt-sources ]]; then
  [[ $(id -u) == 0 ]] || die "--apt-sources needs root"
  ensure_source_index libspng "${disc_sources[@]}"
  log "Debian's source index is ready"
  exit 0
fi

# --- Arguments, tools, and what is to be built --------------------------

(($# == 2)) || usage
triple=$1
case "$triple" in
  x86_64-w64-mingw32 | i686-w64-mingw32) ;;
  *) die "unknown target $triple (x86_64-w64-mingw32 or i686-w64-mingw32)" ;;
esac
mkdir -p "$2"
prefix=$(cd "$2" && pwd)

cc=$(command -v "$triple-gcc-posix" || command -v "$triple-gcc") ||
  die "no C compiler for $triple (apt-get install gcc-mingw-w64-$(tr _ - <<<"${triple%%-*}")-posix)"
cc=$(basename "$cc")
ar=$triple-ar
command -v "$ar" >/dev/null || die "no $ar"
sysroot=/usr/$triple
[[ -f $sysroot/lib/libz.a && -f $sysroot/include/zlib.h ]] ||
  die "no static zlib for $triple (apt-get install libz-mingw-w64-dev)"
for tool in make bzip2 xz patch sha256sum; do
  command -v "$tool" >/dev/null || die "no $tool"
done

# The files of the source package, from apt's index.
prefix_installed+=("${disc_prefix_installed[@]}")
have_index=yes
ensure_source_index libspng "${disc_sources[@]}" || have_index=no
if [[ $have_index == yes ]]; then
  read_source_index libspng "${disc_sources[@]}"
  spng_version=$(source_version libspng)
fi
zlib_version=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev 2>/dev/null || echo unknown)
recipe=$(cat "${recipe_files[@]}" | sha256sum | cut -c1-16)
compiler=$("$cc" -dumpfullversion)

stamp_file=$prefix/share/tvrcgcv-windows-deps/stamp
if [[ $have_index == no ]]; then
  keep_without_index "triple=$triple"
fi

stamp="triple=$triple
libspng=$spng_version
libz-mingw-w64-dev=$zlib_version
$(disc_stamp_lines)
compiler=$cc $compiler
recipe=$recipe"
if prefix_current "$stamp"; then
  log "$prefix: up to date ($triple, libspng $spng_version)"
  exit 0
fi

log "building for $triple into $prefix: libspng $spng_version," \
  "zlib from libz-mingw-w64-dev $zlib_version, $(disc_stamp_lines | tr '\n' ' ')"
start_build windows-deps tvrcgcv-windows-deps

# --- Sources -------------------------------------------------------------

# Only the upstream tarball is built, checked against apt's index.
fetch_sources "$source_dir" "$work/apt.log" libspng "${disc_sources[@]}"
spng_tarball=$(upstream_tarball libspng)
mkdir "$work/src"
tar -xf "$spng_tarball" -C "$work/src"
spng_src=$(echo "$work"/src/libspng-*/)
[[ -f $spng_src/spng/spng.c ]] || die "unexpected source layout"

# --- zlib -------------------------------------------------------------------

cp "$sysroot/include/zlib.h" "$sysroot/include/zconf.h" "$stage/include/"
cp "$sysroot/lib/libz.a" "$stage/lib/"  # never libz.dll.a: static only
zlib_upstream=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$sysroot/include/zlib.h")

# --- liblzma, libFLAC, libzstd and libarchive ---------------------------------

# shellcheck disable=SC2086
disc_libraries_build "$cc" "$ar" "$stage" "$triple" $cflags

# --- libspng, then the .pc files, licences, stamp, and into place -----------

# shellcheck disable=SC2086
build_spng "$cc" "$ar" "$stage" "$spng_src" $cflags -std=c99
zlib_copyright=/usr/share/doc/libz-mingw-w64-dev/copyright
# A system installed without /usr/share/doc: zlib.h opens with it.
[[ -f $zlib_copyright ]] || zlib_copyright=$sysroot/include/zlib.h
finish_prefix "$stage" "$prefix" "$stamp" tvrcgcv-windows-deps "$triple" "$zlib_copyright"
log "$prefix: built in $(($(date +%s) - start)) s"
