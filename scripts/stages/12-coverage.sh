#!/usr/bin/env bash
# Line and branch coverage of the libraries and the program by the unit and
# end-to-end tests: a gcc --coverage build (-O0), every test, then Debian's
# gcovr with the branches of exception handling and the ones gcc knows
# cannot be taken left out. Prints lines and branches per library and fails
# when the whole, or the disc library, is below its floor (set just under
# what the tests reach: a drop means code that no test runs).
#
# Tests that behave differently under coverage:
# - a run under a file-size limit (RLIMIT_FSIZE) cannot write its .gcda
#   files either: those would be cut short, and the counts of every later
#   run of the program merged into broken files. Such tests run on their
#   own, their counts written under a folder that is thrown away (their
#   coverage is not counted; what they run, other tests run too).
# - forked test children that end with _exit write their counts first
#   (testing_support::EndChild), else their coverage would be lost.
set -euo pipefail
cd "$(dirname "$0")/../.."

# Floors in percent: lines and branches, overall and of src/disc.
floor_lines=${TVRCGCV_COVERAGE_FLOOR_LINES:-96.1}
floor_branches=${TVRCGCV_COVERAGE_FLOOR_BRANCHES:-87.0}
floor_disc_lines=${TVRCGCV_COVERAGE_FLOOR_DISC_LINES:-96.4}
floor_disc_branches=${TVRCGCV_COVERAGE_FLOOR_DISC_BRANCHES:-86.7}
# The tests whose counts cannot be written (see above), a ctest regex.
apart='AFileSizeLimit'
# Left out, and said: the run of the whole unit and end-to-end suites again
# with interruptions ignored. It covers nothing the first run does not, and
# at -O0 it alone would take as long as all the other tests.
again='Suite.PassesWithInterruptionsIgnored'

build="build-coverage"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DTVRCGCV_COVERAGE=ON -DTVRCGCV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
find "$build" -name '*.gcda' -delete

discarded="$(mktemp -d)"
trap 'rm -rf "$discarded"' EXIT
status=0
echo "Left out here (the stages without coverage run it): $again"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -E "$apart|$again" || status=$?
echo "Run with their coverage counts thrown away (a file-size limit stops .gcda writes too):"
GCOV_PREFIX="$discarded" ctest --test-dir "$build" --output-on-failure -R "$apart" || status=$?
if ((status != 0)); then
  echo "Tests failed in the coverage build."
  exit "$status"
fi

# The counters are updated without atomics (cmake/Coverage.cmake): where
# threads of one test race through the same code, gcov can derive a negative
# count for a branch taken; gcovr leaves such lines out (and says so)
# rather than stop.
gcovr --root . --object-directory "$build" --filter 'src/' -j "$(nproc)" \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --json-summary "$build/coverage.json" >/dev/null 2>"$build/gcovr.log" ||
  { cat "$build/gcovr.log" && exit 1; }
left_out=$(grep -c '^(WARNING) Unrecognized GCOV output' "$build/gcovr.log" || true)
echo "Lines of gcov left out (negative counts where threads raced): $left_out"

python3 - "$build/coverage.json" "$floor_lines" "$floor_branches" "$floor_disc_lines" \
  "$floor_disc_branches" <<'EOF'
import json
import sys

summary = json.load(open(sys.argv[1]))
floors = [float(value) for value in sys.argv[2:6]]
totals = {}
for entry in summary["files"]:
    parts = entry["filename"].split("/")
    library = "/".join(parts[:2]) if len(parts) > 2 else parts[0]
    for name in (library, "all"):
        total = totals.setdefault(name, [0, 0, 0, 0])
        total[0] += entry["line_covered"]
        total[1] += entry["line_total"]
        total[2] += entry["branch_covered"]
        total[3] += entry["branch_total"]


def percent(covered, total):
    return 100.0 * covered / total if total else 100.0


print(f"{'library':16} {'lines':>20} {'branches':>20}")
for name in sorted(totals, key=lambda n: (n == "all", n)):
    lc, lt, bc, bt = totals[name]
    print(f"{name:16} {percent(lc, lt):6.1f}% {lc:5}/{lt:<6} {percent(bc, bt):6.1f}% {bc:5}/{bt:<6}")
failed = []
for name, line_floor, branch_floor in (("all", floors[0], floors[1]),
                                       ("src/disc", floors[2], floors[3])):
    lc, lt, bc, bt = totals.get(name, [0, 0, 0, 0])
    if percent(lc, lt) < line_floor:
        failed.append(f"{name}: lines {percent(lc, lt):.1f}% < {line_floor}%")
    if percent(bc, bt) < branch_floor:
        failed.append(f"{name}: branches {percent(bc, bt):.1f}% < {branch_floor}%")
for failure in failed:
    print(f"Coverage below its floor: {failure}")
sys.exit(1 if failed else 0)
EOF
