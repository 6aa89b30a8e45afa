#!/usr/bin/env bash
# scripts/test.sh tells which stage failed, which tests and where the log
# is. It runs here in a copy of the repository whose stages are stand-ins:
# one runs ctest over a test that fails on purpose beside one that passes,
# one prints what a test program run directly and briefly prints when a test
# fails (GoogleTest writes no list of failures then), one fails without a
# test, one passes. The package check is a stand-in that passes.
#
# Usage: test_sh_test.sh <repository>
set -euo pipefail
repo=$(cd "$1" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy="$work/repo"
mkdir -p "$copy/scripts/lib" "$copy/scripts/stages" "$work/ctest"
cp "$repo/scripts/test.sh" "$copy/scripts/"
printf '#!/usr/bin/env bash\nexit 0\n' >"$copy/scripts/lib/ensure-packages.sh"
chmod +x "$copy/scripts/lib/ensure-packages.sh"

cat >"$work/ctest/CTestTestfile.cmake" <<'CTEST'
add_test(Holds.Fine "true")
add_test(Breaks.OnPurpose "sh" "-c" "echo 'expected 4, got 3'; exit 1")
CTEST
cat >"$copy/scripts/stages/10-unit-and-e2e.sh" <<STAGE
ctest --test-dir "$work/ctest" --output-on-failure
STAGE
cat >"$copy/scripts/stages/30-direct.sh" <<'STAGE'
echo '[ RUN      ] Sweep.Interrupted'
echo 'sweep_test.cpp:464: Failure'
echo '[  FAILED  ] Sweep.Interrupted (80 ms)'
echo '[  FAILED  ] Kinds/Image.Reads/2, where GetParam() = 4-byte object <02-00 00-00> (3 ms)'
echo '[==========] 174 tests from 37 test suites ran. (6322 ms total)'
echo '[  PASSED  ] 172 tests.'
exit 1
STAGE
cat >"$copy/scripts/stages/40-check.sh" <<'STAGE'
echo "the package holds 3 files, expected 4" >&2
exit 3
STAGE
cat >"$copy/scripts/stages/50-passes.sh" <<'STAGE'
echo "all fine"
STAGE

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
# expect_line <output> <description> <extended regular expression>
expect_line() {
  grep -Eq -- "$3" "$1" || fail "$2: no line matches $3"
}

logs="$work/logs"
status=0
(cd "$copy" && TVRCGCV_STAGES='' TVRCGCV_LOG_DIR="$logs" scripts/test.sh) >"$work/out" 2>&1 ||
  status=$?
[[ $status == 1 ]] || fail "every stage: exit status $status, expected 1"
expect_line "$work/out" "the ctest stage's line" \
  "^=== 10-unit-and-e2e: FAILED after [0-9]+ s; failing tests: Breaks\.OnPurpose; log: $logs/10-unit-and-e2e\.log ===\$"
expect_line "$work/out" "the direct stage's line" \
  "^=== 30-direct: FAILED after [0-9]+ s; failing tests: Sweep\.Interrupted, Kinds/Image\.Reads/2; log: $logs/30-direct\.log ===\$"
expect_line "$work/out" "the stage without tests" \
  "^=== 40-check: FAILED after [0-9]+ s; exit status 3, no test named as failing .*; log: $logs/40-check\.log ===\$"
expect_line "$work/out" "the passing stage" "^=== 50-passes: passed in [0-9]+ s ===\$"
expect_line "$work/out" "the summary row of a failed stage" \
  '^10-unit-and-e2e +FAILED +[0-9]+ s +Breaks\.OnPurpose$'
expect_line "$work/out" "the summary row of a passed stage" '^50-passes +passed +[0-9]+ s$'
expect_line "$work/out" "the tally" '^1 passed, 3 failed, 0 skipped$'
grep -q "expected 4, got 3" "$logs/10-unit-and-e2e.log" || fail "the ctest stage's log lacks its output"
grep -q "the package holds 3 files" "$logs/40-check.log" || fail "the log lacks standard error"

# Only the stages asked for run; the others are skipped.
status=0
(cd "$copy" && TVRCGCV_STAGES="50-passes" TVRCGCV_LOG_DIR="$logs" scripts/test.sh) \
  >"$work/out" 2>&1 || status=$?
[[ $status == 0 ]] || fail "one passing stage: exit status $status, expected 0"
expect_line "$work/out" "a stage not asked for" '^30-direct +skipped +-$'
expect_line "$work/out" "one passing stage" '^All test stages passed\.$'
status=0
(cd "$copy" && TVRCGCV_STAGES="60-none" TVRCGCV_LOG_DIR="$logs" scripts/test.sh) \
  >"$work/out" 2>&1 || status=$?
[[ $status == 2 ]] || fail "a stage that does not exist: exit status $status, expected 2"

if ((failures)); then
  echo "--- the output of the last run:"
  cat "$work/out"
  exit 1
fi
echo "scripts/test.sh names each failing stage, its tests and its log"
