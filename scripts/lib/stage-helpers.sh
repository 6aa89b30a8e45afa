# shellcheck shell=bash
# The variables named below are the sourcing stage's:
# shellcheck disable=SC2154
# Shared by the test stages of scripts/stages; sourced after `root` (the
# repository) is set. Most of it checks another build of tvrcgcv against the
# native Linux build, the reference: the Windows build under Wine
# (50-windows.sh) and the Linux cross builds under qemu (52-big-endian.sh,
# 54-i686.sh). Both programs run on the same demo disc, each in an output
# directory of its own, and must write the same bytes.
#
# For the comparison a stage sets, before it calls the functions:
#   work        a scratch directory
#   reference   array: the command that runs the reference program
#   candidate   array: the command that runs the program under test
#   label       what messages call the program under test ("Windows", "s390x")
# Drive q is $work/drives/q; TVRCGCV_DRIVE_ROOT points there for both (the
# Windows program ignores it and reads the drive letter Wine maps).

# new_work: a scratch directory in $work, removed when the stage ends.
new_work() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# Builds the reference program and the demo-disc generator in build/ and
# writes the demo disc as drive q.
build_reference_and_disc() {
  echo "--- Linux build (the reference)"
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build "$root/build" -j"$(nproc)" --target tvrcgcv make_demo_disc >/dev/null
  "$root/build/make_demo_disc" "$work/drives/q" >/dev/null
  mkdir -p "$work/reference" "$work/candidate"
}

# compare_runs <name> <argument>...: runs both programs with the arguments
# and compares their standard output and exit status.
compare_runs() {
  local name=$1
  shift
  local reference_status=0 candidate_status=0
  (cd "$work/reference" && TVRCGCV_DRIVE_ROOT="$work/drives" "${reference[@]}" "$@" \
    >"../$name.reference.out") || reference_status=$?
  (cd "$work/candidate" && TVRCGCV_DRIVE_ROOT="$work/drives" "${candidate[@]}" "$@" \
    >"../$name.candidate.out") || candidate_status=$?
  if ! cmp "$work/$name.reference.out" "$work/$name.candidate.out"; then
    echo "$name: the console output of the $label build differs from the reference" >&2
    head -20 < <(diff <(od -c "$work/$name.reference.out") <(od -c "$work/$name.candidate.out")) >&2
    return 1
  fi
  if [[ $reference_status != "$candidate_status" ]]; then
    echo "$name: exit status $reference_status from the reference, $candidate_status from $label" >&2
    return 1
  fi
  echo "$name: $(wc -c <"$work/$name.reference.out") identical console bytes, exit status $reference_status"
}

# compare_output_files: the two output directories hold the same files with
# the same bytes.
compare_output_files() {
  if ! diff <(cd "$work/reference" && ls) <(cd "$work/candidate" && ls); then
    echo "the reference and the $label build wrote different files" >&2
    return 1
  fi
  local file
  for file in "$work"/reference/*; do
    cmp "$file" "$work/candidate/$(basename "$file")"
  done
}

# compare_conversions: the usage transcript, a drive without a disc, and the
# full conversion of the demo disc: console bytes and all 161 files.
compare_conversions() {
  echo "--- Same bytes from the reference and the $label build"
  compare_runs usage
  compare_runs no-disc r
  rm -rf "${work:?}"/reference/* "${work:?}"/candidate/*
  compare_runs demo-disc q
  local count
  count=$(find "$work/reference" -name 'tvrcg*.bmp' | wc -l)
  if [[ $count != 161 ]]; then
    echo "the reference wrote $count files, not 161" >&2
    return 1
  fi
  compare_output_files
  echo "demo-disc: $count identical BMP files"
}

# compare_closed_output: standard output that cannot be written ends both
# programs with status 1.
compare_closed_output() {
  local reference_status=0 candidate_status=0
  "${reference[@]}" >&- 2>/dev/null || reference_status=$?
  "${candidate[@]}" >&- 2>/dev/null || candidate_status=$?
  if [[ $reference_status != 1 || $candidate_status != 1 ]]; then
    echo "closed standard output: exit status $reference_status from the reference," \
      "$candidate_status from $label (expected 1)" >&2
    return 1
  fi
  echo "closed standard output: exit status 1 from both"
}

# check_windows_imports <exe>: a Windows program runs on a bare Windows when
# it imports nothing but system DLLs (the runtimes are linked in).
check_windows_imports() {
  local exe=$1 imports dll
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
  echo "$(basename "$(dirname "$exe")")/$(basename "$exe") imports: $imports"
  if [[ -z $imports ]]; then
    echo "$exe: no imports found; is it a Windows program?" >&2
    return 1
  fi
  for dll in $imports; do
    case "$dll" in
      # advapi32: libarchive's temporary file names (CryptGenRandom), in
      # every Windows since NT like the others.
      kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll) ;;
      *) echo "$exe needs $dll, which a bare Windows lacks" >&2 && return 1 ;;
    esac
  done
}

# cross_build_linux <toolchain file> <build directory>: a Linux cross build
# with the unit tests (GoogleTest built from Debian's sources for the
# target), run by ctest through the emulator that the toolchain names.
cross_build_linux() {
  local toolchain=$1 dir=$2
  cmake -S "$root" -B "$dir" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DTVRCGCV_BUILD_TOOLS=OFF -DTVRCGCV_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
  cmake --build "$dir" -j"$(nproc)" >/dev/null
  ctest --test-dir "$dir" --output-on-failure --timeout 300
}

# elf_kind <file>: "<32|64>-bit <little|big>-endian" from the ELF header.
elf_kind() {
  local class data
  read -r class data < <(od -An -tu1 -j4 -N2 "$1")
  echo "$((class * 32))-bit $( ((data == 2)) && echo big || echo little)-endian"
}

# cross_linux_stage <label> <triple> <qemu> <expected ELF kind>: the whole
# stage of a Linux cross build: build-<label> with the toolchain file
# cmake/toolchains/<triple>.cmake, its unit tests under qemu, then the
# comparison of its program with the reference.
cross_linux_stage() {
  label=$1
  local triple=$2 qemu=$3 expected=$4
  new_work

  echo "--- $label build ($triple, tests under $qemu)"
  cross_build_linux "$root/cmake/toolchains/$triple.cmake" "$root/build-$label"
  local kind
  kind=$(elf_kind "$root/build-$label/tvrcgcv")
  echo "build-$label/tvrcgcv: $kind"
  if [[ $kind != "$expected" ]]; then
    echo "build-$label/tvrcgcv is $kind, expected $expected" >&2
    return 1
  fi

  build_reference_and_disc
  reference=("$root/build/tvrcgcv")
  candidate=("$qemu" -L "/usr/$triple" "$root/build-$label/tvrcgcv")
  compare_conversions
  compare_closed_output
}

# windows_build <build directory> <mingw-w64 triple> [<target>...]: the
# Windows build as every stage configures it (Release, warnings as errors,
# GoogleTest built from Debian's sources, test programs run through Wine),
# then the targets given (all without any).
windows_build() {
  local dir=$1 triple=$2
  shift 2
  cmake -S "$root" -B "$root/$dir" --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64.cmake" \
    -DTVRCGCV_MINGW_TRIPLE="$triple" \
    -DTVRCGCV_WINDOWS_DEPS_PREFIX="$root/${TVRCGCV_WINDOWS_DEPS_DIR:-build-deps}/$triple" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DTVRCGCV_BUILD_TOOLS=OFF \
    -DTVRCGCV_GTEST_SOURCE_DIR=/usr/src/googletest \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
  local targets=()
  (($#)) && targets=(--target "$@")
  cmake --build "$root/$dir" -j"$(nproc)" "${targets[@]}" >/dev/null
}
