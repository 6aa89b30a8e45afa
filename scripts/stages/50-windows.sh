#!/usr/bin/env bash
# The native Windows program. Cross-builds tvrcgcv.exe and the unit tests
# with mingw-w64, runs the unit tests under Wine, and checks that on the same
# demo disc the Windows program writes exactly what the Linux build writes:
# the console bytes, all 161 BMP files, the usage transcript, a run on a drive
# that holds no disc, and the exit statuses. Wine runs in a throw-away prefix
# whose drive q is the demo disc, without a display.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
# shellcheck source=scripts/lib/wine-prefix.sh
source "$root/scripts/lib/wine-prefix.sh"
cd "$root"

echo "--- Windows build (mingw-w64)"
windows_build build-windows x86_64-w64-mingw32
exe="$root/build-windows/tvrcgcv.exe"
unit_tests="$root/build-windows/tests/unit_tests.exe"
check_windows_imports "$exe"

echo "--- Wine prefix"
start_wine_prefix

build_reference_and_disc
ln -s "$work/drives/q" "$WINEPREFIX/dosdevices/q:"
reference=("$root/build/tvrcgcv")
candidate=(wine "$exe")
label=Windows
compare_conversions

# A second run over files of the same names replaces each of them whole
# (MoveFileExA over the existing file), however long or short it was.
for file in "$work"/candidate/*; do
  head -c 100 /dev/urandom >"$file"
done
compare_runs demo-disc-again q
compare_output_files
echo "demo-disc-again: every earlier file replaced by the same bytes"

# The options, with names in Japanese: the disc as an ISO image, a cue/bin
# set, a bare raw dump and a folder, PNG and BMP files in an output folder
# made on the way. Both programs write the same bytes and say the same.
echo "--- Options"
xorriso -as mkisofs -J -R -o "$work/ディスク.iso" "$work/drives/q" >/dev/null 2>&1
cp -r "$work/drives/q" "$work/ディスク"
option_runs() {
  local name=$1 disc=$2
  shift 2
  local linux_status=0 windows_status=0
  mkdir -p "$work/$name.linux" "$work/$name.windows"
  (cd "$work/$name.linux" && "$root/build/tvrcgcv" --image "$disc" "$@" >"../$name.linux.out") ||
    linux_status=$?
  (cd "$work/$name.windows" && wine "$exe" --image "$(winepath -w "$disc")" "$@" \
    >"../$name.windows.out") || windows_status=$?
  if [[ $linux_status != "$windows_status" ]] || ! cmp -s "$work/$name.linux.out" "$work/$name.windows.out" ||
    ! diff -r "$work/$name.linux" "$work/$name.windows" >/dev/null; then
    echo "$name: the programs differ (exit $linux_status and $windows_status)" >&2
    head -5 < <(diff -r "$work/$name.linux" "$work/$name.windows") >&2
    exit 1
  fi
  echo "$name: $(find "$work/$name.linux" -type f | wc -l) identical files, exit status $linux_status"
}
option_runs iso-png "$work/ディスク.iso" --out 出力/画像 --format png --quiet
option_runs folder-bmp "$work/ディスク" --out 出力 --only 0-9,152-160
option_runs missing "$work/ディスク/なし" --out 出力
option_runs check "$work/ディスク.iso" --check --quiet
# A preservation-style cue/bin set (a sheet, the data track and two audio
# tracks, each in a file of its own), named in Japanese, and a bare dump.
sheet=$(python3 "$root/tools/make_cue_set.py" "$work/ディスク.iso" "$work/セット" "ゲーム (Japan)")
option_runs cue-set "$sheet" --out 出力 --quiet
option_runs cue-check "$sheet" --check --quiet
option_runs bare-bin "$work/セット/ゲーム (Japan) (Track 1).bin" --out 出力 --format png --quiet
# The same set as a CHD file, and a set of ASCII names in a zip archive,
# where this Windows build reads them (its C libraries' prefix has
# liblzma, libFLAC and libarchive): both programs convert them whole.
# (Members named outside ASCII are not compared: in a zip that does not
# flag them UTF-8, as Info-ZIP's zip leaves them, the Windows build takes
# them in the OEM code page, as the zip format has it.)
converted_whole() {
  [[ $(find "$work/$1.linux" -type f | wc -l) == 161 ]] ||
    { echo "$1: the Linux program did not convert the disc whole" >&2 && exit 1; }
}
if grep -q "CHD: yes" <(wine "$exe" --version 2>/dev/null); then
  chdman createcd -f -i "$sheet" -o "$work/ディスク.chd" >/dev/null 2>&1
  option_runs chd "$work/ディスク.chd" --out 出力 --quiet
  converted_whole chd
  option_runs chd-check "$work/ディスク.chd" --check --quiet
fi
if grep -q "zip/7z: yes" <(wine "$exe" --version 2>/dev/null); then
  python3 "$root/tools/make_cue_set.py" "$work/ディスク.iso" "$work/zip-set" "Game (Japan)" >/dev/null
  (cd "$work/zip-set" && zip -q -r "$work/ディスク.zip" .)
  option_runs zip "$work/ディスク.zip" --out 出力 --format png --quiet
  converted_whole zip
  option_runs zip-check "$work/ディスク.zip" --check --quiet
fi

# Ctrl-C while a picture is written: its temporary file is removed and the
# earlier files stay whole.
(cd "$work/candidate" && python3 "$root/scripts/stages/wine_interrupt.py" "$exe" q 20)
compare_output_files

compare_closed_output

# A console window shows the Shift-JIS texts as the characters they stand
# for (Wine's console on a UTF-8 terminal passes them on as UTF-8).
echo "--- Console window"
LC_ALL=C.UTF-8 script -qec "wine '$exe'" /dev/null </dev/null >"$work/console.out"
if ! grep -q 'Tavorin CGコンバーター ver 1.0' "$work/console.out"; then
  echo "the console window does not show the banner's Japanese text:" >&2
  head -20 < <(od -c "$work/console.out") >&2
  exit 1
fi
echo "banner shown converted from code page 932"

# The unit tests, on a pseudo-terminal so that they have a console to test
# the console window with; their output goes to a file.
echo "--- Unit tests under Wine"
status=0
LC_ALL=C.UTF-8 script -qec "wine '$unit_tests' >'$work/unit.log' 2>&1" /dev/null </dev/null \
  >/dev/null || status=$?
cat "$work/unit.log"
exit "$status"
