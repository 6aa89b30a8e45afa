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

lists=(.ci/packages-build .ci/packages-quick)
$quick || lists+=(.ci/packages)
scripts/lib/ensure-packages.sh "${lists[@]}"

stages=()
if $quick; then
  stages=(scripts/stages/10-unit-and-e2e.sh)
  export TVRCGCV_QUICK=1
elif [[ -n "${TVRCGCV_STAGES:-}" ]]; then
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
