#!/usr/bin/env bash
# The README's first command on a clean clone of the repository, as a new
# user runs it: scripts/demo.sh checks the build's packages, builds, writes
# the demo disc and converts it. The run must end in "終了。" (finished) with
# 161 files in demo/out. The clone holds what git holds: commit first when
# running this by hand.
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
# The program's transcript, then an empty line and the count of files.
if [[ $(tail -n 3 "$work/demo.out" | head -n 1) != "$finished" || $count != 161 ]] ||
  ! tail -n 1 "$work/demo.out" | grep -q "^161 files written to "; then
  tail -n 5 "$work/demo.out" >&2
  echo "scripts/demo.sh in a clean clone: $count files, not a finished run of 161" >&2
  exit 1
fi
echo "scripts/demo.sh in a clean clone: $(tail -n 1 "$work/demo.out" | sed "s|$work/clone/||")," \
  "the run ends in the finishing line"
