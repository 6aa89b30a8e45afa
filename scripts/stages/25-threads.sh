#!/usr/bin/env bash
# Decodes on several threads at once under ThreadSanitizer: classic calls
# (through the platform's shared block and file tables, the fault seam's
# counters and SourceRoot) beside typed calls with sources of their own;
# then the C API's 8 threads, with sources of their own and with one shared
# source of each kind. Any race report fails the stage.
set -euo pipefail
cd "$(dirname "$0")/../.."

CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTVRCGCV_SANITIZE=thread \
  -DTVRCGCV_BUILD_TOOLS=OFF -DTVRCGCV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target unit_tests c_decode_test

reports="$(mktemp -d)"
trap 'rm -rf "$reports"' EXIT
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan"
status=0
build-tsan/tests/unit_tests --gtest_filter='TypedApi.*:GlobalMemory.*:TempBufferTest.*' \
  --gtest_brief=1 || status=$?
build-tsan/tests/c_decode_test || status=$?
if compgen -G "$reports/*" >/dev/null; then
  cat "$reports"/*
  status=1
fi
exit "$status"
