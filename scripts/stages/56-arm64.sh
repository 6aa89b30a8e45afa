#!/usr/bin/env bash
# The arm64 builds. First tvrcgcv and the unit tests cross-built for aarch64
# with Debian's g++-aarch64-linux-gnu and run under qemu-aarch64, checked
# like the big-endian build (the unit tests, then the same bytes as the
# native build). Then the statically linked arm64 program of the release
# (tvrcgcv-<version>-linux-arm64): no shared library and no dynamic loader,
# every end-to-end test of the native build run against it under
# qemu-aarch64, and the same bytes as the native build (console output and
# the 161 files as BMP and as PNG). The disc-image tests run where the
# program's --version says it reads disc images.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
source "$root/scripts/lib/static-program.sh"
cross_linux_stage arm64 aarch64-linux-gnu qemu-aarch64 "64-bit little-endian"

echo "--- The statically linked arm64 program"
static_program arm64
check_no_shared_libraries "$static_dir/tvrcgcv"
kind=$(elf_kind "$static_dir/tvrcgcv")
[[ $kind == "64-bit little-endian" ]] || { echo "build-static-arm64/tvrcgcv is $kind" >&2 && exit 1; }
static_end_to_end "$static_dir/tvrcgcv" qemu-aarch64
label="static arm64"
candidate=(qemu-aarch64 "$static_dir/tvrcgcv")
compare_static_conversions
