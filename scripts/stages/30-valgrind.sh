#!/usr/bin/env bash
# Valgrind memcheck over the real program: the full conversion of the demo
# disc, a damaged copy of it, and runs that stop at a missing source file or
# at an output that cannot be created or written; --check on a raw image of
# the disc cut short at every kind of place; then the unit tests. Each must
# report 0 errors and 0 bytes definitely or indirectly lost.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc unit_tests c_api_test \
  c_decode_test

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2054  # the commas are valgrind's
memcheck=(valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect
  --errors-for-leak-kinds=definite,indirect --error-exitcode=99)
finished=$'\x8f\x49\x97\xb9\x81\x42\r'  # the last line of a complete run

# check <name> <expected output files> [file size limit in KiB]: runs the
# converter on drive q of $work/<name>/drives in the empty directory
# $work/<name>/out.
check() {
  local name="$1" files="$2" limit="${3:-unlimited}" dir="$work/$1"
  local status=0
  (cd "$dir/out" && ulimit -f "$limit" && TVRCGCV_DRIVE_ROOT="$dir/drives" "${memcheck[@]}" \
    --log-file="$dir/memcheck.log" "$root/build/tvrcgcv" q >"$dir/stdout") || status=$?
  local summary
  summary="$(grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|All heap blocks' "$dir/memcheck.log" |
    sed 's/^==[0-9]*== //' | paste -sd ' ')"
  echo "$name: exit $status, $(find "$dir/out" -name 'tvrcg*.bmp' -type f | wc -l) files; $summary"
  if ((status != 0)) || ! grep -q 'ERROR SUMMARY: 0 errors' "$dir/memcheck.log"; then
    cat "$dir/memcheck.log"
    return 1
  fi
  if (($(find "$dir/out" -name 'tvrcg*.bmp' -type f | wc -l) != files)); then
    echo "$name: expected $files output files"
    return 1
  fi
}

disc() {
  mkdir -p "$work/$1/drives" "$work/$1/out"
  build/make_demo_disc "$work/$1/drives/q" >/dev/null
  echo "$work/$1/drives/q"
}

# The whole demo disc.
disc demo >/dev/null
check demo 161
[[ $(tail -n 1 "$work/demo/stdout") == *"$finished"* ]]

# Damaged: files ending inside and before their ranges, an empty palette
# file, a map pointing past the tile data, and a file of random bytes.
q="$(disc damaged)"
truncate -s 30000 "$q/bg000_0.bg"
truncate -s 10 "$q/bg001_0.bg"
truncate -s 0 "$q/Mirabo.bpl"
truncate -s 3000 "$q/Tesuna.btx"
printf '\xff\xfe\xff\xfe\xff\xfe\xff\xfe' | dd of="$q/bg002_0.bg" bs=1 seek=$((0x220 + 0x9CC0 + 8)) conv=notrunc status=none
python3 -c "import random,sys; r=random.Random(7); sys.stdout.buffer.write(bytes(r.randrange(256) for _ in range(50000)))" >"$q/bg003_0.bg"
check damaged 161
[[ $(tail -n 1 "$work/damaged/stdout") == *"$finished"* ]]

# Stops: a source file missing, an output name that is a directory, and an
# output that cannot be written whole (a file size limit of 50 KiB, which the
# 86326 bytes of picture 20 exceed).
q="$(disc missing)"
rm "$q/bg005_0.bg"
check missing 5
disc out-directory >/dev/null
mkdir "$work/out-directory/out/tvrcg002.bmp"
check out-directory 2
disc out-limit >/dev/null
check out-limit 20 50

# A raw image (a cue sheet and its MODE1/2352 track) cut before, in and
# after its volume descriptors, in its root directory and in the files'
# data: each --check ends with its status (4: something cannot be read, 0:
# nothing the pictures need is missing) and leaks nothing.
mkdir -p "$work/raw"
build/make_demo_disc "$work/raw/disc" >/dev/null
xorriso -as mkisofs -R -J -o "$work/raw/disc.iso" "$work/raw/disc" >/dev/null 2>&1
sheet=$(python3 tools/make_cue_set.py "$work/raw/disc.iso" "$work/raw" demo --single)
size=$(stat -c %s "$work/raw/demo.bin")
cp "$work/raw/demo.bin" "$work/raw/whole.bin"
for cut in 0 $((16 * 2352)) $((16 * 2352 + 1000)) $((17 * 2352)) $((20 * 2352 + 700)) \
  $((40 * 2352)) $((size / 2)) $((size - 1000)) "$size"; do
  head -c "$cut" "$work/raw/whole.bin" >"$work/raw/demo.bin"
  status=0
  "${memcheck[@]}" -q --log-file="$work/raw/memcheck.log" build/tvrcgcv --image "$sheet" --check \
    --quiet >/dev/null 2>"$work/raw/err" || status=$?
  if [[ -s "$work/raw/memcheck.log" ]] || ! ((status == 4 || status == 0)); then
    echo "raw image cut at $cut: exit $status"
    cat "$work/raw/err" "$work/raw/memcheck.log"
    exit 1
  fi
  echo "raw image cut at $cut: exit $status, no memcheck errors or leaks"
done

# The unit tests, fault sweep included.
status=0
"${memcheck[@]}" -q --log-file="$work/unit-memcheck.log" build/tests/unit_tests \
  --gtest_brief=1 >"$work/unit.log" 2>&1 || status=$?
if ((status != 0)) || [[ -s "$work/unit-memcheck.log" ]]; then
  cat "$work/unit.log" "$work/unit-memcheck.log"
  exit 1
fi
echo "unit tests: $(grep -E '^\[  PASSED' "$work/unit.log"), no memcheck errors or leaks"

# The C programs of the C API tests: every handle freed, no error.
for program in c_api_test c_decode_test; do
  if ! "${memcheck[@]}" -q --log-file="$work/$program.log" "build/tests/$program" \
    >"$work/$program.out" 2>&1 || [[ -s "$work/$program.log" ]]; then
    cat "$work/$program.out" "$work/$program.log"
    exit 1
  fi
  echo "$program: $(tail -n 1 "$work/$program.out"), no memcheck errors or leaks"
done
