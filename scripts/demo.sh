#!/usr/bin/env bash
# Builds tvrcgcv, writes the bundled demo disc and converts it: the 161
# pictures land in demo/out as tvrcg000.bmp ... tvrcg160.bmp, and the
# console transcript is shown as the program wrote it.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc >/dev/null

rm -rf demo
mkdir -p demo/drives demo/out
build/make_demo_disc demo/drives/q

# Drive q is the directory demo/drives/q.
cd demo/out
TVRCGCV_DRIVE_ROOT="$PWD/../drives" ../../build/tvrcgcv q
echo
echo "$(ls | wc -l) files written to $(pwd)"
