#!/usr/bin/env bash
# The release packages, made by CPack as the README says: the Debian packages
# tvrcgcv and tvrcgcv-dev from a Release build, tvrcgcv for arm64 from a
# cross build, the statically linked programs for x86-64 and arm64
# (tvrcgcv-<version>-linux-<arch>.tar.gz), and the Windows zip with the
# 64-bit and the 32-bit tvrcgcv.exe and the web page (scripts/web.sh).
# Checks what each holds (dpkg-deb -c, tar -t, unzip -l) and the .deb files
# with lintian, then installs both amd64 .deb files into a scratch root
# with dpkg, runs the installed program on the demo disc (a directory and
# an ISO image of it) and builds the examples against the installed
# development package; the arm64 package's program and both static
# programs (under qemu-aarch64 for arm64) convert the demo disc to the
# same files.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
source "$root/scripts/lib/static-program.sh"
cd "$root"

new_work
dist="$work/dist"
finished=$'\x8f\x49\x97\xb9\x81\x42\r'  # the last line of a complete run

# expect_entries <listing> <description> <pattern>...: every pattern (an
# extended regular expression) matches a line of the listing file.
expect_entries() {
  local listing=$1 description=$2 pattern
  shift 2
  for pattern in "$@"; do
    if ! grep -Eq -- "$pattern" "$listing"; then
      cat "$listing" >&2
      echo "$description: nothing matches $pattern" >&2
      return 1
    fi
  done
}

# refuse_entries <listing> <description> <pattern>...: no line matches.
refuse_entries() {
  local listing=$1 description=$2 pattern
  shift 2
  for pattern in "$@"; do
    if grep -Eq -- "$pattern" "$listing"; then
      grep -E -- "$pattern" "$listing" >&2
      echo "$description must not hold these" >&2
      return 1
    fi
  done
}

echo "--- Debian packages"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTVRCGCV_BUILD_TESTS=OFF \
  -DTVRCGCV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
cpack --config build-release/CPackConfig.cmake -B "$dist" >"$work/cpack-deb.log" ||
  { cat "$work/cpack-deb.log" && exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
arch=$(dpkg --print-architecture)
program_deb="$dist/tvrcgcv_${version}_${arch}.deb"
dev_deb="$dist/tvrcgcv-dev_${version}_${arch}.deb"
for deb in "$program_deb" "$dev_deb"; do
  [[ -f $deb ]] || { ls "$dist" >&2 && echo "cpack made no $(basename "$deb")" >&2 && exit 1; }
done

# check_program_deb <deb> <listing>: the program's package holds the
# program, its manual page and documentation, and nothing for developers.
check_program_deb() {
  dpkg-deb -c "$1" | awk '{print $NF}' >"$2"
  expect_entries "$2" "$(basename "$1")" \
    '^\./usr/bin/tvrcgcv$' '^\./usr/share/man/man1/tvrcgcv\.1\.gz$' \
    '^\./usr/share/doc/tvrcgcv/README\.md$' '^\./usr/share/doc/tvrcgcv/copyright$' \
    '^\./usr/share/doc/tvrcgcv/changelog\.gz$'
  refuse_entries "$2" "$(basename "$1")" '^\./usr/include/' '\.a$' '/cmake/'
}
check_program_deb "$program_deb" "$work/program.list"
dpkg-deb -c "$dev_deb" | awk '{print $NF}' >"$work/dev.list"
expect_entries "$work/dev.list" "$(basename "$dev_deb")" \
  '^\./usr/include/tvrcgcv/cgvw/cgvw\.h$' '^\./usr/include/tvrcgcv/catalog/descriptors\.h$' \
  '^\./usr/include/tvrcgcv/cgvw/cgvw_c\.h$' '^\./usr/include/tvrcgcv/cgvw/descriptors_c\.h$' \
  '^\./usr/include/tvrcgcv/catalog/catalogue_c\.h$' '^\./usr/include/tvrcgcv/cgvw/decode_c\.h$' \
  '^\./usr/lib/[^/]+/libtvrcgcv_cgvw\.a$' '^\./usr/lib/[^/]+/cmake/tvrcgcv/tvrcgcvConfig\.cmake$' \
  '^\./usr/lib/[^/]+/pkgconfig/tvrcgcv\.pc$' '^\./usr/lib/[^/]+/pkgconfig/tvrcgcv-c\.pc$' \
  '^\./usr/share/doc/tvrcgcv-dev/copyright$' '^\./usr/share/doc/tvrcgcv-dev/changelog\.gz$'
refuse_entries "$work/dev.list" "$(basename "$dev_deb")" '^\./usr/bin/' '/man/'
# The program's shared libraries come from dpkg-shlibdeps: the C library at
# least.
depends=$(dpkg-deb -f "$program_deb" Depends)
[[ $depends == *"libc6 "* ]] || { echo "tvrcgcv does not depend on libc6: $depends" >&2 && exit 1; }
recommends=$(dpkg-deb -f "$program_deb" Recommends)
[[ $recommends == *libspng0* ]] || { echo "tvrcgcv does not recommend libspng0 (PNG output)" >&2 && exit 1; }
echo "$(basename "$program_deb"): $(wc -l <"$work/program.list") entries; Depends: $depends;" \
  "Recommends: $recommends"
echo "$(basename "$dev_deb"): $(wc -l <"$work/dev.list") entries"

echo "--- arm64 Debian package (cross-built)"
cmake -S . -B build-release-arm64 --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTVRCGCV_BUILD_TESTS=OFF \
  -DTVRCGCV_BUILD_TOOLS=OFF >/dev/null
cmake --build build-release-arm64 -j"$(nproc)" >/dev/null
cpack --config build-release-arm64/CPackConfig.cmake -B "$dist" >"$work/cpack-arm64.log" ||
  { cat "$work/cpack-arm64.log" && exit 1; }
arm64_deb="$dist/tvrcgcv_${version}_arm64.deb"
[[ -f $arm64_deb ]] || { ls "$dist" >&2 && echo "cpack made no $(basename "$arm64_deb")" >&2 && exit 1; }
check_program_deb "$arm64_deb" "$work/arm64.list"
[[ $(dpkg-deb -f "$arm64_deb" Architecture) == arm64 ]] ||
  { echo "$(basename "$arm64_deb") is not for arm64" >&2 && exit 1; }
arm64_depends=$(dpkg-deb -f "$arm64_deb" Depends)
[[ $arm64_depends == libc6* ]] ||
  { echo "$(basename "$arm64_deb") does not depend on libc6: $arm64_depends" >&2 && exit 1; }
dpkg-deb -x "$arm64_deb" "$work/arm64-root"
kind=$(file -b "$work/arm64-root/usr/bin/tvrcgcv")
if [[ ! $kind =~ 'ELF 64-bit LSB '.*'ARM aarch64' ]]; then
  echo "usr/bin/tvrcgcv of $(basename "$arm64_deb") is no arm64 program" >&2
  exit 1
fi
echo "$(basename "$arm64_deb"): $(wc -l <"$work/arm64.list") entries; Depends: $arm64_depends"

if command -v lintian >/dev/null; then
  # Errors and warnings fail; lintian's informational tags are shown.
  if ! lintian --no-cfg --display-info --fail-on error,warning "$program_deb" "$dev_deb" \
    "$arm64_deb" >"$work/lintian.log" 2>&1; then
    cat "$work/lintian.log" >&2
    echo "lintian found errors or warnings" >&2
    exit 1
  fi
  echo "lintian: no errors or warnings; informational tags:"
  grep '^I: ' "$work/lintian.log" | awk '{print "  " $2, $3}' | sort | uniq -c || true
else
  echo "lintian is not installed: the packages are not linted"
fi

echo "--- Both packages installed into a scratch root"
scratch="$work/root"
mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates"
touch "$scratch/var/lib/dpkg/status"
# The scratch root has none of the libraries the packages depend on: the
# program runs with this machine's.
if ! PATH="$PATH:/usr/sbin:/sbin" dpkg --root="$scratch" --force-not-root --force-depends \
  -i "$program_deb" "$dev_deb" >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log" >&2
  exit 1
fi
installed="$scratch/usr/bin/tvrcgcv"
build-release/make_demo_disc "$work/drives/q" >/dev/null
mkdir "$work/out"
(cd "$work/out" && TVRCGCV_DRIVE_ROOT="$work/drives" "$installed" q >"$work/installed.out")
count=$(find "$work/out" -name 'tvrcg*.bmp' | wc -l)
if [[ $count != 161 || "$(tail -n 1 "$work/installed.out")" != "$finished" ]]; then
  tail -n 3 "$work/installed.out" >&2
  echo "the installed program wrote $count files and did not finish" >&2
  exit 1
fi
echo "installed program: 161 files, the run finished"
if command -v xorriso >/dev/null; then
  xorriso -as mkisofs -R -o "$work/disc.iso" "$work/drives/q" >/dev/null 2>&1
  ln -s "$work/disc.iso" "$work/drives/r"
  mkdir "$work/out-image"
  (cd "$work/out-image" && TVRCGCV_DRIVE_ROOT="$work/drives" "$installed" r >/dev/null)
  diff -r "$work/out" "$work/out-image"
  echo "installed program: the same 161 files from an ISO image"
fi
# The development package: the examples build against its CMake package and
# decode the program's first picture from memory.
cmake -S examples -B "$work/examples" -DCMAKE_PREFIX_PATH="$scratch/usr" >/dev/null
cmake --build "$work/examples" -j"$(nproc)" >/dev/null
"$work/examples/decode_from_memory" "$work/drives/q/bg000_0.bg" "$work/memory.bmp"
cmp "$work/memory.bmp" "$work/out/tvrcg000.bmp"
echo "examples built against the installed tvrcgcv-dev: tvrcg000.bmp decoded from memory"

echo "--- arm64 package's program (under qemu-aarch64)"
mkdir "$work/out-arm64"
(cd "$work/out-arm64" && TVRCGCV_DRIVE_ROOT="$work/drives" \
  qemu-aarch64 -L /usr/aarch64-linux-gnu "$work/arm64-root/usr/bin/tvrcgcv" q >/dev/null)
diff -r "$work/out" "$work/out-arm64"
echo "the arm64 package's program: the same 161 files"

echo "--- Statically linked programs (tar.gz)"
for arch in x86_64 arm64; do
  static_program "$arch"
  cpack --config "$static_dir/CPackConfig.cmake" -B "$dist" >"$work/cpack-$arch.log" ||
    { cat "$work/cpack-$arch.log" && exit 1; }
  top="tvrcgcv-$version-linux-$arch"
  tarball="$dist/$top.tar.gz"
  tar -tzf "$tarball" | grep -v '/$' | sort >"$work/$arch.list"
  if ! diff <(printf '%s\n' "$top/bin/tvrcgcv" "$top/share/doc/tvrcgcv/LICENSE" \
    "$top/share/doc/tvrcgcv/README.md" "$top/share/doc/tvrcgcv/THIRD-PARTY.txt" \
    "$top/share/man/man1/tvrcgcv.1.gz" | sort) "$work/$arch.list"; then
    echo "$(basename "$tarball") does not hold exactly the program, its manual page, README.md," \
      "LICENSE and THIRD-PARTY.txt" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$work"
  check_no_shared_libraries "$work/$top/bin/tvrcgcv"
  for licence in "libspng/LICENSE" "zlib/copyright" "GNU Lesser General Public License"; do
    grep -q "$licence" "$work/$top/share/doc/tvrcgcv/THIRD-PARTY.txt" ||
      { echo "$top: THIRD-PARTY.txt does not name $licence" >&2 && exit 1; }
  done
  run=("$work/$top/bin/tvrcgcv")
  [[ $arch == arm64 ]] && run=(qemu-aarch64 "${run[@]}")
  mkdir "$work/out-$top"
  (cd "$work/out-$top" && TVRCGCV_DRIVE_ROOT="$work/drives" "${run[@]}" q >/dev/null)
  diff -r "$work/out" "$work/out-$top"
  echo "$(basename "$tarball"): $(wc -l <"$work/$arch.list") files; its program writes the same" \
    "161 files"
done

echo "--- Windows zip"
windows_build build-windows-i686 i686-w64-mingw32 tvrcgcv
windows_build build-windows x86_64-w64-mingw32 tvrcgcv
page=$(scripts/web.sh --build)
cmake -S . -B build-windows -DTVRCGCV_WINDOWS_OTHER_BUILD="$root/build-windows-i686" \
  -DTVRCGCV_WEB_PAGE="$page" >/dev/null
cpack --config build-windows/CPackConfig.cmake -B "$dist" >"$work/cpack-zip.log" ||
  { cat "$work/cpack-zip.log" && exit 1; }
zip="$dist/tvrcgcv-$version-windows.zip"
top="tvrcgcv-$version-windows"
unzip -Z1 "$zip" | grep -v '/$' | sort >"$work/zip.list"
if ! diff <(printf '%s\n' "$top/LICENSE.txt" "$top/README.txt" "$top/THIRD-PARTY.txt" \
  "$top/web/THIRD-PARTY.txt" "$top/web/app.js" "$top/web/index.html" "$top/web/worker.js" \
  "$top/web/worker.wasm" "$top/web/sw.js" "$top/web/manifest.json" "$top/web/icon.svg" \
  "$top/web/icon-192.png" "$top/web/icon-512.png" "$top/win32/tvrcgcv.exe" "$top/win64/tvrcgcv.exe" | sort) \
  "$work/zip.list"; then
  echo "$(basename "$zip") does not hold exactly the two programs, README.txt, LICENSE.txt," \
    "THIRD-PARTY.txt and the web page" >&2
  exit 1
fi
unzip -q "$zip" -d "$work/zip"
for folder in win64:pei-x86-64 win32:pei-i386; do
  exe="$work/zip/$top/${folder%%:*}/tvrcgcv.exe"
  headers=$(x86_64-w64-mingw32-objdump -f "$exe")
  if ! grep -q "file format ${folder#*:}\$" <<<"$headers"; then
    echo "${folder%%:*}/tvrcgcv.exe is not a ${folder#*:} program" >&2
    exit 1
  fi
  check_windows_imports "$exe"
done
for text in README.txt LICENSE.txt THIRD-PARTY.txt; do
  file="$work/zip/$top/$text"
  if [[ ! -s $file || $(grep -c $'\r$' "$file") != $(wc -l <"$file") ]]; then
    echo "$text: not every line ends in CR LF" >&2
    exit 1
  fi
done
grep -q "tvrcgcv $version for Windows" "$work/zip/$top/README.txt"
# The web page is the one built, byte for byte.
for file in "$page"/*; do
  cmp "$file" "$work/zip/$top/web/$(basename "$file")"
done
grep -q "libspng" "$work/zip/$top/web/THIRD-PARTY.txt"
grep -q "libarchive" "$work/zip/$top/web/THIRD-PARTY.txt"
for licence in "libspng/LICENSE" "zlib/copyright" "liblzma/COPYING" "flac/COPYING.Xiph" \
  "libzstd/LICENSE" "libarchive/COPYING"; do
  if ! grep -q "$licence" "$work/zip/$top/THIRD-PARTY.txt"; then
    echo "THIRD-PARTY.txt does not name $licence" >&2
    exit 1
  fi
done
# libcdio, the GPL library that read disc images, is in neither any more.
# (zlib's Debian copyright text names the GPL for files that are not built.)
for text in "$work/zip/$top/THIRD-PARTY.txt" "$work/zip/$top/web/THIRD-PARTY.txt"; do
  if grep -qi "libcdio\|libiso9660" "$text"; then
    echo "$text names libcdio" >&2
    exit 1
  fi
done
unzip -l "$zip" | tail -n 1 | sed "s|^ *|$(basename "$zip"): |"

# The packages stay where a user finds them: build-packages/ in the checkout.
mkdir -p "$root/build-packages"
cp "$program_deb" "$dev_deb" "$arm64_deb" "$dist/tvrcgcv-$version-linux-x86_64.tar.gz" \
  "$dist/tvrcgcv-$version-linux-arm64.tar.gz" "$zip" "$root/build-packages/"
echo "packages left in $root/build-packages: $(find "$root/build-packages" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')"
