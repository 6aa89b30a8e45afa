# shellcheck shell=bash
# The variables of the sourcing stage (label, candidate) are used here:
# shellcheck disable=SC2154
# The statically linked Linux programs (-DTVRCGCV_STATIC_PROGRAM=ON) in the
# test stages 56-arm64.sh, 57-static-linux.sh, 58-debian-11-and-13.sh and
# 70-packages.sh; sourced after scripts/lib/stage-helpers.sh.
#
#   static_program ARCH         builds build-static-ARCH/tvrcgcv (ARCH x86_64
#                               or arm64) with its libraries, which
#                               scripts/linux-static-deps.sh builds into
#                               build-deps/<triple>; sets `static_dir`
#   check_no_shared_libraries FILE
#                               no NEEDED entry and no program interpreter
#   static_end_to_end PROGRAM [EMULATOR]
#                               every end-to-end test of the native build
#                               (build/) run against PROGRAM, under the
#                               qemu-user EMULATOR if one is named; the disc
#                               image tests only where PROGRAM reads images
#   compare_static_conversions  the reference's and the candidate's bytes
#                               (stage-helpers.sh) for the usage, a drive
#                               without a disc and the demo disc as a
#                               folder, then PNG files, then the disc as an
#                               .iso and as a cue/bin set where the
#                               candidate reads images

static_program() {
  local arch=$1 triple toolchain=()
  case "$arch" in
    x86_64) triple=x86_64-linux-gnu ;;
    arm64)
      triple=aarch64-linux-gnu
      toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/aarch64-linux-gnu.cmake")
      ;;
    *) echo "static_program: no architecture $arch" >&2 && return 1 ;;
  esac
  static_dir=$root/build-static-$arch
  "$root/scripts/linux-static-deps.sh" "$triple" "$root/build-deps/$triple"
  cmake -S "$root" -B "$static_dir" --no-warn-unused-cli "${toolchain[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTVRCGCV_STATIC_PROGRAM=ON \
    -DTVRCGCV_BUILD_TESTS=OFF -DTVRCGCV_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$static_dir" -j"$(nproc)" --target tvrcgcv >/dev/null
}

check_no_shared_libraries() {
  local program=$1 needed
  needed=$(readelf -d "$program" | grep '(NEEDED)' || true)
  if [[ -n $needed ]]; then
    echo "$needed" >&2
    echo "$program needs shared libraries" >&2
    return 1
  fi
  local headers
  headers=$(readelf -l "$program")
  if [[ $headers == *INTERP* ]]; then
    echo "$program names a program interpreter (a dynamic loader)" >&2
    return 1
  fi
  echo "$(basename "$(dirname "$program")")/$(basename "$program"): no shared library," \
    "no dynamic loader ($(file -b "$program" | cut -d, -f1-2))"
}

# Whether the program reads disc images, as its --version says.
reads_images() {
  local version
  version=$("$@" --version) && [[ $version == *'disc images: yes'* ]]
}

static_end_to_end() {
  local program=$1 emulator=${2:-} filter=${GTEST_FILTER:-}
  local run=("$program")
  [[ -n $emulator ]] && run=("$emulator" "$program")
  cmake --build "$root/build" -j"$(nproc)" --target e2e_tests >/dev/null
  if ! reads_images "${run[@]}"; then
    # Left out, and named: the tests of disc images.
    filter="-*DiscImage*:SheetRuns.*:Options.EveryKindOfDiscGivesTheClassicFiles"
    echo "$(basename "$(dirname "$program")")/$(basename "$program") reads no disc images:" \
      "their end-to-end tests are left out ($filter)"
  fi
  local log settings=(TVRCGCV_TEST_PROGRAM="$program" TVRCGCV_TEST_EMULATOR="$emulator")
  [[ -n $filter ]] && settings+=(GTEST_FILTER="$filter")  # an empty filter runs nothing
  log=$(mktemp)
  if ! env "${settings[@]}" "$root/build/tests/e2e_tests" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "end-to-end tests against $program failed" >&2
    return 1
  fi
  echo "end-to-end tests against $program${emulator:+ (under $emulator)}:" \
    "$(grep -E '^\[  PASSED  \]' "$log" | sed 's/^\[  PASSED  \] //')"
  rm -f "$log"
}

compare_static_conversions() {
  compare_conversions
  compare_closed_output
  rm -rf "${work:?}"/reference/* "${work:?}"/candidate/*
  compare_runs png q --format png
  compare_output_files
  echo "png: $(find "$work/reference" -name 'tvrcg*.png' | wc -l) identical PNG files"
  if ! reads_images "${candidate[@]}"; then
    echo "the $label program reads no disc images: the .iso and cue/bin runs are left out"
    return 0
  fi
  make_disc_images "$work"
  local drive
  for drive in i c; do
    rm -rf "${work:?}"/reference/* "${work:?}"/candidate/*
    compare_runs "image-$drive" "$drive"
    compare_output_files
  done
  echo "the demo disc as an .iso (drive i) and as a cue/bin set (drive c): 161 identical files each"
}

# make_disc_images DIR: the demo disc of DIR/drives/q as an ISO 9660 image
# with Rock Ridge and Joliet names, DIR/disc.iso, and as a preservation-style
# cue/bin set in DIR/set, linked as drives i and c of DIR/drives.
make_disc_images() {
  local dir=$1 sheet
  xorriso -as mkisofs -R -J -o "$dir/disc.iso" "$dir/drives/q" >/dev/null 2>&1
  sheet=$(python3 "$root/tools/make_cue_set.py" "$dir/disc.iso" "$dir/set" "Demo Disc (Japan)")
  ln -sfn "$dir/disc.iso" "$dir/drives/i"
  ln -sfn "$sheet" "$dir/drives/c"
}
