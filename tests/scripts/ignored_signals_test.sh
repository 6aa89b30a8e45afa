#!/usr/bin/env bash
# The test programs pass however they are started: here under nohup with
# SIGINT and SIGTERM ignored as well, as a background job of a script, a
# service manager or a CI runner may start them. An ignored signal stays
# ignored in every program they start, unless that program resets it.
#
# Usage: ignored_signals_test.sh <test program>...
set -euo pipefail
trap '' INT TERM HUP

# The three are ignored in what is started from here: bits 0, 1 and 14 of the
# mask of ignored signals (SIGHUP 1, SIGINT 2, SIGTERM 15).
ignored=$(nohup sed -n 's/^SigIgn:[[:space:]]*//p' /proc/self/status 2>/dev/null)
if (((16#$ignored & 0x4003) != 0x4003)); then
  echo "the signals are not ignored in the programs started (SigIgn: $ignored)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for program in "$@"; do
  if ! nohup "$program" --gtest_brief=1 >"$work/log" 2>&1 </dev/null; then
    cat "$work/log"
    echo "$(basename "$program") fails when started under nohup with SIGINT and SIGTERM" \
      "ignored" >&2
    status=1
  else
    echo "$(basename "$program"): $(grep -E '^\[  PASSED  \]' "$work/log")"
  fi
done
exit "$status"
