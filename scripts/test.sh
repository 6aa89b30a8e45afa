#!/usr/bin/env bash
# Builds tvrcgcv and runs every test stage in scripts/stages, in name order.
# Each stage is a script of its own; set TVRCGCV_STAGES to a space-separated
# list of stage names (e.g. "10-unit-and-e2e") to run only those.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
if [[ -n "${TVRCGCV_STAGES:-}" ]]; then
  for name in ${TVRCGCV_STAGES}; do stages+=("scripts/stages/${name}.sh"); done
else
  for stage in scripts/stages/*.sh; do stages+=("$stage"); done
fi

for stage in "${stages[@]}"; do
  echo "=== $(basename "$stage" .sh) ==="
  start=$(date +%s)
  bash "$stage"
  echo "=== $(basename "$stage" .sh): passed in $(( $(date +%s) - start )) s ==="
done
echo "All test stages passed."
