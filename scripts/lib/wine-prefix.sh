# shellcheck shell=bash
# Sourced: start_wine_prefix makes a scratch directory $work with a
# throw-away Wine prefix in it, for console programs and without a display,
# made ready before it returns; the prefix's server is stopped and $work
# removed when the script ends.
start_wine_prefix() {
  work=$(mktemp -d)
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  if ! wineboot -i >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log" >&2
    exit 1
  fi
  wineserver -w  # set-up finished
}
