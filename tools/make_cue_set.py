#!/usr/bin/env python3
"""Writes a disc image of 2048-byte sectors as raw CD sectors with a cue
sheet, as a CD drive reads them (sync, header, data, EDC and ECC after
ECMA-130): by default a preservation-style set, the way verified dumps of
game discs are kept: the sheet named after the disc, one file per track
("NAME (Track 1).bin" the data track, then two audio tracks of noise with
2-second pregaps), CR LF line ends and remarks.

  tools/make_cue_set.py disc.iso out-folder "Game (Japan)" [--mode 2]
  tools/make_cue_set.py disc.iso out-folder demo --single

--mode 2 writes Mode 2 form 1 sectors instead of Mode 1. --single writes
NAME.bin, the data track alone, and NAME.cue, a sheet of one track whose
TITLE is ISO-8859-1 text. Prints the sheet's path.
"""

import argparse
import random
import sys
from pathlib import Path

SECTOR = 2048
RAW_SECTOR = 2352
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"

# EDC: CRC-32 with the polynomial x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1,
# least significant bit first (bit-reversed: 0xD8018001), no start value.
EDC_TABLE = []
for _byte in range(256):
    _edc = _byte
    for _ in range(8):
        _edc = (_edc >> 1) ^ (0xD8018001 if _edc & 1 else 0)
    EDC_TABLE.append(_edc)


def edc(data) -> int:
    value = 0
    for byte in data:
        value = (value >> 8) ^ EDC_TABLE[(value ^ byte) & 0xFF]
    return value


# ECC: over GF(2^8) modulo x^8 + x^4 + x^3 + x^2 + 1, GF_MUL2[a] is a * x,
# GF_DIV3[a] is a / (x + 1).
GF_MUL2 = [((a << 1) ^ (0x11D if a & 0x80 else 0)) & 0xFF for a in range(256)]
GF_DIV3 = [0] * 256
for _a in range(256):
    GF_DIV3[_a ^ GF_MUL2[_a]] = _a


def ecc_parity(sector, vectors, length, step_major, step_minor, out):
    """Two parity bytes for each of `vectors` code words of `length` bytes
    taken from sector[12:] (P: columns, Q: diagonals), written at `out`."""
    size = vectors * length
    for major in range(vectors):
        index = (major >> 1) * step_major + (major & 1)
        a = b = 0
        for _ in range(length):
            byte = sector[12 + index]
            index += step_minor
            if index >= size:
                index -= size
            a = GF_MUL2[a ^ byte]
            b ^= byte
        a = GF_DIV3[GF_MUL2[a] ^ b]
        sector[out + major] = a
        sector[out + major + vectors] = a ^ b


def bcd(value: int) -> int:
    return ((value // 10) << 4) | (value % 10)


def raw_sector(sector_number: int, data: bytes, mode: int = 1) -> bytes:
    """Disc sector `sector_number` (0 at 00:02:00) holding `data`."""
    address = sector_number + 150
    sector = bytearray(RAW_SECTOR)
    sector[0:12] = SYNC
    header = bytes((bcd(address // 4500), bcd(address // 75 % 60), bcd(address % 75), mode))
    if mode == 1:
        sector[12:16] = header
        sector[16:2064] = data
        sector[2064:2068] = edc(sector[0:2064]).to_bytes(4, "little")
    else:  # form 1: subheader (file, channel, submode "data", coding) twice
        sector[16:24] = bytes((0, 0, 8, 0, 0, 0, 8, 0))
        sector[24:2072] = data
        sector[2072:2076] = edc(sector[16:2072]).to_bytes(4, "little")
    # Mode 2's ECC is that of a sector whose header is zeros.
    ecc_parity(sector, 86, 24, 2, 86, 2076)  # P
    ecc_parity(sector, 52, 43, 86, 88, 2248)  # Q
    sector[12:16] = header
    return bytes(sector)


def write_raw_track(iso: Path, out: Path, mode: int = 1, first_sector: int = 0) -> None:
    """The 2048-byte sectors of `iso` as raw sectors of the mode, the first
    being sector `first_sector` of the disc."""
    data = iso.read_bytes()
    with out.open("wb") as f:
        for i in range(len(data) // SECTOR):
            f.write(raw_sector(first_sector + i, data[i * SECTOR:(i + 1) * SECTOR], mode))


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


def write_single(iso: Path, folder: Path, name: str, mode: int = 1) -> Path:
    folder.mkdir(parents=True, exist_ok=True)
    write_raw_track(iso, folder / f"{name}.bin", mode)
    sheet = folder / f"{name}.cue"
    sheet.write_bytes(('TITLE "Caf\xe9 Pictures"\n'
                       f'FILE "{name}.bin" BINARY\n'
                       f"  TRACK 01 MODE{mode}/2352\n"
                       "    INDEX 01 00:00:00\n").encode("iso-8859-1"))
    return sheet


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("iso", type=Path)
    parser.add_argument("folder", type=Path)
    parser.add_argument("name")
    parser.add_argument("--mode", type=int, choices=(1, 2), default=1)
    parser.add_argument("--single", action="store_true")
    args = parser.parse_args()
    write = write_single if args.single else write_set
    print(write(args.iso, args.folder, args.name, args.mode))
    return 0


if __name__ == "__main__":
    sys.exit(main())
