#!/usr/bin/env python3
"""Interrupts tvrcgcv.exe under Wine while it writes a picture.

Usage: wine_interrupt.py <tvrcgcv.exe> <drive letter> <tries>

Run in the output folder. Starts the program, freezes it (SIGSTOP) as soon as
one of its temporary files appears, sends it SIGINT (which Wine hands to the
program as Ctrl-C) and lets it go on. The program must remove the temporary
file and end with the status of a console program ended by Ctrl-C
(0xC000013A, which Wine reports as 58); the folder must hold only complete
output names afterwards. Retries until a temporary file was caught at least
once, `tries` times at most.
"""

import os
import signal
import subprocess
import sys
import time

CTRL_C_EXIT = 0xC000013A & 0xFF


def temporaries():
    return [n for n in os.listdir(".") if n.endswith(".tvrcgcv.tmp")]


def default_interruption():
    """SIGINT as a terminal's user would send it: not ignored, whatever this
    script was started with (nohup and friends pass ignored signals on)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})


def one_try(exe, drive):
    child = subprocess.Popen(["wine", exe, drive], stdout=subprocess.DEVNULL,
                             preexec_fn=default_interruption)
    caught = []
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and child.poll() is None:
        if temporaries():
            os.kill(child.pid, signal.SIGSTOP)
            caught = temporaries()
            break
    if child.poll() is None:
        os.kill(child.pid, signal.SIGINT)
        os.kill(child.pid, signal.SIGCONT)
    status = child.wait()
    return caught, status


def main():
    exe, drive, tries = sys.argv[1], sys.argv[2], int(sys.argv[3])
    for attempt in range(1, tries + 1):
        caught, status = one_try(exe, drive)
        left = temporaries()
        if left:
            sys.exit(f"temporary files left after the interruption: {left}")
        if caught:
            if status != CTRL_C_EXIT:
                sys.exit(f"interrupted while writing {caught}: exit status {status}, "
                         f"expected {CTRL_C_EXIT}")
            print(f"Ctrl-C while writing {caught[0]} (try {attempt}): removed, "
                  f"exit status {status}")
            return
    sys.exit(f"no temporary file was caught in {tries} tries")


if __name__ == "__main__":
    main()
