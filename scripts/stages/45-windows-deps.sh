#!/usr/bin/env bash
# The C libraries of the Windows program (libspng with zlib): cross-builds
# them statically for both mingw-w64 targets from Debian's sources with
# scripts/windows-deps.sh (which does nothing where they are built already),
# then builds tools/windows-deps/check for both targets against them and
# runs the x86_64 one under Wine.
# TVRCGCV_WINDOWS_DEPS_DIR (default: build-deps) holds the prefixes, one per
# target; a directory kept between runs saves the build.
set -euo pipefail
cd "$(dirname "$0")/../.."
deps=${TVRCGCV_WINDOWS_DEPS_DIR:-build-deps}
triples=(x86_64-w64-mingw32 i686-w64-mingw32)

echo "--- Libraries for ${triples[*]}"
# Debian's source index first (as root), then both targets side by side.
if [[ $(id -u) == 0 ]]; then scripts/windows-deps.sh --apt-sources; fi
pids=()
for triple in "${triples[@]}"; do
  scripts/windows-deps.sh "$triple" "$deps/$triple" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
((status == 0))

for triple in "${triples[@]}"; do
  tools/windows-deps/check/run.sh "$triple" "$deps/$triple" "$deps/check-$triple"
done
