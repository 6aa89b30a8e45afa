#!/usr/bin/env bash
# The big-endian build: tvrcgcv and the unit tests cross-built for s390x
# with Debian's g++-s390x-linux-gnu and run under qemu-s390x. The unit tests
# pass, and the program writes exactly the bytes of the native build: the
# console output and all 161 files of the demo disc, the usage transcript, a
# drive without a disc and the exit statuses. Its unit tests read disc
# images too: the sector checks and the ISO 9660 reader on a big-endian
# machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stage-helpers.sh"
cross_linux_stage s390x s390x-linux-gnu qemu-s390x "64-bit big-endian"
