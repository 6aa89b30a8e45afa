# shellcheck shell=bash
# Variables go both ways between this file and the script that sources it:
# shellcheck disable=SC2034,SC2154
# Debian's source packages for the libraries that other systems' builds
# link (scripts/windows-deps.sh, scripts/wasm-deps.sh); sourced after
# `log_name` (the prefix of messages) is set.
#
#   debian_sources_ready PACKAGE...    apt knows their source packages
#   add_source_index                   (root) adds deb-src entries for the
#                                      apt configuration's deb entries
#   ensure_source_index PACKAGE...     the above, where it is needed and may
#                                      be done; false otherwise
#   read_source_index PACKAGE...       sets `uris`: apt's index lines of
#                                      their files ("'URI' name size
#                                      SHA256:hash")
#   source_version PACKAGE             its source version, from `uris`
#   fetch_sources DIR LOG PACKAGE...   apt-get source --download-only into DIR
#   upstream_tarball PACKAGE           the checked upstream tarball's path
#   write_pc DIR NAME DESCRIPTION VERSION LINE...
#                                      a relocatable pkg-config file
#   prefix_current STAMP               whether $prefix holds a complete build
#                                      (every file of `installed`, and
#                                      $stamp_file) whose stamp is STAMP;
#                                      dies where $prefix holds other files
#   start_build NAME STAMP_DIR         a scratch folder $work (removed at
#                                      exit), the prefix's stage $stage,
#                                      $cflags, and $source_dir for the
#                                      downloads (TVRCGCV_DEPS_SOURCES)
#   build_zlib CC AR STAGE SRC FLAG... zlib's library (no gz* file functions)
#                                      in STAGE; sets `zlib_upstream`
#   build_spng CC AR STAGE SRC FLAG... libspng in STAGE as Debian builds it;
#                                      sets `spng_upstream`
#   finish_prefix STAGE PREFIX STAMP STAMP_DIR LABEL ZLIB_COPYRIGHT
#                                      the .pc files, licences and stamp of
#                                      zlib and libspng, then STAGE moved to
#                                      PREFIX
#   png_prefix_files STAGE LABEL ZLIB_COPYRIGHT
#                                      the .pc files and licences of zlib and
#                                      libspng alone
#   seal_prefix STAGE PREFIX STAMP STAMP_DIR
#                                      the stamp, then STAGE moved to PREFIX
#
# A PACKAGE may carry a version (zlib=1:1.2.13.dfsg-1). Every file used is
# checked against the SHA-256 of apt's index.

# zlib as Debian 12's zlib1g is built from it, named exactly: apt's index
# also lists the security update 1.2.13.dfsg-1+deb12u1, whose files the
# archive does not serve, and which changed only the bundled minizip.
zlib_source=zlib=1:1.2.13.dfsg-1

deb_src_file=/etc/apt/sources.list.d/tvrcgcv-deb-src.sources
deb_src_list=/etc/apt/sources.list.d/tvrcgcv-deb-src.list

log() { echo "${log_name:?}: $*" >&2; }
die() {
  log "$*"
  exit 1
}

debian_sources_ready() {
  apt-get source --print-uris -qq "$@" >/dev/null 2>&1
}

# Adds a deb-src entry for every enabled deb entry of the apt configuration
# (so the sources come from the archive that the binary packages come from),
# then downloads only their index. Files of its own, rewritten on each run.
add_source_index() {
  local sources=() lists=() file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file && $file != "$deb_src_file" ]] && sources+=("$file")
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file && $file != "$deb_src_list" ]] && lists+=("$file")
  done
  log "adding deb-src entries for Debian's source packages"
  rm -f "$deb_src_file" "$deb_src_list"
  if ((${#sources[@]})); then
    # deb822 stanzas: keep the enabled ones of type deb, as type deb-src.
    awk '
      function flush() {
        if (n && is_deb && enabled) {
          if (written) print ""
          for (i = 1; i <= n; i++) print lines[i]
          written = 1
        }
        n = 0; is_deb = 0; enabled = 1
      }
      BEGIN { enabled = 1 }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      tolower($1) == "types:" {
        for (i = 2; i <= NF; i++) if ($i == "deb") is_deb = 1
        lines[++n] = "Types: deb-src"
        next
      }
      tolower($1) == "enabled:" && tolower($2) == "no" { enabled = 0 }
      { lines[++n] = $0 }
      END { flush() }
    ' "${sources[@]}" >"$deb_src_file"
    [[ -s $deb_src_file ]] || rm -f "$deb_src_file"
  fi
  if ((${#lists[@]})); then
    sed -n 's/^[[:space:]]*deb\([[:space:]]\)/deb-src\1/p' "${lists[@]}" >"$deb_src_list"
    [[ -s $deb_src_list ]] || rm -f "$deb_src_list"
  fi
  [[ -e $deb_src_file || -e $deb_src_list ]] || die "no deb entry found in the apt configuration"
  local update=(apt-get update -qq -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0)
  if [[ -e $deb_src_file ]]; then
    "${update[@]}" -o Dir::Etc::sourcelist="$deb_src_file"
  fi
  if [[ -e $deb_src_list ]]; then
    "${update[@]}" -o Dir::Etc::sourcelist="$deb_src_list"
  fi
}

ensure_source_index() {
  debian_sources_ready "$@" && return 0
  if [[ $(id -u) == 0 ]]; then
    add_source_index
    debian_sources_ready "$@" || die "apt still knows no source package of $*"
    return 0
  fi
  return 1
}

read_source_index() {
  uris=$(apt-get source --print-uris -qq "$@") || die "apt-get source --print-uris $* failed"
}

source_version() {
  local dsc
  dsc=$(awk '{print $2}' <<<"$uris" | grep "^$1_.*\.dsc\$") ||
    die "apt-get source --print-uris names no $1 source package"
  dsc=${dsc#"$1"_}
  echo "${dsc%.dsc}"
}

# apt-get source fetches each package's .dsc, upstream tarball and Debian
# tarball. Only upstream tarballs are built (Debian's packaging is for
# Linux), so a Debian tarball may fail to download: what is needed is judged
# by upstream_tarball.
fetch_sources() {
  local dir=$1 apt_log=$2 name
  shift 2
  (cd "$dir" && apt-get source --download-only -qq "$@" >"$apt_log" 2>&1) || true
  fetch_log=$apt_log
  fetch_dir=$dir
  while read -r name; do
    [[ -f $dir/$name ]] || log "not downloaded, and not needed: $name"
  done < <(awk '{print $2}' <<<"$uris" | grep -v '\.orig\.tar\.')
}

upstream_tarball() {  # package: the verified upstream tarball's path
  local line name hash
  line=$(grep -E "^'[^']*' $1_[^ ]*\.orig\.tar\.[a-z0-9]+ " <<<"$uris") ||
    die "no upstream tarball of $1 in apt's index"
  name=$(awk '{print $2}' <<<"$line")
  hash=$(awk '{print $4}' <<<"$line")
  hash=${hash#SHA256:}
  if [[ ! -f $fetch_dir/$name ]]; then
    sed 's/^/  /' "$fetch_log" >&2
    die "$name was not downloaded (apt-get source's output above)"
  fi
  [[ $(sha256sum "$fetch_dir/$name" | cut -d' ' -f1) == "$hash" ]] ||
    die "$name does not match the SHA-256 of apt's index"
  echo "$fetch_dir/$name"
}

# Static libraries only: what each one needs is in Requires.private and
# Libs.private, which pkg-config --static adds.
write_pc() {  # dir name description version [lines...]
  local dir=$1 name=$2 description=$3 version=$4
  shift 4
  {
    # shellcheck disable=SC2016  # ${...} are pkg-config's variables
    printf '%s\n' 'prefix=${pcfiledir}/../..' 'libdir=${prefix}/lib' \
      'includedir=${prefix}/include' ''
    echo "Name: $name"
    echo "Description: $description"
    echo "Version: $version"
    printf '%s\n' "$@"
  } >"$dir/$name.pc"
}

# zlib's library from its C files, without the gz* file functions, which
# nothing here uses. Sets zlib_upstream, the version zlib.h states.
build_zlib() {  # cc ar stage src [flags...]
  local cc=$1 ar=$2 stage=$3 src=$4 file
  shift 4
  mkdir -p "$work/zlib"
  for file in adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil; do
    "$cc" "$@" -c "$src/$file.c" -o "$work/zlib/$file.o"
  done
  "$ar" rcs "$stage/lib/libz.a" "$work"/zlib/*.o
  cp "$src/zlib.h" "$src/zconf.h" "$stage/include/"
  zlib_upstream=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$src/zlib.h")
}

# libspng as Debian builds it (-Denable_opt=false: no SIMD code paths),
# SPNG_STATIC so that spng.h declares no DLL imports; $work holds its
# object. Sets spng_upstream, the version spng.h states.
build_spng() {  # cc ar stage src [flags...]
  local cc=$1 ar=$2 stage=$3 src=$4
  shift 4
  mkdir -p "$work/libspng"
  "$cc" "$@" -DSPNG_STATIC -DSPNG_DISABLE_OPT -I"$stage/include" \
    -c "$src/spng/spng.c" -o "$work/libspng/spng.o"
  "$ar" rcs "$stage/lib/libspng.a" "$work/libspng/spng.o"
  cp "$src/spng/spng.h" "$stage/include/"
  spng_upstream=$(awk '/#define SPNG_VERSION_(MAJOR|MINOR|PATCH)/ {v = v sep $3; sep = "."}
    END {print v}' "$src/spng/spng.h")
}

# The pkg-config files, the licences (zlib's from ZLIB_COPYRIGHT, a
# copyright file or a header whose first comment holds it) and the stamp,
# then the prefix is replaced whole, so it never mixes two builds. Reads
# spng_src, zlib_upstream and spng_upstream. The stamp goes to
# share/STAMP_DIR/stamp.
finish_prefix() {  # stage prefix stamp stamp-dir label zlib-copyright
  png_prefix_files "$1" "$5" "$6"
  seal_prefix "$1" "$2" "$3" "$4"
}

# Reads spng_src, zlib_upstream and spng_upstream.
png_prefix_files() {  # stage label zlib-copyright
  local stage=$1 label=$2 zlib_copyright=$3
  # shellcheck disable=SC2016  # ${libdir} and ${includedir} are pkg-config's
  {
    write_pc "$stage/lib/pkgconfig" zlib "zlib compression library (static, $label)" \
      "$zlib_upstream" 'Libs: -L${libdir} -lz' 'Cflags: -I${includedir}'
    write_pc "$stage/lib/pkgconfig" libspng "PNG decoding and encoding library (static, $label)" \
      "$spng_upstream" 'Requires.private: zlib' 'Libs: -L${libdir} -lspng' \
      'Cflags: -I${includedir} -DSPNG_STATIC'
  }
  mkdir -p "$stage/share/licenses/libspng" "$stage/share/licenses/zlib"
  cp "$spng_src/LICENSE" "$stage/share/licenses/libspng/"
  if [[ $zlib_copyright == *.h ]]; then  # the header's first comment states it
    sed '/\*\//q' "$zlib_copyright" >"$stage/share/licenses/zlib/copyright"
  else
    cp "$zlib_copyright" "$stage/share/licenses/zlib/copyright"
  fi
}

# The prefix is replaced whole, so it never mixes two builds.
seal_prefix() {  # stage prefix stamp stamp-dir
  local stage=$1 prefix=$2 stamp=$3 stamp_dir=$4
  mkdir -p "$stage/share/$stamp_dir"
  echo "$stamp" >"$stage/share/$stamp_dir/stamp"
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  mv "$stage" "$prefix"
}

# What a prefix of the PNG libraries holds once built, with its stamp.
png_prefix_installed=(include/spng.h include/zlib.h lib/libspng.a lib/libz.a
  lib/pkgconfig/libspng.pc lib/pkgconfig/zlib.pc)
prefix_complete() {  # reads prefix and stamp_file
  local file
  for file in "${png_prefix_installed[@]}"; do [[ -f $prefix/$file ]] || return 1; done
  [[ -f $stamp_file ]]
}

# Whether the prefix holds this very build; a prefix of files that no run
# of the script wrote is refused, never replaced.
prefix_current() {  # stamp
  if [[ -n $(ls -A "$prefix") && ! -f $stamp_file ]]; then
    die "$prefix holds files but no build of this script: refusing to replace it"
  fi
  prefix_complete && [[ $(cat "$stamp_file") == "$1" ]]
}

# Without apt's source index a build cannot be checked against newer
# Debian sources: a complete one (for the target its stamp line names, if
# one is given) is kept, and the script ends; else it stops, saying how to
# add the index.
keep_without_index() {  # stamp line, or "" for none
  if prefix_complete && { [[ -z $1 ]] || grep -qx "$1" "$stamp_file"; }; then
    log "$prefix: kept as built (no source index to check for newer Debian sources)"
    exit 0
  fi
  die "Debian's source index is missing (no deb-src entries). Run once, as root:
  ${here:?}/windows-deps.sh --apt-sources"
}

start_build() {  # name stamp-dir
  start=$(date +%s)
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  stage=$work/stage
  mkdir -p "$stage/include" "$stage/lib/pkgconfig" "$stage/share/$2"
  cflags="-O2 -ffile-prefix-map=$work=."
  source_dir=${TVRCGCV_DEPS_SOURCES:-$work/sources}
  mkdir -p "$source_dir"
  source_dir=$(cd "$source_dir" && pwd)
}
