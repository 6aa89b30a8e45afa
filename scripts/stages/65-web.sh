#!/usr/bin/env bash
# The web page in real browsers. Builds the page with scripts/web.sh (its C
# libraries for WebAssembly from Debian's sources, once: a directory kept
# between runs saves that build) and the native program, then drives
# Debian's chromium and firefox-esr headless with puppeteer-core (pinned in
# tests/web/package-lock.json; npm ci downloads no browser) against the page
# served on 127.0.0.1: tests/web/web_test.mjs checks that the page makes
# the native program's files and lines from the demo disc given as a
# folder, an image, cue sheets, a CHD file, a zip and a 7z archive, and
# from damaged discs, with no console
# error and no failed request; that the page installs as an app and works
# offline after one visit; that another disc replaces one converting at
# once. Then one short run of tests/web/bench.mjs prints the page's figures
# (not a timed test; bench/README.md says how to measure). The screenshots and figures stay
# in build-web/test-output.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

# npm comes with NodeSource's nodejs; Debian's nodejs has it as a package
# of its own, which conflicts with NodeSource's.
if ! command -v npm >/dev/null; then
  if [[ $(id -u) == 0 ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm
  else
    echo "npm is missing: sudo apt-get install --no-install-recommends npm" >&2
    exit 1
  fi
fi

echo "--- The page"
start=$(date +%s)
page=$(scripts/web.sh --build)
echo "built in $(($(date +%s) - start)) s: $(find "$page" -type f -printf '%f\n' | sort | tr '\n' ' ')"

echo "--- The native program"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DTVRCGCV_BUILD_BENCHMARKS=ON \
  >/dev/null
cmake --build build -j"$(nproc)" --target tvrcgcv make_demo_disc decode_all_bench >/dev/null

echo "--- puppeteer-core"
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)

output=build-web/test-output
echo "--- Chromium and Firefox"
node tests/web/web_test.mjs --page "$page" --build build --out "$output"
echo "--- Figures (one run each; the page compared with itself, as a change is)"
node tests/web/bench.mjs --page "$page" --build build --out "$output/bench" --runs 1 \
  --compare "$page"
