#!/usr/bin/env bash
# Builds the check program (check.cpp) against the libraries that
# scripts/windows-deps.sh installed into PREFIX for one mingw-w64 target,
# checks that it needs no DLL beyond Windows' own, and, for x86_64, runs it
# under Wine, which writes two PNG files that Python's zlib then reads back.
# 32-bit Windows programs cannot run on this machine's Wine, so an i686
# build is only compiled and linked.
#
#   tools/windows-deps/check/run.sh x86_64-w64-mingw32 PREFIX BUILD_DIR
#
# Needs cmake, python3 and wine (wine64).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)

(($# == 3)) || { echo "usage: $0 TRIPLE PREFIX BUILD_DIR" >&2 && exit 2; }
triple=$1
prefix=$(cd "$2" && pwd)
build=$3

echo "--- $triple: build"
cmake -S "$here" -B "$build" --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64.cmake" \
  -DTVRCGCV_MINGW_TRIPLE="$triple" -DTVRCGCV_WINDOWS_DEPS_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log" >&2 && exit 1; }
cmake --build "$build" -j2 --verbose >"$build.build.log" 2>&1 ||
  { cat "$build.build.log" >&2 && exit 1; }
exe=$(cd "$build" && pwd)/windows_deps_check.exe
echo "linked: $(sed "s|$prefix|PREFIX|g" "$build/CMakeFiles/windows_deps_check.dir/linkLibs.rsp")"

# Windows' own DLLs only: nothing to ship beside the program.
imports=$("$triple-objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]' |
  sort)
echo "imports: $(tr '\n' ' ' <<<"$imports")"
for dll in $imports; do
  case "$dll" in
    kernel32.dll | user32.dll | msvcrt.dll) ;;
    *) echo "windows_deps_check.exe needs $dll, which is not a Windows system DLL" >&2 && exit 1 ;;
  esac
done

if [[ $triple != x86_64-* ]]; then
  echo "$triple: built and linked (not run: this machine runs 64-bit Windows programs only)"
  exit 0
fi

echo "--- Wine prefix"
# shellcheck source=scripts/lib/wine-prefix.sh
source "$root/scripts/lib/wine-prefix.sh"
start_wine_prefix

disc=$work/disc
mkdir -p "$disc"

echo "--- windows_deps_check.exe under Wine"
status=0
(cd "$disc" && wine "$exe") || status=$?

# The PNG files, read without libspng: chunk CRCs, header, and a zlib stream
# of the right size.
python3 - "$disc" <<'EOF' || status=1
import struct, sys, zlib
for name, header, stride in (("indexed.png", (5, 3, 4, 3), 3), ("rgb.png", (4, 3, 8, 2), 12)):
    data = open(f"{sys.argv[1]}/{name}", "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", name
    pos, chunks, idat = 8, [], b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        assert struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0] == \
            zlib.crc32(kind + body), f"{name}: CRC of {kind}"
        chunks.append(kind.decode())
        idat += body if kind == b"IDAT" else b""
        pos += 12 + length
        if kind == b"IHDR":
            assert struct.unpack(">IIBB", body[:10]) == header, f"{name}: IHDR"
    assert chunks[0] == "IHDR" and chunks[-1] == "IEND", name
    assert len(zlib.decompress(idat)) == header[1] * (1 + stride), f"{name}: image data"
    print(f"{name}: {len(data)} bytes, chunks {' '.join(chunks)}, read back with Python's zlib")
EOF
exit "$status"
