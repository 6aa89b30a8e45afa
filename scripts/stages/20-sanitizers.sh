#!/usr/bin/env bash
# The whole test suite built with clang under AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer. Every report ends the process
# that made it and is also written to a log; any log at all fails the stage,
# so a report in a child process cannot pass unseen.
set -euo pipefail
cd "$(dirname "$0")/../.."

CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTVRCGCV_SANITIZE=address,undefined
cmake --build build-asan -j"$(nproc)"

reports="$(mktemp -d)"
trap 'rm -rf "$reports"' EXIT
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"

# Left out here: the run of the whole suite again with interruptions
# ignored (10-unit-and-e2e.sh runs it). It finds nothing under the
# sanitizers that the first run does not, and alone takes about as long as
# all the other tests here.
status=0
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" \
  -E 'Suite.PassesWithInterruptionsIgnored' || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "Sanitizer reports:"
  for report in "$reports"/*; do
    echo "--- $report"
    cat "$report"
  done
  status=1
fi
exit "$status"
