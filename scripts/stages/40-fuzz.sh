#!/usr/bin/env bash
# Runs each libFuzzer harness of fuzz/ for a bounded time (TVRCGCV_FUZZ_SECONDS,
# 60 by default: three quarters of it for the decoders and the ISO 9660
# reader, half of it for the cue sheet, command line and dump descriptor
# readers) from the committed seeds. A crash, a sanitizer report, a failed
# check, a timeout or running out of memory fails the stage and shows
# the input that did it.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${TVRCGCV_FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTVRCGCV_BUILD_FUZZERS=ON \
  -DTVRCGCV_BUILD_TESTS=OFF -DTVRCGCV_BUILD_TOOLS=OFF
# The CHD reader is there when the build reads CHD files (cmake/Chd.cmake).
chd=""
grep -q '^TVRCGCV_CHD_CODECS_FOUND:INTERNAL=1' build-fuzz/CMakeCache.txt && chd=fuzz_chd
cmake --build build-fuzz -j"$(nproc)" --target fuzz_decode fuzz_render_tiles fuzz_palette fuzz_cue_sheet fuzz_command_line fuzz_iso9660 \
  fuzz_clonecd fuzz_alcohol fuzz_nero $chd fuzz_archive

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# One harness for its time; its summary (or, on a failure, its log and the
# inputs that failed) goes to $work/<harness>/report.
fuzz_one() {
  local harness=$1 time max_len artifact
  mkdir -p "$work/$harness/corpus" "$work/$harness/artifacts"
  # The readers of text (a cue sheet, a command line) are small and quick:
  # half the time covers them; the others share the rest.
  time=$((seconds * 3 / 4))
  [[ $harness == fuzz_cue_sheet || $harness == fuzz_command_line ]] && time=$((seconds / 2))
  # The dump descriptors are small too.
  [[ $harness == fuzz_clonecd || $harness == fuzz_alcohol || $harness == fuzz_nero ]] &&
    time=$((seconds / 2))
  # An image needs room for its sectors: the ISO 9660 reader takes up to 16 KiB.
  max_len=8192
  [[ $harness == fuzz_iso9660 ]] && max_len=16384
  # A CHD's seeds are whole small discs of a few kilobytes.
  [[ $harness == fuzz_chd ]] && max_len=16384
  # An archive's seeds hold a small image each, compressed.
  [[ $harness == fuzz_archive ]] && max_len=16384
  {
    echo "--- $harness for ${time} s"
    # -close_fd_mask=2: the harness's own standard error (the composite
    # decoder's error box) is muted; libFuzzer and sanitizer reports still show.
    if ! build-fuzz/"$harness" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 \
      -max_len="$max_len" -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="$work/$harness/artifacts/" \
      "$work/$harness/corpus" "fuzz/corpus/$harness" >"$work/$harness/log" 2>&1; then
      cat "$work/$harness/log"
      for artifact in "$work/$harness/artifacts"/*; do
        echo "Input that failed ($artifact), reproduce with build-fuzz/$harness <file>:"
        head -64 < <(od -A x -t x1z -v "$artifact")
      done
      return 1
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$work/$harness/log"
  } >"$work/$harness/report" 2>&1
}

# The harnesses run in as many lanes as there are processors, each for its
# own time: the stage takes a fraction of their sum, and every harness still
# gets the same time on a processor of its own.
harnesses=(fuzz_decode fuzz_render_tiles fuzz_palette fuzz_cue_sheet fuzz_command_line fuzz_iso9660
  fuzz_clonecd fuzz_alcohol fuzz_nero)
[[ -n $chd ]] && harnesses+=("$chd")
harnesses+=(fuzz_archive)
lanes=$(nproc)
((lanes >= 1)) || lanes=1
pids=()
for ((lane = 0; lane < lanes; lane++)); do
  (
    status=0
    for ((i = lane; i < ${#harnesses[@]}; i += lanes)); do
      fuzz_one "${harnesses[i]}" || status=1
    done
    exit "$status"
  ) &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
for harness in "${harnesses[@]}"; do
  cat "$work/$harness/report"
done
exit "$failed"
