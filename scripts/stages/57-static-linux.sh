#!/usr/bin/env bash
# The statically linked x86-64 program of the release
# (tvrcgcv-<version>-linux-x86_64): no shared library and no dynamic
# loader; every end-to-end test of the native build run against it; the
# same bytes as the native build (console output and the 161 files as BMP
# and PNG, from the demo disc as a folder, an .iso and a cue/bin set); and
# nothing of the system's C library read at run time: on a UTF-8 terminal,
# through every kind of disc and with PNG output, strace sees it open no
# shared library (no iconv or NSS module), no locale file and no NSS
# configuration.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
source "$root/scripts/lib/static-program.sh"
new_work

echo "--- The statically linked x86-64 program"
static_program x86_64
program=$static_dir/tvrcgcv
check_no_shared_libraries "$program"
build_reference_and_disc
static_end_to_end "$program"
reference=("$root/build/tvrcgcv")
candidate=("$program")
label="static x86-64"
compare_static_conversions

echo "--- What the static program opens (strace, on a UTF-8 terminal)"
runs=("q" "q --format png")
reads_images "$program" && runs+=("i" "c")
: >"$work/opened"
for run in "${runs[@]}"; do
  rm -rf "${work:?}/candidate"/*
  # shellcheck disable=SC2086  # a run is a command line
  (cd "$work/candidate" && env -u LC_ALL -u LC_CTYPE LANG=ja_JP.UTF-8 \
    TVRCGCV_DRIVE_ROOT="$work/drives" script -qec \
    "strace -f -qq -e trace=open,openat,execve -o '$work/trace' '$program' $run" /dev/null \
    >"$work/terminal.out")
  grep -q $'\xe7\xb5\x82\xe4\xba\x86' "$work/terminal.out" ||
    { cat "$work/terminal.out" && echo "$run: no UTF-8 \"終了。\" on the terminal" >&2 && exit 1; }
  sed -n 's/.*open[a-z]*([^"]*"\([^"]*\)".*/\1/p' "$work/trace" >>"$work/opened"
done
if grep -E '\.so($|\.)|/locale|/nsswitch\.conf$|/etc/(passwd|group)$' "$work/opened"; then
  echo "the static program opened the files above, which belong to the system's C library" >&2
  exit 1
fi
others=$(grep '^/' "$work/opened" | grep -v "^$work/" | grep -v '^/proc/self/' | sort -u |
  paste -sd ' ' || true)
echo "${#runs[@]} runs (tvrcgcv $(printf '%s, ' "${runs[@]}" | sed 's/, $//')): no shared library," \
  "locale file or NSS file opened; other system files: ${others:-none}"
