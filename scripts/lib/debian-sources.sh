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
# A script that builds more appends them to prefix_installed.
prefix_installed=("${png_prefix_installed[@]}")
prefix_complete() {  # reads prefix, prefix_installed and stamp_file
  local file
  for file in "${prefix_installed[@]}"; do [[ -f $prefix/$file ]] || return 1; done
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

# --- The libraries of CHD files and zip/7z archives -------------------------
# liblzma, libFLAC and libzstd (decoders only) and libarchive (the zip and
# 7z readers only), built from their C files with fixed configurations
# rather than their build systems: a configure run cross-compiles hundreds
# of test programs, and only the decoding side is linked. The sources are
# Debian's upstream tarballs with Debian's patches (the security fixes) on
# top.

# libzstd as Debian 12's libzstd1 is built from it, named exactly: the
# archive does not serve the files of the security update in apt's index.
zstd_source=libzstd=1.5.4+dfsg2-5
# The source packages of disc_libraries_build, zlib's aside.
disc_sources=(xz-utils flac "$zstd_source" libarchive)

# Applies the Debian tarball's patch series of PACKAGE to SRC (a package
# without patches is left as it is).
apply_debian_patches() {  # package src
  local line name hash patch
  line=$(grep -E "^'[^']*' $1_[^ ]*\.debian\.tar\.[a-z0-9]+ " <<<"$uris") ||
    die "no Debian tarball of $1 in apt's index"
  name=$(awk '{print $2}' <<<"$line")
  hash=$(awk '{print $4}' <<<"$line")
  [[ -f $fetch_dir/$name ]] || die "$name was not downloaded"
  [[ $(sha256sum "$fetch_dir/$name" | cut -d' ' -f1) == "${hash#SHA256:}" ]] ||
    die "$name does not match the SHA-256 of apt's index"
  mkdir -p "$work/debian-$1"
  tar -xf "$fetch_dir/$name" -C "$work/debian-$1"
  [[ -f $work/debian-$1/debian/patches/series ]] || return 0
  while read -r patch _; do
    [[ -z $patch || $patch == \#* ]] && continue
    patch -d "$2" -p1 -s -N <"$work/debian-$1/debian/patches/$patch" >/dev/null ||
      die "Debian's patch $patch of $1 does not apply"
  done <"$work/debian-$1/debian/patches/series"
}

# Compiles the C files SOURCE... with CC and FLAG... into DIR/<name>.o, two
# at a time (TVRCGCV_DEPS_JOBS).
compile_c() {  # cc dir flag... -- source...
  local cc=$1 dir=$2 flags=()
  shift 2
  while [[ $1 != -- ]]; do
    flags+=("$1")
    shift
  done
  shift
  mkdir -p "$dir"
  # shellcheck disable=SC2016  # the inner shell's variables
  printf '%s\0' "$@" | xargs -0 -P "${TVRCGCV_DEPS_JOBS:-2}" -I{} sh -c \
    'dir=$1 src=$2; shift 2; exec "$@" -c "$src" -o "$dir/$(basename "$src" .c).o"' \
    sh "$dir" {} "$cc" "${flags[@]}"
}

# liblzma's decoders (.xz, .lzma and raw streams; LZMA1, LZMA2, delta and
# the branch filters 7z archives use) without threads. Sets lzma_upstream.
build_lzma() {  # cc ar stage src [flags...]
  local cc=$1 ar=$2 stage=$3 top=$4 src=$4/src/liblzma dir sources=() file
  shift 4
  for dir in common check delta lz lzma simple; do
    for file in "$src/$dir"/*.c; do
      case ${file##*/} in
        *encoder* | *tablegen.c | *_small.c | fastpos_table.c | price_table.c) ;;
        stream_decoder_mt.c | outqueue.c | hardware_*.c | lzip_decoder.c) ;;
        string_conversion.c) ;;
        *) sources+=("$file") ;;
      esac
    done
  done
  sources+=("$src/lzma/lzma_encoder_presets.c")  # lzma_lzma_preset
  local defines=(HAVE_STDBOOL_H HAVE__BOOL HAVE_STDINT_H HAVE_INTTYPES_H HAVE_VISIBILITY=0
    TUKLIB_SYMBOL_PREFIX=lzma_ LZMA_API_STATIC HAVE_CHECK_CRC32 HAVE_CHECK_CRC64
    HAVE_CHECK_SHA256 HAVE_DECODERS HAVE_DECODER_LZMA1 HAVE_DECODER_LZMA2 HAVE_DECODER_DELTA
    HAVE_DECODER_X86 HAVE_DECODER_POWERPC HAVE_DECODER_IA64 HAVE_DECODER_ARM
    HAVE_DECODER_ARMTHUMB HAVE_DECODER_ARM64 HAVE_DECODER_SPARC)
  compile_c "$cc" "$work/liblzma" "$@" "${defines[@]/#/-D}" -I"$src/api" -I"$src/common" \
    -I"$src/check" -I"$src/lz" -I"$src/rangecoder" -I"$src/lzma" -I"$src/delta" \
    -I"$src/simple" -I"$top/src/common" -- "${sources[@]}"
  "$ar" rcs "$stage/lib/liblzma.a" "$work"/liblzma/*.o
  cp -r "$src/api/lzma.h" "$src/api/lzma" "$stage/include/"
  lzma_upstream=$(awk '/#define LZMA_VERSION_(MAJOR|MINOR|PATCH) / {v = v sep $3; sep = "."}
    END {print v}' "$src/api/lzma/version.h")
}

# libFLAC's stream decoder, without Ogg and without assembly or intrinsics.
# Sets flac_upstream.
build_flac() {  # cc ar stage src [flags...]
  local cc=$1 ar=$2 stage=$3 src=$4 file sources=()
  shift 4
  for file in bitmath bitreader cpu crc fixed float format lpc md5 memory stream_decoder; do
    sources+=("$src/src/libFLAC/$file.c")
  done
  flac_upstream=$(sed -n 's/^project(FLAC VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
  [[ -n $flac_upstream ]] || die "no version in FLAC's CMakeLists.txt"
  if [[ $cc == *mingw32* ]]; then  # file names as UTF-8 on Windows
    sources+=("$src/src/share/win_utf8_io/win_utf8_io.c")
  fi
  compile_c "$cc" "$work/libflac" "$@" -DFLAC__NO_ASM -DFLAC__HAS_OGG=0 -DFLAC__NO_DLL \
    -DHAVE_STDINT_H -DHAVE_INTTYPES_H -DHAVE_LROUND -DHAVE_FSEEKO -DNDEBUG \
    -DPACKAGE_VERSION="\"$flac_upstream\"" -I"$src/include" -I"$src/src/libFLAC/include" \
    -- "${sources[@]}"
  "$ar" rcs "$stage/lib/libFLAC.a" "$work"/libflac/*.o
  mkdir -p "$stage/include/FLAC"
  cp "$src"/include/FLAC/*.h "$stage/include/FLAC/"
}

# libzstd's decompression (no legacy formats, no assembly). Sets
# zstd_upstream.
build_zstd() {  # cc ar stage src [flags...]
  local cc=$1 ar=$2 stage=$3 src=$4/lib
  shift 4
  compile_c "$cc" "$work/libzstd" "$@" -DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 \
    -DXXH_NAMESPACE=ZSTD_ -- "$src"/common/*.c "$src"/decompress/*.c
  "$ar" rcs "$stage/lib/libzstd.a" "$work"/libzstd/*.o
  cp "$src/zstd.h" "$src/zstd_errors.h" "$stage/include/"
  zstd_upstream=$(awk '/#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) / {v = v sep $3; sep = "."}
    END {print v}' "$src/zstd.h")
}

# libarchive's zip and 7z readers, with zlib, liblzma and libzstd from
# STAGE: no iconv (names in UTF-8 and the C locale's conversions only), no
# bzip2, no encryption library (encrypted members are reported as such), no
# ACL or xattr support of the system. Sets archive_upstream.
build_libarchive() {  # cc ar stage src [flags...]
  local cc=$1 ar=$2 stage=$3 src=$4/libarchive file sources=()
  shift 4
  for file in acl check_magic cryptor digest entry entry_sparse entry_xattr hmac options ppmd7 \
    ppmd8 random rb read read_add_passphrase read_set_options read_support_format_7zip \
    read_support_format_zip string string_sprintf util virtual; do
    sources+=("$src/archive_$file.c")
  done
  if [[ $cc == *mingw32* ]]; then  # the POSIX calls libarchive makes, on Windows
    sources+=("$src/archive_windows.c")
  fi
  mkdir -p "$work/libarchive-config"
  # The C library of a POSIX system (musl, glibc) or of mingw-w64.
  {
    printf '#define %s 1\n' HAVE_STDINT_H HAVE_INTTYPES_H HAVE_STDLIB_H HAVE_STRING_H \
      HAVE_ERRNO_H HAVE_FCNTL_H HAVE_LIMITS_H HAVE_SYS_TYPES_H HAVE_SYS_STAT_H \
      HAVE_WCHAR_H HAVE_LOCALE_H HAVE_TIME_H HAVE_STDARG_H HAVE_DECL_SIZE_MAX \
      HAVE_DECL_INT32_MAX HAVE_DECL_INT32_MIN HAVE_DECL_UINT32_MAX HAVE_DECL_INT64_MAX \
      HAVE_DECL_INT64_MIN HAVE_DECL_UINT64_MAX HAVE_DECL_INTMAX_MAX HAVE_DECL_INTMAX_MIN \
      HAVE_DECL_UINTMAX_MAX HAVE_WCHAR_T HAVE_WCSCPY HAVE_WCSLEN HAVE_WMEMCMP HAVE_WMEMCPY \
      HAVE_WMEMMOVE HAVE_MBRTOWC HAVE_WCRTOMB HAVE_WCTOMB HAVE_MBTOWC HAVE_EILSEQ \
      HAVE_STRERROR HAVE_STRDUP HAVE_MKTIME HAVE_VPRINTF HAVE_INTMAX_T HAVE_UINTMAX_T \
      HAVE_UINT64_T HAVE_INT64_T HAVE_UINT32_T HAVE_INT32_T HAVE_UINT16_T HAVE_INT16_T \
      HAVE_UINT8_T HAVE_ZLIB_H HAVE_LIBZ HAVE_LZMA_H HAVE_LIBLZMA HAVE_ZSTD_H HAVE_LIBZSTD
    if [[ $cc == *mingw32* ]]; then
      printf '#define %s 1\n' HAVE_IO_H HAVE_DIRECT_H HAVE_WINDOWS_H HAVE_WINCRYPT_H \
        HAVE_UNISTD_H HAVE_DECL_SSIZE_MAX
      printf '#define %s short\n' uid_t gid_t id_t  # as libarchive's CMake has them
    else
      printf '#define %s 1\n' HAVE_UNISTD_H HAVE_STRINGS_H HAVE_SYS_TIME_H HAVE_LANGINFO_H \
        HAVE_NL_LANGINFO HAVE_LOCALTIME_R HAVE_GMTIME_R HAVE_TIMEGM HAVE_FCNTL HAVE_MKSTEMP \
        HAVE_DECL_SSIZE_MAX HAVE_READLINK
    fi
    echo '#define __LIBARCHIVE_CONFIG_H_INCLUDED 1'
  } >"$work/libarchive-config/config.h"
  compile_c "$cc" "$work/libarchive" "$@" -DHAVE_CONFIG_H -I"$work/libarchive-config" \
    -I"$stage/include" -DLZMA_API_STATIC -DLIBARCHIVE_STATIC -- "${sources[@]}"
  "$ar" rcs "$stage/lib/libarchive.a" "$work"/libarchive/*.o
  cp "$src/archive.h" "$src/archive_entry.h" "$stage/include/"
  archive_upstream=$(sed -n 's/^#define[[:space:]]*ARCHIVE_VERSION_ONLY_STRING "\(.*\)"/\1/p' \
    "$src/archive.h")
}

# What disc_libraries_build adds to a prefix.
disc_prefix_installed=(include/lzma.h include/FLAC/stream_decoder.h include/zstd.h
  include/archive.h lib/liblzma.a lib/libFLAC.a lib/libzstd.a lib/libarchive.a
  lib/pkgconfig/liblzma.pc lib/pkgconfig/flac.pc lib/pkgconfig/libzstd.pc
  lib/pkgconfig/libarchive.pc)

# The stamp lines of disc_libraries_build's sources (apt's index read with
# "${disc_sources[@]}").
disc_stamp_lines() {
  local package
  for package in xz-utils flac libzstd libarchive; do
    echo "$package=$(source_version "$package")"
  done
}

# liblzma, libFLAC, libzstd and libarchive into STAGE (which holds zlib
# already), from the sources fetched into $fetch_dir with Debian's patches,
# with their .pc files and licences. LABEL names the target in the .pc
# files.
disc_libraries_build() {  # cc ar stage label [flags...]
  local cc=$1 ar=$2 stage=$3 label=$4 package dir
  shift 4
  mkdir -p "$work/disc-src"
  for package in xz-utils flac libzstd libarchive; do
    dir=$work/disc-src/$package
    mkdir -p "$dir"
    tar -xf "$(upstream_tarball "$package")" -C "$dir" --strip-components=1
    apply_debian_patches "$package" "$dir"
  done
  dir=$work/disc-src
  build_lzma "$cc" "$ar" "$stage" "$dir/xz-utils" "$@"
  build_flac "$cc" "$ar" "$stage" "$dir/flac" "$@"
  build_zstd "$cc" "$ar" "$stage" "$dir/libzstd" "$@"
  build_libarchive "$cc" "$ar" "$stage" "$dir/libarchive" "$@"
  # shellcheck disable=SC2016  # ${libdir} and ${includedir} are pkg-config's
  {
    write_pc "$stage/lib/pkgconfig" liblzma "LZMA decoders of XZ Utils (static, $label)" \
      "$lzma_upstream" 'Libs: -L${libdir} -llzma' 'Cflags: -I${includedir} -DLZMA_API_STATIC'
    write_pc "$stage/lib/pkgconfig" flac "FLAC stream decoder (static, $label)" \
      "$flac_upstream" 'Libs: -L${libdir} -lFLAC' 'Libs.private: -lm' \
      'Cflags: -I${includedir} -DFLAC__NO_DLL'
    write_pc "$stage/lib/pkgconfig" libzstd "Zstandard decompression (static, $label)" \
      "$zstd_upstream" 'Libs: -L${libdir} -lzstd' 'Cflags: -I${includedir}'
    write_pc "$stage/lib/pkgconfig" libarchive "zip and 7z reading of libarchive (static, $label)" \
      "$archive_upstream" 'Requires.private: zlib liblzma libzstd' \
      'Libs: -L${libdir} -larchive' 'Cflags: -I${includedir} -DLIBARCHIVE_STATIC'
  }
  for package in liblzma:xz-utils/COPYING flac:flac/COPYING.Xiph libzstd:libzstd/LICENSE \
    libarchive:libarchive/COPYING; do
    mkdir -p "$stage/share/licenses/${package%%:*}"
    cp "$dir/${package#*:}" "$stage/share/licenses/${package%%:*}/"
  done
}
