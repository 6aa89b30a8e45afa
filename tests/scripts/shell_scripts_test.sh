#!/usr/bin/env bash
# The shell scripts of the repository (scripts/, tests/, tools/) pass
# Debian's shellcheck with no finding at all (the few kept are disabled in
# place, each with its reason), and none pipes into a reader that may stop
# before the writer has finished (head, grep -q, grep -m, grep -l): under
# `set -o pipefail` the writer's broken pipe would fail the pipeline, at
# random. Such readers take a variable or a process substitution instead.
#
# Usage: shell_scripts_test.sh <repository>
set -euo pipefail
repo=$(cd "$1" && pwd)
cd "$repo"

command -v shellcheck >/dev/null ||
  { echo "shellcheck is missing (apt-get install shellcheck; .ci/packages-quick)" >&2 && exit 1; }
mapfile -t scripts < <(find scripts tests tools -name '*.sh' -type f | sort)
((${#scripts[@]} > 20)) || { echo "only ${#scripts[@]} scripts found" >&2 && exit 1; }

status=0
shellcheck -x -f gcc "${scripts[@]}" || status=1

early='\|[[:space:]]*(head|grep[[:space:]]+(-[[:alnum:]]+[[:space:]]+)*-[[:alnum:]]*[qml])\b'
if grep -nE "$early" "${scripts[@]}"; then
  echo "pipes into a reader that may stop early (above): read into a variable first" >&2
  status=1
fi
((status == 0)) && echo "${#scripts[@]} scripts: no shellcheck finding, no pipe that can close early"
exit "$status"
