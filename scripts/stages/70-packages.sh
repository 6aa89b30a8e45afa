#!/usr/bin/env bash
# The release packages, made by CPack as the README says: the Debian packages
# tvrcgcv and tvrcgcv-dev from a Release build, and the Windows zip with the
# 64-bit and the 32-bit tvrcgcv.exe and the web page (scripts/web.sh).
# Checks what each holds (dpkg-deb -c, unzip -l) and the .deb files with
# lintian, then installs both .deb files into a scratch root with dpkg,
# runs the installed program on the demo disc (a directory and an ISO image
# of it) and builds the examples against the installed development
# package.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
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

dpkg-deb -c "$program_deb" | awk '{print $NF}' >"$work/program.list"
expect_entries "$work/program.list" "$(basename "$program_deb")" \
  '^\./usr/bin/tvrcgcv$' '^\./usr/share/man/man1/tvrcgcv\.1\.gz$' \
  '^\./usr/share/doc/tvrcgcv/README\.md$' '^\./usr/share/doc/tvrcgcv/copyright$' \
  '^\./usr/share/doc/tvrcgcv/changelog\.gz$'
refuse_entries "$work/program.list" "$(basename "$program_deb")" \
  '^\./usr/include/' '\.a$' '/cmake/'
dpkg-deb -c "$dev_deb" | awk '{print $NF}' >"$work/dev.list"
expect_entries "$work/dev.list" "$(basename "$dev_deb")" \
  '^\./usr/include/tvrcgcv/cgvw/cgvw\.h$' '^\./usr/include/tvrcgcv/catalog/descriptors\.h$' \
  '^\./usr/include/tvrcgcv/cgvw/cgvw_c\.h$' '^\./usr/include/tvrcgcv/cgvw/descriptors_c\.h$' \
  '^\./usr/include/tvrcgcv/catalog/catalogue_c\.h$' \
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

if command -v lintian >/dev/null; then
  # Errors and warnings fail; lintian's informational tags are shown.
  if ! lintian --no-cfg --display-info --fail-on error,warning "$program_deb" "$dev_deb" \
    >"$work/lintian.log" 2>&1; then
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
  "$top/web/worker.wasm" "$top/win32/tvrcgcv.exe" "$top/win64/tvrcgcv.exe" | sort) \
  "$work/zip.list"; then
  echo "$(basename "$zip") does not hold exactly the two programs, README.txt, LICENSE.txt," \
    "THIRD-PARTY.txt and the web page" >&2
  exit 1
fi
unzip -q "$zip" -d "$work/zip"
for folder in win64:pei-x86-64 win32:pei-i386; do
  exe="$work/zip/$top/${folder%%:*}/tvrcgcv.exe"
  if ! x86_64-w64-mingw32-objdump -f "$exe" | grep -q "file format ${folder#*:}\$"; then
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
for licence in "libspng/LICENSE" "zlib/copyright"; do
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
cp "$program_deb" "$dev_deb" "$zip" "$root/build-packages/"
echo "packages left in $root/build-packages: $(cd "$root/build-packages" && ls | tr '\n' ' ')"
