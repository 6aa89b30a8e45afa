#!/usr/bin/env python3
"""End-to-end benchmark: the full conversion of the demo disc against a copy
and against the floor of its system calls.

In one run this script
  1. builds tvrcgcv, make_demo_disc and the floor program (Release) unless
     told not to,
  2. writes the demo disc and converts it once (the reference output, which
     also brings every source file into the page cache),
  3. times, alternately and --runs times each,
       conversion: tvrcgcv converting all 161 pictures into an empty directory;
       baseline:   `cat` of every source file of the disc to /dev/null, then
                   `cp` of the 161 reference BMP files into an empty directory,
                   i.e. the same source bytes read and the same output bytes
                   written into the same number of files by plain tools;
       floor:      bench/floor.c, a C program making only the system calls a
                   conversion needs (per range: open, fstat, pread, close; per
                   file: two console writes, create, two writes, close,
                   rename), in the plan that bench/conversion_plan prints;
       start-up:   tvrcgcv without an argument (banner and usage) against
                   `floor --usage`, which writes the same lines,
  4. prints the medians, the ratios and the targets,
  5. measures the peak resident memory of one conversion with /usr/bin/time -v.

Wall-clock times of whole processes are compared, so process start-up counts
on both sides (one process for the conversion, two for the baseline). The
machine may be busy: the runs alternate so that both sides see the same load,
and the medians (and the median of the per-pair ratios) are reported.
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
PICTURES = 161
TARGET_RATIO = 1.5
TARGET_FLOOR_RATIO = 1.2
TARGET_STARTUP_MS = 0.5
TARGET_RSS_KB = 8 * 1024


def build(build_dir: Path) -> None:
    subprocess.run(
        ["cmake", "-S", str(REPO), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(
        ["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 1),
         "--target", "tvrcgcv", "make_demo_disc", "floor", "conversion_plan"],
        check=True, stdout=subprocess.DEVNULL)


def timed(argv, cwd=None, env=None, stdout=subprocess.DEVNULL):
    """Runs argv; returns (wall seconds, CPU seconds of the child)."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, cwd=cwd, env=env, stdout=stdout)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{argv[0]} failed with exit status {process.returncode}")
    return wall, usage.ru_utime + usage.ru_stime


def fresh_dir(parent: Path, name: str) -> Path:
    path = parent / name
    if path.exists():
        shutil.rmtree(path)
    path.mkdir()
    return path


def peak_rss_kb(tool: Path, cwd: Path, env) -> int:
    time_tool = shutil.which("time", path="/usr/bin:/bin") or "/usr/bin/time"
    result = subprocess.run([time_tool, "-v", str(tool), "q"], cwd=cwd, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            check=True)
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
    if not match:
        sys.exit("cannot read the peak resident memory from /usr/bin/time -v")
    return int(match.group(1))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=REPO / "build-bench",
                        help="build directory (default: build-bench in the checkout)")
    parser.add_argument("--no-build", action="store_true",
                        help="use the programs already in the build directory")
    parser.add_argument("--runs", type=int, default=21,
                        help="timed runs of each side (default 21)")
    parser.add_argument("--work-dir", type=Path, default=None,
                        help="where the disc and the outputs go (default: a fresh temporary "
                             "directory, removed afterwards)")
    parser.add_argument("--compare", type=Path, default=None, metavar="PROGRAM",
                        help="also time another build of tvrcgcv in the same runs (say, the "
                             "one before a change); it must write the same files")
    parser.add_argument("--check", action="store_true",
                        help="exit with status 1 when a target is missed")
    parser.add_argument("--cpu", default="first", metavar="N|first|any",
                        help="run every timed program on this one CPU (default: the first "
                             "this process may use); 'any' lets the system place them")
    args = parser.parse_args()

    # On a virtual machine the cores need not be equally fast (the two of
    # the machine in bench/README.md differ by a quarter), and a program
    # placed now on one, now on the other gives two-humped timings whose
    # medians compare programs by where they happened to run. Children
    # inherit the affinity.
    if args.cpu != "any" and hasattr(os, "sched_setaffinity"):
        allowed = sorted(os.sched_getaffinity(0))
        cpu = allowed[0] if args.cpu == "first" else int(args.cpu)
        os.sched_setaffinity(0, {cpu})
        print(f"timed programs run on CPU {cpu}")

    args.build_dir = args.build_dir.resolve()
    if not args.no_build:
        build(args.build_dir)
    tool = args.build_dir / "tvrcgcv"
    maker = args.build_dir / "make_demo_disc"
    floor = args.build_dir / "bench" / "floor"
    planner = args.build_dir / "bench" / "conversion_plan"
    for program in (tool, maker, floor, planner):
        if not program.exists():
            sys.exit(f"{program} is missing (build it, or drop --no-build)")

    work = Path(tempfile.mkdtemp(prefix="tvrcgcv-e2e-", dir=args.work_dir))
    try:
        drives = work / "drives"
        subprocess.run([str(maker), str(drives / "q")], check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, TVRCGCV_DRIVE_ROOT=str(drives))
        sources = sorted(str(p) for p in (drives / "q").iterdir())

        reference = fresh_dir(work, "reference")
        timed([str(tool), "q"], cwd=reference, env=env)
        outputs = sorted(reference.iterdir())
        if len(outputs) != PICTURES:
            sys.exit(f"the reference conversion wrote {len(outputs)} files, not {PICTURES}")
        output_bytes = sum(p.stat().st_size for p in outputs)
        source_bytes = sum(os.path.getsize(p) for p in sources)
        output_names = [str(p) for p in outputs]
        plan = work / "plan"
        with open(plan, "w") as out:
            subprocess.run([str(planner)], check=True, stdout=out)

        conversion, baseline, ratios = [], [], []
        conversion_cpu, baseline_cpu = [], []
        other, other_cpu = [], []
        floors, floor_ratios, startup, startup_floor = [], [], [], []
        other_tool = args.compare.resolve() if args.compare else None
        for run in range(args.runs):
            def convert():
                out = fresh_dir(work, "conversion")
                return timed([str(tool), "q"], cwd=out, env=env)

            def convert_other():
                out = fresh_dir(work, "other")
                return timed([str(other_tool), "q"], cwd=out, env=env)

            def copy():
                out = fresh_dir(work, "baseline")
                read_wall, read_cpu = timed(["cat", *sources])
                write_wall, write_cpu = timed(["cp", *output_names, str(out)])
                return read_wall + write_wall, read_cpu + write_cpu

            # Rotate which side goes first, so none always follows another.
            sides = [convert, copy] + ([convert_other] if other_tool else [])
            turn = run % len(sides)
            times = {side: side() for side in sides[turn:] + sides[:turn]}
            c, b = times[convert], times[copy]

            def floor_run():
                out = fresh_dir(work, "floor")
                return timed([str(floor), str(plan), str(drives / "q")], cwd=out)

            f = floor_run()
            floors.append(f[0])
            floor_ratios.append(c[0] / f[0])
            if other_tool:
                o = times[convert_other]
                other.append(o[0])
                other_cpu.append(o[1])
            conversion.append(c[0])
            conversion_cpu.append(c[1])
            baseline.append(b[0])
            baseline_cpu.append(b[1])
            ratios.append(c[0] / b[0])

        # Start-up on its own, alternating, away from the runs that write
        # files (whose clean-up the kernel may still be busy with).
        startup_other = []
        starts = {tool: startup, floor: startup_floor}
        if other_tool:
            starts[other_tool] = startup_other
        for run in range(5 * args.runs):
            order = [(tool,), (floor, "--usage")] + ([(other_tool,)] if other_tool else [])
            turn = run % len(order)
            for argv in order[turn:] + order[:turn]:
                wall = timed([str(part) for part in argv], cwd=work)[0]
                starts[argv[0]].append(wall)

        converted = sorted((work / "conversion").iterdir())
        if [p.name for p in converted] != [p.name for p in outputs] or any(
                a.read_bytes() != b.read_bytes() for a, b in zip(converted, outputs)):
            sys.exit("a timed conversion wrote other files than the reference conversion")
        if other_tool:
            others = sorted((work / "other").iterdir())
            if [p.name for p in others] != [p.name for p in outputs] or any(
                    a.read_bytes() != b.read_bytes() for a, b in zip(others, outputs)):
                sys.exit(f"{other_tool} wrote other files than {tool}")

        rss = peak_rss_kb(tool, fresh_dir(work, "rss"), env)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    med_c = statistics.median(conversion)
    med_b = statistics.median(baseline)
    ratio = med_c / med_b
    paired = statistics.median(ratios)
    med_f = statistics.median(floors)
    floor_ratio = med_c / med_f
    startup_ms = (statistics.median(startup) - statistics.median(startup_floor)) * 1e3
    ok_copy = ratio <= TARGET_RATIO
    ok_floor = floor_ratio <= TARGET_FLOOR_RATIO
    ok_startup = startup_ms <= TARGET_STARTUP_MS
    ok_time = ok_copy and ok_floor and ok_startup
    ok_rss = rss < TARGET_RSS_KB

    def against(ok, value, target, unit=""):
        """How a measurement stands to its target: a verdict with --check, a
        measurement otherwise (a run of a busy machine is no verdict)."""
        if args.check:
            return "met" if ok else "MISSED"
        return "within" if ok else f"{value - target:.3g}{unit} over in this measurement"
    print(f"demo disc: {len(sources)} source files, {source_bytes} bytes; "
          f"{PICTURES} output files, {output_bytes} bytes; {args.runs} runs of each side")
    print()
    print("| measurement | median wall ms | min wall ms | median CPU ms |")
    print("|---|---:|---:|---:|")
    print(f"| conversion (tvrcgcv q) | {med_c * 1e3:.2f} | {min(conversion) * 1e3:.2f} | "
          f"{statistics.median(conversion_cpu) * 1e3:.2f} |")
    print(f"| baseline (cat + cp) | {med_b * 1e3:.2f} | {min(baseline) * 1e3:.2f} | "
          f"{statistics.median(baseline_cpu) * 1e3:.2f} |")
    print(f"| floor (bench/floor.c) | {med_f * 1e3:.2f} | {min(floors) * 1e3:.2f} | - |")
    print(f"| start-up: tvrcgcv, usage | {statistics.median(startup) * 1e3:.2f} | "
          f"{min(startup) * 1e3:.2f} | - |")
    print(f"| start-up: floor --usage | {statistics.median(startup_floor) * 1e3:.2f} | "
          f"{min(startup_floor) * 1e3:.2f} | - |")
    if other:
        print(f"| other build ({args.compare}) | {statistics.median(other) * 1e3:.2f} | "
              f"{min(other) * 1e3:.2f} | {statistics.median(other_cpu) * 1e3:.2f} |")
        print(f"| start-up: other build, usage | {statistics.median(startup_other) * 1e3:.2f} | "
              f"{min(startup_other) * 1e3:.2f} | - |")
    print()
    if other:
        print(f"ratio of medians other build / baseline: "
              f"{statistics.median(other) / med_b:.2f}")
        print(f"other build / this one: conversion {statistics.median(other) / med_c:.3f} "
              f"(CPU {statistics.median(other_cpu) / statistics.median(conversion_cpu):.3f}), "
              f"start-up {statistics.median(startup_other) / statistics.median(startup):.3f}")
    print(f"ratio of medians conversion / baseline: {ratio:.2f} "
          f"(median of per-run ratios {paired:.2f}); target <= {TARGET_RATIO}: "
          f"{against(ok_copy, ratio, TARGET_RATIO)}")
    print(f"ratio of medians conversion / floor: {floor_ratio:.2f} (median of per-run ratios "
          f"{statistics.median(floor_ratios):.2f}); target <= {TARGET_FLOOR_RATIO}: "
          f"{against(ok_floor, floor_ratio, TARGET_FLOOR_RATIO)}")
    print(f"start-up beyond a C program's: {startup_ms:.2f} ms; target <= {TARGET_STARTUP_MS}: "
          f"{against(ok_startup, startup_ms, TARGET_STARTUP_MS, ' ms')}")
    print(f"peak resident memory of a conversion: {rss} KB; target < {TARGET_RSS_KB} KB: "
          f"{against(ok_rss, rss, TARGET_RSS_KB, ' KB')}")
    if args.check and not (ok_time and ok_rss):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
