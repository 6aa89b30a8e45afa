#!/usr/bin/env bash
# Builds tvrcgcv and runs every test stage in scripts/stages, in name order.
# Each stage is a script of its own; set TVRCGCV_STAGES to a space-separated
# list of stage names (e.g. "10-unit-and-e2e") to run only those.
#
#   scripts/test.sh           every stage (what CI runs)
#   scripts/test.sh --quick   the build with the unit and end-to-end tests only
#
# First the Debian packages that the run needs are checked, and installed
# when run as root (see scripts/lib/ensure-packages.sh).
#
# What each stage prints is shown and kept in build-logs/<stage>.log (or in
# $TVRCGCV_LOG_DIR). A stage that fails does not stop the run: it ends with
# one line that names it, its failing tests and its log, and the run ends
# with a table of every stage (passed, failed or skipped, and its time) and
# exit status 1.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case "${1:-}" in
  --quick) quick=true ;;
  "") ;;
  *)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2
    ;;
esac

all=()
for stage in scripts/stages/*.sh; do all+=("$(basename "$stage" .sh)"); done
selected=()
if $quick; then
  selected=(10-unit-and-e2e)
  export TVRCGCV_QUICK=1
elif [[ -n "${TVRCGCV_STAGES:-}" ]]; then
  for name in ${TVRCGCV_STAGES}; do
    if [[ ! -f scripts/stages/$name.sh ]]; then
      echo "scripts/test.sh: no stage $name (the stages: ${all[*]})" >&2
      exit 2
    fi
    selected+=("$name")
  done
else
  selected=("${all[@]}")
fi

lists=(.ci/packages-build .ci/packages-quick)
$quick || lists+=(.ci/packages)
scripts/lib/ensure-packages.sh "${lists[@]}"

logs=${TVRCGCV_LOG_DIR:-build-logs}
mkdir -p "$logs"
logs=$(cd "$logs" && pwd)

# failing_tests <log>: the names of the tests that failed, once each, from
# ctest's list of failed tests and from GoogleTest's own FAILED lines (a
# stage may run a test program directly, briefly, without that list).
failing_tests() {
  awk '
    /^The following tests FAILED:/ { listed = 1; next }
    listed && /^[ \t]+[0-9]+ - / {
      name = $0
      sub(/^[ \t]+[0-9]+ - /, "", name)
      sub(/ \([^()]*\)$/, "", name)
      sub(/ +# GetParam.*/, "", name)
      print name
      next
    }
    { listed = 0 }
    /^\[  FAILED  \] [^0-9]/ {
      name = substr($0, 14)
      sub(/ \([0-9]+ ms\)$/, "", name)
      sub(/, where .*/, "", name)
      print name
    }' "$1" | awk '!seen[$0]++' | paste -sd ',' | sed 's/,/, /g'
}

declare -A result seconds tests
for name in "${selected[@]}"; do
  log="$logs/$name.log"
  echo "=== $name ==="
  start=$SECONDS
  status=0
  bash "scripts/stages/$name.sh" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
  seconds[$name]=$((SECONDS - start))
  if ((status == 0)); then
    result[$name]=passed
    echo "=== $name: passed in ${seconds[$name]} s ==="
    continue
  fi
  result[$name]=FAILED
  tests[$name]=$(failing_tests "$log")
  if [[ -n ${tests[$name]} ]]; then
    what="failing tests: ${tests[$name]}"
  else
    what="exit status $status, no test named as failing (a build step or a check of the stage failed)"
  fi
  echo "=== $name: FAILED after ${seconds[$name]} s; $what; log: $log ==="
done

echo
echo "=== Summary (logs in $logs)"
printf '%-24s %-8s %7s  %s\n' stage result time "failing tests"
passed=0 failed=0 skipped=0
for name in "${all[@]}"; do
  case "${result[$name]:-skipped}" in
    passed) passed=$((passed + 1)) ;;
    FAILED) failed=$((failed + 1)) ;;
    skipped) skipped=$((skipped + 1)) ;;
  esac
  time=-
  [[ -n ${seconds[$name]:-} ]] && time="${seconds[$name]} s"
  printf '%-24s %-8s %7s  %s\n' "$name" "${result[$name]:-skipped}" "$time" "${tests[$name]:-}" |
    sed 's/ *$//'
done
echo "$passed passed, $failed failed, $skipped skipped"
if ((failed > 0)); then
  echo "Test stages failed: see the lines above that name them, and their logs." >&2
  exit 1
fi
echo "All test stages passed."
