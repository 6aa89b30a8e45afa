#!/usr/bin/env python3
"""Bytes read from a disc image by one conversion, against what it needs.

A conversion needs, of each source file, the sectors that its byte ranges
(tvrcgcv --list) touch; in an image each sector costs 2048 bytes (.iso) or
2352 (a raw dump). This script converts the demo disc from an .iso and from
a preservation-style cue/bin set (the data track as "(Track 1).bin", two
audio tracks beside it), counts with strace the bytes that every read of the
image's data file returned, and prints them against the sector-rounded
bytes needed.

  bench/image_reads.py --build-dir build [--compare OTHER/tvrcgcv] [--limit 1.1]
                       [--time RUNS]

--limit makes it fail when a ratio of the build's program exceeds it (the
benchmark stage uses 1.1). --time also times RUNS conversions from each
image with each program, alternated, and prints the medians. Needs strace
and xorriso.

Where chdman is installed (and the build reads CHD files), the set is also
made a CHD (chdman createcd, its default codecs), and the hunks that a
conversion straight from it decompresses (each is one read of the CHD
file, told apart from the reads of its header, metadata and map) are
printed against the hunks that hold the sectors needed (from the files'
places in the image, xorriso's report_lba). --time then also times a
conversion from the CHD (with each program) against chdman extractcd
followed by a conversion of the cue/bin set it writes, taking turns.
"""

import argparse
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
import make_cue_set  # noqa: E402

SECTOR = 2048
RAW_SECTOR = 2352


def make_images(work: Path, make_demo_disc: Path) -> dict:
    disc = work / "disc"
    subprocess.run([str(make_demo_disc), str(disc)], check=True, stdout=subprocess.DEVNULL)
    iso = work / "disc.iso"
    subprocess.run(["xorriso", "-as", "mkisofs", "-R", "-J", "-V", "DEMO", "-o", str(iso),
                    str(disc)], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sheet = make_cue_set.write_set(iso, work, "Demo Disc (Japan)")
    data_track = work / "Demo Disc (Japan) (Track 1).bin"
    # One track in one file named like its sheet: the layout that older
    # readers needed.
    single = work / "demo.bin"
    single.hardlink_to(data_track)
    (work / "demo.cue").write_text('FILE "demo.bin" BINARY\n  TRACK 01 MODE1/2352\n'
                                   '    INDEX 01 00:00:00\n')
    images = {"disc": disc, ".iso": (iso, iso, SECTOR),
            "cue/bin, one file": (work / "demo.cue", single, RAW_SECTOR),
            "cue/bin, set": (sheet, data_track, RAW_SECTOR)}
    if shutil.which("chdman"):
        chd = work / "demo.chd"
        subprocess.run(["chdman", "createcd", "-i", str(sheet), "-o", str(chd)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        images["chd"] = chd
    return images


def extract_and_convert_ms(program: Path, chd: Path, work: Path) -> float:
    """chdman extractcd, then a conversion of the set it writes."""
    out = Path(tempfile.mkdtemp(dir=work))
    start = time.perf_counter()
    subprocess.run(["chdman", "extractcd", "-i", str(chd), "-o", str(out / "x.cue"), "-ob",
                    str(out / "x.bin")], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run([str(program), "--image", str(out / "x.cue"), "--out", str(out / "pictures"),
                    "--quiet"], check=True, stdout=subprocess.DEVNULL)
    elapsed = (time.perf_counter() - start) * 1000
    shutil.rmtree(out)
    return elapsed


def chd_measures(programs, images: dict, work: Path, limit, runs: int) -> bool:
    """Hunks decompressed against hunks needed, and the times; False if a
    ratio exceeds the limit."""
    program = programs[0][1]
    chd = images["chd"]
    hunk_bytes, _ = chd_layout(chd)
    frames = hunk_bytes // 2448
    sectors = needed_disc_sectors(program, images["disc"], images[".iso"][0])
    needed = len({sector // frames for sector in sectors})
    read = hunks_decompressed(program, chd, work)
    if read is None:
        print(f"{'chd':18} {'this build':11} {'cannot read':>12}")
        return False
    ratio = read / needed
    print(f"\n{'image':18} {'program':11} {'hunks read':>12} {'needed':>12} {'ratio':>6}")
    print(f"{'chd':18} {'this build':11} {read:12} {needed:12} {ratio:6.2f}")
    if runs:
        time_chd(programs, chd, work, runs)
    return not (limit and ratio > limit)


def time_chd(programs, chd: Path, work: Path, runs: int) -> None:
    """Medians of `runs` conversions straight from the CHD with each program
    and of `runs` extractions followed by a conversion, taking turns."""
    direct = {label: [] for label, _ in programs}
    extracted = []
    program = programs[0][1]
    for run in range(runs):
        order = programs if run % 2 == 0 else list(reversed(programs))
        for label, binary in order:
            direct[label].append(conversion_ms(binary, chd, work))
        extracted.append(extract_and_convert_ms(program, chd, work))
    e = statistics.median(extracted)
    print(f"\n{'conversion':18} {'program':11} {'median ms':>10}  ({runs} runs each, alternated)")
    print(f"{'extractcd + cue':18} {'this build':11} {e:10.1f}")
    for label, _ in programs:
        d = statistics.median(direct[label])
        print(f"{'chd, straight':18} {label:11} {d:10.1f}   ratio {d / e:.2f}")

def touched_sectors(program: Path, disc: Path):
    """(file, sector) of each 2048-byte sector of the source files that the
    conversion's ranges touch (--list gives the ranges), once each."""
    listing = subprocess.run([str(program), "--list"], check=True, capture_output=True,
                             text=True).stdout
    sizes = {p.name.lower(): p.stat().st_size for p in disc.iterdir()}
    sectors = set()
    for line in listing.splitlines():
        for file, ranges in re.findall(r"(\S+): ((?:\w+ \d+\+\d+(?:, )?)+)", line):
            size = sizes[file.lower()]
            for offset, length in re.findall(r"(\d+)\+(\d+)", ranges):
                end = min(int(offset) + int(length), size)
                for s in range(int(offset) // SECTOR, (end + SECTOR - 1) // SECTOR):
                    sectors.add((file.lower(), s))
    return sectors


def needed_sectors(program: Path, disc: Path) -> int:
    """Sectors of the source files that the conversion's ranges touch."""
    return len(touched_sectors(program, disc))


def needed_disc_sectors(program: Path, disc: Path, iso: Path) -> set:
    """The disc's sectors (the data track's, from 0) that the conversion's
    ranges touch, the files placed where the image has them."""
    # ("stdio:" lets xorriso take a file below /dev, /dev/shm say.)
    run = subprocess.run(["xorriso", "-indev", "stdio:" + str(iso), "-find", "/", "-exec", "report_lba"],
                         capture_output=True, text=True)
    report = run.stdout
    if "File data lba" not in report:
        print(run.stderr[-600:], file=sys.stderr)
    starts = {}
    for m in re.finditer(r"File data lba:\s*\d+ ,\s*(\d+) ,.*'/([^']+)'", report):
        starts[m.group(2).lower()] = int(m.group(1))
    if not starts:
        raise RuntimeError("xorriso reported no file's place")
    return {starts[file] + s for file, s in touched_sectors(program, disc)}


def chd_layout(chd: Path):
    """The CHD's hunk bytes, and the offsets of its header, map and
    metadata entries (big-endian, chd.h)."""
    data = chd.read_bytes()
    hunk_bytes = int.from_bytes(data[56:60], "big")
    map_offset = int.from_bytes(data[40:48], "big")
    others = {0, map_offset}
    entry = int.from_bytes(data[48:56], "big")
    while entry:
        others.update({entry, entry + 16})
        entry = int.from_bytes(data[entry + 8:entry + 16], "big")
    return hunk_bytes, others


def hunks_decompressed(program: Path, chd: Path, work: Path):
    """Reads of the CHD's hunks during one conversion; None if it failed."""
    out = tempfile.mkdtemp(dir=work)
    trace = work / "trace"
    run = subprocess.run(["strace", "-f", "-qq", "-y", "-o", str(trace), "-e", "trace=pread64",
                          str(program), "--image", str(chd), "--out", out, "--quiet"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if run.returncode != 0:
        return None
    _, others = chd_layout(chd)
    target = str(chd.resolve())
    reads = 0
    for line in trace.read_text(errors="replace").splitlines():
        m = re.search(r"pread64\(\d+<([^>]*)>, .*, \d+, (\d+)\) = \d+$", line)
        if m and m.group(1) == target and int(m.group(2)) not in others:
            reads += 1
    return reads


def bytes_read(program: Path, image: Path, data_file: Path, work: Path):
    """Bytes that reads of `data_file` returned during one conversion; None
    if the program could not convert from the image."""
    out = tempfile.mkdtemp(dir=work)
    trace = work / "trace"
    run = subprocess.run(["strace", "-f", "-qq", "-y", "-o", str(trace), "-e",
                          "trace=read,pread64,readv,preadv,preadv2", str(program), "--image",
                          str(image), "--out", out, "--quiet"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if run.returncode != 0:
        return None
    target = str(data_file.resolve())
    total = 0
    for line in trace.read_text(errors="replace").splitlines():
        m = re.search(r"\(\d+<([^>]*)>.*= (\d+)$", line)
        if m and m.group(1) == target:
            total += int(m.group(2))
    return total


def conversion_ms(program: Path, image: Path, work: Path) -> float:
    out = tempfile.mkdtemp(dir=work)
    start = time.perf_counter()
    subprocess.run([str(program), "--image", str(image), "--out", out, "--quiet"], check=True,
                   stdout=subprocess.DEVNULL)
    elapsed = (time.perf_counter() - start) * 1000
    subprocess.run(["rm", "-rf", out], check=True)
    return elapsed


def time_conversions(programs, images, work: Path, runs: int) -> None:
    """Medians of `runs` conversions from each image, the programs alternated."""
    print(f"\n{'image':18} {'program':11} {'median ms':>10} {'fastest':>8}  ({runs} runs each)")
    for kind in (".iso", "cue/bin, set"):
        times = {label: [] for label, _ in programs}
        for run in range(runs):
            order = programs if run % 2 == 0 else list(reversed(programs))
            for label, binary in order:
                times[label].append(conversion_ms(binary, images[kind][0], work))
        for label, _ in programs:
            print(f"{kind:18} {label:11} {statistics.median(times[label]):10.1f} "
                  f"{min(times[label]):8.1f}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", type=Path, default=Path("build"))
    parser.add_argument("--compare", type=Path, help="another tvrcgcv to measure beside it")
    parser.add_argument("--limit", type=float, help="fail if a ratio of the build exceeds it")
    parser.add_argument("--time", type=int, default=0, metavar="RUNS",
                        help="also time RUNS conversions from each image with each program")
    args = parser.parse_args()
    program = (args.build_dir / "tvrcgcv").resolve()
    programs = [("this build", program)]
    if args.compare:
        programs.append(("compared", args.compare.resolve()))
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        images = make_images(work, args.build_dir / "make_demo_disc")
        sectors = needed_sectors(program, images["disc"])
        print(f"{'image':18} {'program':11} {'bytes read':>12} {'needed':>12} {'ratio':>6}")
        for kind in (".iso", "cue/bin, one file", "cue/bin, set"):
            image, data_file, sector_bytes = images[kind]
            needed = sectors * sector_bytes
            for label, binary in programs:
                read = bytes_read(binary, image, data_file, work)
                if read is None:
                    print(f"{kind:18} {label:11} {'cannot read':>12} {needed:12}")
                    failed = failed or binary == program
                    continue
                ratio = read / needed
                print(f"{kind:18} {label:11} {read:12} {needed:12} {ratio:6.2f}")
                if args.limit and binary == program and ratio > args.limit:
                    failed = True
        if args.time:
            time_conversions(programs, images, work, args.time)
        if "chd" in images:
            failed = not chd_measures(programs, images, work, args.limit, args.time) or failed
    if failed:
        print(f"a ratio of this build is above {args.limit}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
