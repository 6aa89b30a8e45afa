#!/usr/bin/env bash
# The writers of whole-disc dumps in tools/make_dump.py are checked by
# Debian's readers of those formats, programs written apart from ours:
# each gives back the .iso the dump was made from. ccd2iso reads the
# CloneCD image, mdf2iso and iat the Alcohol one, iat the Nero ones and
# nrg2iso the Nero ones of 2048-byte sectors (it copies from the end of the
# pregap to the end of the file, so its output is the .iso followed by the
# chunks). A reader that is not installed is skipped with a line saying so.
#
# Usage: dump_writers_test.sh <source folder>
set -euo pipefail
root="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

if ! command -v xorriso >/dev/null; then
  echo "SKIPPED: xorriso is not installed (it makes the .iso)"
  exit 0
fi
mkdir tree tree/FOLDER
printf 'hello\n' >tree/HELLO.TXT
head -c 300000 /dev/urandom >tree/FOLDER/DATA.BIN
xorriso -as mkisofs -V DUMPS -o disc.iso tree >/dev/null 2>&1
python3 "$root/tools/make_cue_set.py" disc.iso . raw --single >/dev/null
dump() { python3 "$root/tools/make_dump.py" "$@" >/dev/null; }
dump clonecd raw.bin ccd/disc.ccd
dump alcohol raw.bin mds/disc.mds
dump nero disc.iso nrg/disc.nrg
dump nero-old disc.iso old/disc.nrg
dump nero raw.bin raw/disc.nrg --raw

status=0
size=$(stat -c %s disc.iso)
# check READER IMAGE: READER turns IMAGE into an .iso equal to disc.iso
# (with --prefix, its first bytes equal to it).
check() {
  local prefix=0
  [[ $1 == --prefix ]] && prefix=1 && shift
  local reader=$1 image=$2 out="$work/out.iso"
  if ! command -v "$reader" >/dev/null; then
    echo "SKIPPED: $reader is not installed (package $reader), $image is not checked by it"
    return
  fi
  rm -f "$out"
  "$reader" "$image" "$out" >/dev/null 2>&1 || true
  if [[ ! -f $out ]]; then
    echo "FAILED: $reader wrote nothing from $image"
    status=1
  elif { ((prefix)) && cmp -s -n "$size" "$out" disc.iso; } ||
    { ((!prefix)) && cmp -s "$out" disc.iso; }; then
    echo "ok: $reader gives back the .iso from $image"
  else
    echo "FAILED: $reader gives other bytes from $image than the .iso"
    status=1
  fi
}
check ccd2iso ccd/disc.img
check mdf2iso mds/disc.mdf
check iat mds/disc.mdf
check iat nrg/disc.nrg
check iat raw/disc.nrg
check --prefix nrg2iso nrg/disc.nrg
check --prefix nrg2iso old/disc.nrg
exit "$status"
