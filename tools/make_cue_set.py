#!/usr/bin/env python3
"""Writes a disc image of 2048-byte sectors as a preservation-style cue/bin
set, the way verified dumps of game discs are kept: the sheet named after
the disc, one file per track ("NAME (Track 1).bin" the data track as raw
2352-byte sectors, then two audio tracks of noise with 2-second pregaps),
CR LF line ends and remarks.

  tools/make_cue_set.py disc.iso out-folder "Game (Japan)" [--mode 2]

--mode 2 writes Mode 2 form 1 sectors instead of Mode 1. EDC and ECC are
left zero (nothing here checks them). Prints the sheet's path.
"""

import argparse
import random
import sys
from pathlib import Path

SECTOR = 2048
RAW_SECTOR = 2352
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"


def bcd(value: int) -> int:
    return ((value // 10) << 4) | (value % 10)


def write_raw_track(iso: Path, out: Path, mode: int = 1) -> None:
    """The 2048-byte sectors of `iso` as raw sectors of the mode."""
    data = iso.read_bytes()
    with out.open("wb") as f:
        for i in range(len(data) // SECTOR):
            address = i + 150  # sector 0 is at 00:02:00
            header = SYNC + bytes([bcd(address // 4500), bcd(address // 75 % 60),
                                   bcd(address % 75), mode])
            if mode == 2:
                header += bytes([0, 0, 8, 0, 0, 0, 8, 0])  # subheader: data, form 1
            f.write(header + data[i * SECTOR:(i + 1) * SECTOR])
            f.write(bytes(RAW_SECTOR - SECTOR - len(header)))


def write_set(iso: Path, folder: Path, name: str, mode: int = 1) -> Path:
    folder.mkdir(parents=True, exist_ok=True)
    tracks = [folder / f"{name} (Track {n}).bin" for n in (1, 2, 3)]
    write_raw_track(iso, tracks[0], mode)
    noise = random.Random(1)
    for path, sectors in ((tracks[1], 400), (tracks[2], 300)):
        path.write_bytes(noise.randbytes(sectors * RAW_SECTOR))
    sheet = folder / f"{name}.cue"
    lines = ["REM GENRE Adventure", "REM COMMENT \"preservation-style set\"",
             f'FILE "{tracks[0].name}" BINARY', f"  TRACK 01 MODE{mode}/2352",
             "    INDEX 01 00:00:00"]
    for number, path in ((2, tracks[1]), (3, tracks[2])):
        lines += [f'FILE "{path.name}" BINARY', f"  TRACK {number:02} AUDIO",
                  "    INDEX 00 00:00:00", "    INDEX 01 00:02:00"]
    sheet.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-8"))
    return sheet


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("iso", type=Path)
    parser.add_argument("folder", type=Path)
    parser.add_argument("name")
    parser.add_argument("--mode", type=int, choices=(1, 2), default=1)
    args = parser.parse_args()
    print(write_set(args.iso, args.folder, args.name, args.mode))
    return 0


if __name__ == "__main__":
    sys.exit(main())
