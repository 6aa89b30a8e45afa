#!/usr/bin/env bash
# The README's first command on a clean clone of the repository, as a new
# user runs it: scripts/demo.sh checks the build's packages, builds, writes
# the demo disc and converts it. The run must end in "終了。" (finished) with
# 161 files in demo/out. Then the README's quick start, its commands taken
# from the README as written: each must succeed, and the 161 PNG files must
# be there. The clone holds what git holds: commit first when running this
# by hand.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q "$root" "$work/clone"
if ! (cd "$work/clone" && scripts/demo.sh) >"$work/demo.out" 2>&1; then
  cat "$work/demo.out" >&2
  echo "scripts/demo.sh failed in a clean clone" >&2
  exit 1
fi

finished=$'\x8f\x49\x97\xb9\x81\x42\r'  # the last line of the program's run
count=$(find "$work/clone/demo/out" -name 'tvrcg*.bmp' | wc -l)
# The program's transcript, then an empty line, the count of files and
# where the disc's image is.
mapfile -t last < <(tail -n 4 "$work/demo.out")
if [[ ${last[0]:-} != "$finished" || $count != 161 ]] ||
  [[ ${last[2]:-} != "161 files written to "* ]] ||
  [[ ! -s $work/clone/demo/disc.iso ]]; then
  tail -n 5 "$work/demo.out" >&2
  echo "scripts/demo.sh in a clean clone: $count files, not a finished run of 161" >&2
  exit 1
fi
echo "scripts/demo.sh in a clean clone: ${last[2]//"$work/clone/"/}, the run ends in the finishing line, demo/disc.iso made"

# The quick start: the first sh block under "## Quick start", as written.
quick=$(awk '/^## Quick start/ {on = 1; next} on && /^```sh/ {block = 1; next}
  block && /^```/ {exit} block {print}' "$work/clone/README.md")
if [[ -z $quick ]]; then
  echo "README.md has no sh block under its quick start" >&2
  exit 1
fi
if ! (cd "$work/clone" && bash -euo pipefail -c "$quick") >"$work/quick.out" 2>&1; then
  cat "$work/quick.out" >&2
  echo "the README's quick start failed as written:" >&2
  echo "$quick" >&2
  exit 1
fi
pngs=$(find "$work/clone/pictures" -name 'tvrcg*.png' | wc -l)
if [[ $pngs != 161 ]]; then
  echo "the README's quick start wrote $pngs PNG files into pictures/, not 161" >&2
  exit 1
fi
echo "the README's quick start as written: $(grep -c . <<<"$quick") commands, 161 PNG files"
