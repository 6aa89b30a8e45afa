#!/usr/bin/env bash
# ensure-packages.sh <list>...: makes sure that the Debian packages named in
# the list files (one a line; # starts a comment) are installed. Run as
# root, it installs the missing ones with apt-get; otherwise it prints the
# one apt-get command that installs them and fails, so that nothing is
# built half-equipped. On a system without dpkg it only names the packages
# and goes on.
set -euo pipefail

if (($# == 0)); then
  echo "usage: $0 <package list>..." >&2
  exit 2
fi

packages=()
for list in "$@"; do
  if [[ ! -r $list ]]; then
    echo "$0: cannot read the package list $list" >&2
    exit 2
  fi
  while read -r line; do
    line=${line%%#*}
    for package in $line; do packages+=("$package"); done
  done <"$list"
done

if ! command -v dpkg-query >/dev/null; then
  echo "Not a Debian system (no dpkg-query): make sure these are installed, or their" \
    "equivalents: ${packages[*]}" >&2
  exit 0
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

if [[ $(id -u) == 0 ]]; then
  echo "Installing the missing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "These Debian packages are missing: ${missing[*]}" >&2
  echo "Install them (as root) and run this again:" >&2
  echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
