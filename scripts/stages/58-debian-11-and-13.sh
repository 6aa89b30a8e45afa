#!/usr/bin/env bash
# The statically linked x86-64 program on an older and a newer Debian than
# the one it is built on: minimal Debian 11 (bullseye, glibc 2.31) and
# Debian 13 (trixie) systems, made with `debootstrap --variant=minbase`.
# The program is copied into each and run there (chroot, with /proc
# mounted in a mount namespace of its own), and converts the demo disc to
# the native build's console bytes and 161 files from a folder, an .iso and
# a cue/bin set (the image runs where the program reads images); on a
# terminal whose locale (not installed there) names UTF-8 it shows the
# Japanese texts as the native build does.
#
# The systems are made once and kept between runs in a cache folder
# outside the clone: $TVRCGCV_CACHE_DIR, else $XDG_CACHE_HOME/tvrcgcv, else
# /var/cache/tvrcgcv (debian-<release>/ in it; delete one to have it made
# anew). A release whose system is not there yet and whose mirror
# ($TVRCGCV_DEBIAN_MIRROR, default http://deb.debian.org/debian) cannot be
# reached is skipped with a line that says so; debootstrap and chroot need
# root, and without root the stage is skipped likewise.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
source "$root/scripts/lib/static-program.sh"
new_work
mirror=${TVRCGCV_DEBIAN_MIRROR:-http://deb.debian.org/debian}
finished=$'\x8f\x49\x97\xb9\x81\x42\r'  # the last line of a complete run

if [[ $(id -u) != 0 ]]; then
  echo "skipped: debootstrap and chroot need root; run the stage as root"
  exit 0
fi

cache=${TVRCGCV_CACHE_DIR:-${XDG_CACHE_HOME:+$XDG_CACHE_HOME/tvrcgcv}}
cache=${cache:-/var/cache/tvrcgcv}
if ! mkdir -p "$cache" 2>/dev/null || [[ ! -w $cache ]]; then
  echo "the cache folder $cache cannot be written: the systems are made in a temporary" \
    "folder and not kept"
  cache=$work/cache
  mkdir -p "$cache"
fi

# debian_root RELEASE: sets `system` to the release's minimal system in the
# cache, made there first if it is missing. Fails, with a line that says
# so, where it is missing and the mirror cannot be reached.
debian_root() {
  local release=$1 made start
  system=$cache/debian-$release
  if [[ -f $system/.tvrcgcv-system ]]; then
    echo "Debian $release: the system in $system ($(cat "$system/.tvrcgcv-system"))"
    return 0
  fi
  if ! wget -q --spider --timeout=20 --tries=2 "$mirror/dists/$release/InRelease"; then
    echo "skipped: debootstrap cannot reach $mirror for Debian $release," \
      "and $system has not been made before"
    return 1
  fi
  start=$SECONDS
  made=$(mktemp -d "$cache/.debian-$release.XXXXXX")
  if ! debootstrap --variant=minbase "$release" "$made" "$mirror" >"$work/debootstrap.log" 2>&1; then
    rm -rf "$made"
    if grep -qiE "couldn't download|failed getting release|temporary failure|could not resolve" \
      "$work/debootstrap.log"; then
      echo "skipped: debootstrap cannot download Debian $release from $mirror:" \
        "$(grep -m 1 -iE "couldn't download|failed getting|temporary failure|could not resolve" \
          "$work/debootstrap.log")"
      return 1
    fi
    tail -n 20 "$work/debootstrap.log" >&2
    echo "debootstrap of Debian $release failed (its log above)" >&2
    exit 1
  fi
  echo "made $(date -u +%Y-%m-%d) by debootstrap $(dpkg-query -W -f='${Version}' debootstrap)" \
    >"$made/.tvrcgcv-system"
  if [[ -e $system ]]; then  # another run made it meanwhile
    rm -rf "$made"
  else
    mv "$made" "$system"
  fi
  echo "Debian $release: made $system in $((SECONDS - start)) s ($(du -sh "$system" | cut -f1))"
}

# inside COMMAND: runs the shell command in the system, with /proc mounted
# there in a mount namespace of its own (so nothing stays mounted) where
# unshare can make one, a bare environment (and $locale, if set) and the
# check's folder as the current directory. inside_line COMMAND: the same as
# one line for a shell.
cat >"$work/inside.sh" <<'END'
system=$1 locale=$2 command=$3 proc=$4
run='exec chroot "$1" /usr/bin/env -i PATH=/usr/bin:/bin TVRCGCV_DRIVE_ROOT=/tvrcgcv-check/drives \
  ${2:+"$2"} sh -c "cd /tvrcgcv-check && $3"'
if [[ $proc == yes ]]; then
  exec unshare --mount --propagation private -- sh -c "mount -t proc proc \"\$1/proc\" && $run" \
    sh "$system" "$locale" "$command"
fi
exec sh -c "$run" sh "$system" "$locale" "$command"
END
proc=yes
if ! unshare --mount --propagation private true 2>/dev/null; then
  proc=no
  echo "unshare cannot make a mount namespace here: the systems run without /proc"
fi
inside() {
  bash "$work/inside.sh" "$system" "${locale:-}" "$1" "$proc"
}
inside_line() {
  printf '%q ' bash "$work/inside.sh" "$system" "${locale:-}" "$1" "$proc"
}

static_program x86_64
check_no_shared_libraries "$static_dir/tvrcgcv"
build_reference_and_disc
make_disc_images "$work"
drives=(q)
reads_images "$static_dir/tvrcgcv" && drives+=(i c)
(cd "$work/reference" && TVRCGCV_DRIVE_ROOT="$work/drives" "$root/build/tvrcgcv" q \
  >"$work/reference.out")
[[ $(tail -n 1 "$work/reference.out") == "$finished" ]] || { echo "the reference failed" >&2 && exit 1; }
# The same run on a terminal, as the native build shows it.
(cd "$work/candidate" && env -u LC_ALL -u LC_CTYPE LANG=ja_JP.UTF-8 \
  TVRCGCV_DRIVE_ROOT="$work/drives" script -qec "'$root/build/tvrcgcv' q" /dev/null |
  tr -d '\r' >"$work/reference.terminal")
rm -rf "${work:?}/candidate"/*

for release in bullseye trixie; do
  echo "--- Debian $release"
  debian_root "$release" || continue
  check=$system/tvrcgcv-check
  rm -rf "$check"
  trap 'rm -rf "$work" "$check"' EXIT
  mkdir -p "$check/drives"
  cp "$static_dir/tvrcgcv" "$check/"
  cp -r "$work/drives/q" "$check/drives/q"
  cp "$work/disc.iso" "$check/"
  cp -r "$work/set" "$check/"
  ln -s ../disc.iso "$check/drives/i"
  ln -s "../set/$(basename "$(readlink "$work/drives/c")")" "$check/drives/c"
  ldd=$(inside 'ldd --version')
  ldd=${ldd%%$'\n'*}
  echo "$(inside 'cat /etc/debian_version'), ${ldd#ldd }"
  for drive in "${drives[@]}"; do
    mkdir "$check/out"
    inside "cd out && exec ../tvrcgcv $drive" >"$work/$release-$drive.out"
    if ! cmp "$work/reference.out" "$work/$release-$drive.out"; then
      head -n 20 < <(diff <(od -c "$work/reference.out") <(od -c "$work/$release-$drive.out")) >&2
      echo "Debian $release, drive $drive: other console bytes than the native build's" >&2
      exit 1
    fi
    diff -r "$work/reference" "$check/out" >/dev/null || {
      echo "Debian $release, drive $drive: other files than the native build's" >&2 && exit 1
    }
    rm -rf "$check/out"
  done
  echo "drives ${drives[*]}: the native build's console bytes and 161 files from each"
  mkdir "$check/out"
  locale=LANG=ja_JP.UTF-8
  script -qec "$(inside_line 'cd out && exec ../tvrcgcv q')" /dev/null |
    tr -d '\r' >"$work/$release.terminal"
  locale=
  if ! cmp -s "$work/reference.terminal" "$work/$release.terminal"; then
    head -n 10 < <(diff "$work/reference.terminal" "$work/$release.terminal") >&2
    echo "Debian $release: the terminal shows other texts than the native build's" >&2
    exit 1
  fi
  echo "a terminal with LANG=ja_JP.UTF-8 (not installed there): the native build's UTF-8 texts," \
    "ending in $(tail -n 1 "$work/$release.terminal")"
  cp "$root/build/tvrcgcv" "$check/dynamic"
  if why=$(inside 'exec ./dynamic' 2>&1 >/dev/null); then
    echo "(the dynamically linked build/tvrcgcv runs there too)"
  else
    echo "(the dynamically linked build/tvrcgcv does not run there: $(head -n 1 <<<"$why"))"
  fi
  rm -rf "$check"
done
