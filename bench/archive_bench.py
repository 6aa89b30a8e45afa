#!/usr/bin/env python3
"""Converting straight from a zip against unzipping it first.

The demo disc as a cue/bin set whose data track's file is padded with
zeros to --member-mib (700 by default: a CD's worth), zipped by Debian's
zip; then, alternately and --runs times each,

  archive:  tvrcgcv --image set.zip --out DIR
  unzip:    unzip -q set.zip -d TMP, then tvrcgcv --image TMP/demo.cue --out DIR

with their medians and ratio (the goal: at most 0.5), and the peak resident
memory of the first (/usr/bin/time -v; the goal: at most 32 MiB). The two
conversions must write the same files. --tail puts the pictures at the end
of the member instead (a 690 MiB file first in an .iso that is zipped), so
that the whole member is decompressed to reach them.

  bench/archive_bench.py --build-dir build [--runs 5] [--tail] [--work-dir DIR]
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
MIB = 1 << 20


def run(argv, **kwargs):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, **kwargs)


def timed(steps):
    start = time.perf_counter()
    for argv in steps:
        run(argv)
    return time.perf_counter() - start


def peak_rss_kib(argv) -> int:
    result = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))


def files_of(folder: Path):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir())}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=REPO / "build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--member-mib", type=int, default=700)
    parser.add_argument("--tail", action="store_true")
    parser.add_argument("--work-dir", type=Path, default=None)
    args = parser.parse_args()
    tool = (args.build_dir / "tvrcgcv").resolve()
    maker = (args.build_dir / "make_demo_disc").resolve()
    for program in (tool, maker):
        if not program.exists():
            sys.exit(f"{program} is missing: build tvrcgcv and make_demo_disc")

    work = Path(tempfile.mkdtemp(prefix="tvrcgcv-archive-", dir=args.work_dir))
    try:
        disc = work / "disc"
        run([str(maker), str(disc)])
        iso = work / "demo.iso"
        size = args.member_mib * MIB
        if args.tail:
            # The pictures behind a file of zeros that takes the rest.
            with open(disc / "AAAA.PAD", "wb") as pad:
                pad.truncate(size - 10 * MIB)
            run(["xorriso", "-as", "mkisofs", "-J", "-o", str(iso), str(disc)],
                stderr=subprocess.DEVNULL)
            (work / "set").mkdir()
            shutil.move(str(iso), str(work / "set" / "demo.iso"))
            members, given = ["demo.iso"], "demo.iso"
        else:
            run(["xorriso", "-as", "mkisofs", "-J", "-o", str(iso), str(disc)],
                stderr=subprocess.DEVNULL)
            (work / "set").mkdir()
            run([sys.executable, str(REPO / "tools" / "make_cue_set.py"), str(iso),
                 str(work / "set"), "demo", "--single"])
            with open(work / "set" / "demo.bin", "r+b") as track:
                track.truncate(size)
            members, given = ["demo.cue", "demo.bin"], "demo.cue"
        archive = work / "set.zip"
        run(["zip", "-q", str(archive)] + members, cwd=work / "set")
        shutil.rmtree(work / "set")
        print(f"member {size // MIB} MiB, zip {archive.stat().st_size // 1024} KiB"
              f"{', pictures at its end' if args.tail else ''}")

        direct_times, unzip_times = [], []
        for index in range(args.runs):
            out = work / f"direct{index}"
            direct_times.append(timed([[str(tool), "--image", str(archive), "--out", str(out),
                                        "--quiet"]]))
            unpacked = work / "unpacked"
            out2 = work / f"unzip{index}"
            unzip_times.append(timed([["unzip", "-q", str(archive), "-d", str(unpacked)],
                                      [str(tool), "--image", str(unpacked / given), "--out",
                                       str(out2), "--quiet"]]))
            shutil.rmtree(unpacked)
            if index == 0 and files_of(out) != files_of(out2):
                sys.exit("the conversions from the zip and from its unpacked files differ")
            shutil.rmtree(out)
            shutil.rmtree(out2)
        direct = statistics.median(direct_times)
        unzipped = statistics.median(unzip_times)
        peak = peak_rss_kib([str(tool), "--image", str(archive), "--out", str(work / "peak"),
                             "--quiet"])
        print(f"from the zip:        {direct:7.3f} s (median of {args.runs})")
        print(f"unzip + conversion:  {unzipped:7.3f} s")
        print(f"ratio:               {direct / unzipped:7.3f} (goal <= 0.5)")
        print(f"peak memory:         {peak / 1024:7.1f} MiB (goal <= 32)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
