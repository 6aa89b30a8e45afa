#!/usr/bin/env bash
# The install step of the README's commands: scripts/demo.sh and
# scripts/test.sh check the Debian packages they need with
# scripts/lib/ensure-packages.sh. Here dpkg-query, id, apt-get and cmake are
# stand-ins on PATH: dpkg-query reports the packages of $FAKE_MISSING as not
# installed, id -u answers $FAKE_UID, apt-get logs its arguments and cmake
# its name (and then fails, so a script that goes on to build stops at once
# and nothing is built; scripts/test.sh then reports a failed stage, with its
# log in a scratch folder).
#
# Usage: ensure_packages_test.sh <repository>
set -euo pipefail
repo=$(cd "$1" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
package=${!#}
for missing in $FAKE_MISSING; do
  if [[ $package == "$missing" ]]; then
    echo "dpkg-query: no packages found matching $package" >&2
    exit 1
  fi
done
printf 'install ok installed'
FAKE
cat >"$work/bin/id" <<'FAKE'
#!/usr/bin/env bash
[[ $* == -u ]] && echo "$FAKE_UID"
FAKE
cat >"$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
exit "${FAKE_APT_STATUS:-0}"
FAKE
cat >"$work/bin/cmake" <<'FAKE'
#!/usr/bin/env bash
echo cmake >>"$FAKE_LOG"
exit 97
FAKE
chmod +x "$work/bin"/*

failures=0
# run_case <name> <uid> <missing packages> <apt-get status> <expected exit
# status> <expected output line, or -> <expected log lines, | between them, or
# -> <command>...
run_case() {
  local name=$1 uid=$2 missing=$3 apt_status=$4 expected_status=$5 expected_line=$6
  local expected_log=$7
  shift 7
  : >"$work/log"
  local status=0
  (cd "$repo" && PATH="$work/bin:$PATH" FAKE_UID="$uid" FAKE_MISSING="$missing" \
    FAKE_APT_STATUS="$apt_status" FAKE_LOG="$work/log" TVRCGCV_STAGES='' \
    TVRCGCV_LOG_DIR="$work/logs" "$@") \
    >"$work/out" 2>&1 </dev/null || status=$?
  local problems=()
  [[ $status == "$expected_status" ]] || problems+=("exit status $status, expected $expected_status")
  if [[ $expected_line != - ]] && ! grep -qxF -- "$expected_line" "$work/out"; then
    problems+=("no output line '$expected_line'")
  fi
  local expected_log_text=""
  [[ $expected_log != - ]] && expected_log_text=$(tr '|' '\n' <<<"$expected_log")
  [[ $(cat "$work/log") == "$expected_log_text" ]] ||
    problems+=("commands run: '$(paste -sd '|' "$work/log")', expected '$expected_log'")
  if ((${#problems[@]})); then
    echo "FAILED $name:"
    printf '  %s\n' "${problems[@]}"
    sed 's/^/  | /' "$work/out"
    failures=$((failures + 1))
  else
    echo "passed $name"
  fi
}

ensure=(scripts/lib/ensure-packages.sh .ci/packages-build)
install_line="  sudo apt-get install --no-install-recommends"
run_case "nothing missing: nothing to do" 1000 "" 0 0 - - "${ensure[@]}"
run_case "one missing, not root: the apt-get line, no install" 1000 xorriso 0 1 \
  "$install_line xorriso" - "${ensure[@]}"
run_case "two missing, not root: one line names both" 1000 "cmake libspng-dev" 0 1 \
  "$install_line cmake libspng-dev" - "${ensure[@]}"
run_case "one missing, root: installs that one" 0 xorriso 0 0 - \
  "apt-get update -qq|apt-get install -y -qq --no-install-recommends xorriso" "${ensure[@]}"
run_case "root, apt-get fails: so does the check" 0 xorriso 100 100 - \
  "apt-get update -qq" "${ensure[@]}"
run_case "a list that cannot be read" 1000 "" 0 2 - - \
  scripts/lib/ensure-packages.sh .ci/no-such-list

# The README's commands stop before building when a package they need is
# missing, and do not ask for packages that only other commands need.
run_case "demo.sh, build package missing: stops with the apt-get line" 1000 xorriso 0 1 \
  "$install_line xorriso" - scripts/demo.sh
run_case "demo.sh, only a test package missing: builds" 1000 "libgtest-dev valgrind" 0 97 - \
  cmake scripts/demo.sh
run_case "test.sh --quick, test package missing: stops" 1000 libgtest-dev 0 1 \
  "$install_line libgtest-dev" - scripts/test.sh --quick
run_case "test.sh --quick, only a later stage's package missing: runs" 1000 valgrind 0 1 - \
  cmake scripts/test.sh --quick
run_case "test.sh, a later stage's package missing: stops" 1000 "valgrind qemu-user" 0 1 \
  "$install_line qemu-user valgrind" - scripts/test.sh

if ((failures)); then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
