#!/usr/bin/env bash
# Builds, for one Linux target, the C libraries that the statically linked
# program (-DTVRCGCV_STATIC_PROGRAM=ON) takes in, and installs them into a
# prefix:
#   libspng + zlib        PNG files
# Both from Debian's source packages (apt-get source), each upstream tarball
# checked against the SHA-256 of apt's index: Debian ships no libspng.a, nor
# any library for another architecture than the machine's own. zlib is the
# version Debian 12's zlib1g is built from, so that PNG files come out as
# the dynamically linked program's, byte for byte.
#
#   scripts/linux-static-deps.sh x86_64-linux-gnu build-deps/x86_64-linux-gnu
#   scripts/linux-static-deps.sh aarch64-linux-gnu build-deps/aarch64-linux-gnu
#
# The prefix gets include/, lib/*.a and lib/pkgconfig/*.pc (relocatable),
# the licences in share/licenses/ and a stamp naming what was built; a
# second run with the same sources, compiler and recipe does nothing.
# Debian's source index is needed (deb-src lines); as root the script adds
# it (scripts/windows-deps.sh --apt-sources does the same), otherwise it
# names the command to run. TVRCGCV_DEPS_SOURCES=<dir> keeps the
# downloaded source files in <dir>.
#
# Needs (Debian 12 packages): gcc for x86_64-linux-gnu, gcc-aarch64-linux-gnu
# for aarch64-linux-gnu; make is not needed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
recipe_files=("$here/linux-static-deps.sh" "$here/lib/debian-sources.sh")
log_name=linux-static-deps
# shellcheck source=scripts/lib/debian-sources.sh
source "$here/lib/debian-sources.sh"

(($# == 2)) || {
  echo "usage: $0 x86_64-linux-gnu|aarch64-linux-gnu PREFIX" >&2
  exit 2
}
triple=$1
case "$triple" in
  x86_64-linux-gnu | aarch64-linux-gnu) ;;
  *) die "unknown target $triple (x86_64-linux-gnu or aarch64-linux-gnu)" ;;
esac
mkdir -p "$2"
prefix=$(cd "$2" && pwd)

cc=$triple-gcc
ar=$triple-ar
command -v "$cc" >/dev/null ||
  die "no C compiler for $triple (apt-get install gcc-$(tr _ - <<<"${triple%%-*}")-linux-gnu)"
for tool in "$ar" bzip2 sha256sum; do
  command -v "$tool" >/dev/null || die "no $tool"
done

stamp_file=$prefix/share/tvrcgcv-static-deps/stamp
if ! ensure_source_index libspng "$zlib_source"; then
  keep_without_index "triple=$triple"
fi
read_source_index libspng "$zlib_source"
spng_version=$(source_version libspng)
zlib_version=$(source_version zlib)
recipe=$(cat "${recipe_files[@]}" | sha256sum | cut -c1-16)
stamp="triple=$triple
libspng=$spng_version
zlib=$zlib_version
compiler=$cc $("$cc" -dumpfullversion)
recipe=$recipe"
if prefix_current "$stamp"; then
  log "$prefix: up to date ($triple, libspng $spng_version, zlib $zlib_version)"
  exit 0
fi

log "building for $triple into $prefix: libspng $spng_version, zlib $zlib_version"
start_build linux-static-deps tvrcgcv-static-deps

fetch_sources "$source_dir" "$work/apt.log" libspng "$zlib_source"
mkdir "$work/src"
for package in libspng zlib; do
  tar -xf "$(upstream_tarball "$package")" -C "$work/src"
done
spng_src=$(echo "$work"/src/libspng-*/)
zlib_src=$(echo "$work"/src/zlib-*/)
[[ -f $spng_src/spng/spng.c && -f $zlib_src/deflate.c ]] || die "unexpected source layout"

# The compiler's defaults (position-independent code on Debian) suit a
# static-pie program; the hardening of Debian's own builds is added.
# shellcheck disable=SC2086  # cflags is a list of options
{
  build_zlib "$cc" "$ar" "$stage" "$zlib_src" $cflags -fstack-protector-strong
  build_spng "$cc" "$ar" "$stage" "$spng_src" $cflags -fstack-protector-strong
}
png_prefix_files "$stage" "$triple" "$zlib_src/zlib.h"
seal_prefix "$stage" "$prefix" "$stamp" tvrcgcv-static-deps
log "$prefix: built in $(($(date +%s) - start)) s"
