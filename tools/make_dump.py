#!/usr/bin/env python3
"""Writes a disc's data track as the dump of a whole disc that CD copying
programs make: CloneCD (NAME.ccd, NAME.img, NAME.sub), Alcohol (NAME.mds,
NAME.mdf) or Nero (NAME.nrg, with the footer of newer files, "NER5", or
of older ones, "NERO"). Debian has readers of these formats (ccd2iso,
mdf2iso, nrg2iso, iat) but no writer: these images are for testing
readers.

  tools/make_dump.py clonecd disc.iso out/disc.ccd [--audio 300]
  tools/make_dump.py alcohol disc.iso out/disc.mds [--subcode]
  tools/make_dump.py nero disc.iso out/disc.nrg [--raw]
  tools/make_dump.py nero-old disc.iso out/disc.nrg

The track is read from an .iso (2048-byte sectors, written as raw sectors
with EDC and ECC where the format stores them raw: slow in Python for
large images) or from a raw dump of it (2352-byte sectors, sector 0 of the
disc first: tools/make_cue_set.py --single writes one), told apart by
size and sector 16. --mode 2 writes Mode 2 form 1 sectors from an .iso.
--audio N adds a second track of N sectors of noise (CloneCD and Alcohol),
--subcode stores 96 bytes of zero subcode after each sector (Alcohol),
--raw stores Nero's track as raw sectors rather than 2048-byte ones.
"""

import argparse
import random
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_cue_set  # noqa: E402

SECTOR = 2048
RAW = 2352
PREGAP = 150  # the two seconds before sector 0


def read_track(path: Path, mode: int):
    """The track's sectors as (plain, raw): lists of 2048- and 2352-byte
    sectors (raw made from plain, or plain taken from raw)."""
    data = path.read_bytes()
    is_raw = (len(data) % RAW == 0 and len(data) >= 17 * RAW
              and data[16 * RAW:16 * RAW + 12] == make_cue_set.SYNC)
    if is_raw:
        raw = [data[i:i + RAW] for i in range(0, len(data), RAW)]
        offset = 16 if raw[0][15] == 1 else 24
        return [s[offset:offset + SECTOR] for s in raw], raw
    plain = [data[i:i + SECTOR] for i in range(0, len(data) // SECTOR * SECTOR, SECTOR)]
    return plain, None if mode == 0 else [
        make_cue_set.raw_sector(n, s, mode) for n, s in enumerate(plain)]


def raw_track(path: Path, mode: int):
    return read_track(path, mode or 1)[1]


def msf(sector: int):
    address = sector + PREGAP
    return address // 4500, address // 75 % 60, address % 75


def noise(count: int) -> bytes:
    return random.Random(7).randbytes(count * RAW)


# --- CloneCD -------------------------------------------------------------

def write_clonecd(sectors: Path, out: Path, mode: int, audio: int) -> None:
    raw = raw_track(sectors, mode)
    track_mode = raw[16][15]
    with out.with_suffix(".img").open("wb") as f:
        for s in raw:
            f.write(s)
        if audio:
            f.write(bytes(PREGAP * RAW) + noise(audio))
    total = len(raw) + (PREGAP + audio if audio else 0)
    out.with_suffix(".sub").write_bytes(bytes(96 * total))
    points = [(0xA0, 4, (1, 0, 0), None), (0xA1, 0 if audio else 4, (2 if audio else 1, 0, 0), None),
              (0xA2, 4 if not audio else 0, msf(total), total), (1, 4, msf(0), 0)]
    if audio:
        points.append((2, 0, msf(len(raw) + PREGAP), len(raw) + PREGAP))
    lines = ["[CloneCD]", "Version=3", "[Disc]", f"TocEntries={len(points)}", "Sessions=1",
             "DataTracksScrambled=0", "CDTextLength=0", "[Session 1]", "PreGapMode=1",
             "PreGapSubC=0"]
    for number, (point, control, (m, s, fr), plba) in enumerate(points):
        lines += [f"[Entry {number}]", "Session=1", f"Point=0x{point:02x}", "ADR=0x01",
                  f"Control=0x{control:02x}", "TrackNo=0", "AMin=0", "ASec=0", "AFrame=0",
                  "ALBA=-150", "Zero=0", f"PMin={m}", f"PSec={s}", f"PFrame={fr}"]
        lines.append(f"PLBA={plba if plba is not None else (m * 60 + s) * 75 + fr - 150}")
    lines += ["[TRACK 1]", f"MODE={track_mode}", "INDEX 1=0"]
    if audio:
        lines += ["[TRACK 2]", "MODE=0", f"INDEX 0={len(raw)}", f"INDEX 1={len(raw) + PREGAP}"]
    out.write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))


# --- Alcohol -------------------------------------------------------------

def write_alcohol(sectors: Path, out: Path, mode: int, audio: int, subcode: bool) -> None:
    raw = raw_track(sectors, mode)
    size = RAW + (96 if subcode else 0)
    pad = bytes(96) if subcode else b""
    with out.with_suffix(".mdf").open("wb") as f:
        for s in raw:
            f.write(s + pad)
        if audio:
            tail = bytes(PREGAP * RAW) + noise(audio)
            for i in range(0, len(tail), RAW):
                f.write(tail[i:i + RAW] + pad)
    tracks = [(0xAA if raw[16][15] == 1 else 0xAB, 4, 0, 0, len(raw))]
    if audio:
        tracks.append((0xA9, 0, len(raw) + PREGAP, (len(raw) + PREGAP) * size, audio))
    end = len(raw) + (PREGAP + audio if audio else 0)
    session_at = 88
    blocks_at = session_at + 24
    points = 3
    extra_at = blocks_at + 80 * (points + len(tracks))
    footer_at = extra_at + 8 * len(tracks)
    name_at = footer_at + 16
    mds = bytearray(name_at)
    mds[0:16] = b"MEDIA DESCRIPTOR"
    mds[16:18] = bytes((1, 3))
    struct.pack_into("<HH", mds, 18, 0, 1)
    struct.pack_into("<I", mds, 80, session_at)
    struct.pack_into("<iiHBBHHII", mds, session_at, -PREGAP, end, 1, points + len(tracks), points,
                     1, len(tracks), 0, blocks_at)
    last = len(tracks)
    for b, (point, pm) in enumerate(((0xA0, 1), (0xA1, last), (0xA2, None))):
        at = blocks_at + 80 * b
        m, s, fr = msf(end) if pm is None else (pm, 0, 0)
        struct.pack_into("<BBBBBBBBBBBB", mds, at, 0, 0, 0x14, 0, point, 0, 0, 0, 0, m, s, fr)
    for t, (track_mode, control, first, offset, length) in enumerate(tracks):
        at = blocks_at + 80 * (points + t)
        m, s, fr = msf(first)
        struct.pack_into("<BBBBBBBBBBBB", mds, at, track_mode, 8 if subcode else 0,
                         0x10 | control, 0, t + 1, 0, 0, 0, 0, m, s, fr)
        struct.pack_into("<IH", mds, at + 12, extra_at + 8 * t, size)
        struct.pack_into("<IQII", mds, at + 36, first, offset, 1, footer_at)
        struct.pack_into("<II", mds, extra_at + 8 * t, PREGAP if t else 0, length)
    struct.pack_into("<II", mds, footer_at, name_at, 0)
    mds += b"*.mdf\0"
    out.write_bytes(bytes(mds))


# --- Nero ----------------------------------------------------------------

def write_nero(sectors: Path, out: Path, mode: int, raw_sectors: bool, old: bool) -> None:
    if raw_sectors:
        stored = raw_track(sectors, mode)
        code = 5 if stored[16][15] == 1 else 6
    else:
        stored = read_track(sectors, 0)[0]
        code = 0
    size = len(stored[0])
    wide = not old
    offset_format = ">Q" if wide else ">I"
    with out.open("wb") as f:
        f.write(bytes(PREGAP * size))  # the first track's pregap
        for s in stored:
            f.write(s)
        chunks_at = f.tell()
    index0, index1, end = 0, PREGAP * size, chunks_at

    def bcd(value: int) -> int:
        return (value // 10) << 4 | value % 10

    def cue_entry(track: int, index: int, sector: int) -> bytes:
        if wide:
            return struct.pack(">BBBBi", 0x41, track, index, 0, sector)
        m, s, fr = msf(sector)
        return struct.pack(">BBBBBBBB", 0x41, track, index, 0, 0, bcd(m), bcd(s), bcd(fr))

    cue = (cue_entry(0, 0, -PREGAP) + cue_entry(1, 0, -PREGAP) + cue_entry(1, 1, 0)
           + cue_entry(0xAA, 1, len(stored)))
    dao_track = (b"\0" * 12 + struct.pack(">HB3x", size, code) + struct.pack(offset_format, index0)
                 + struct.pack(offset_format, index1) + struct.pack(offset_format, end))
    dao_head = struct.pack(">I13sBHBB", 22 + len(dao_track), b"\0" * 13, 0, 0, 1, 1)
    dao = dao_head + dao_track

    def chunk(name: bytes, body: bytes) -> bytes:
        return name + struct.pack(">I", len(body)) + body

    names = (b"CUEX", b"DAOX") if wide else (b"CUES", b"DAOI")
    tail = (chunk(names[0], cue) + chunk(names[1], dao) + chunk(b"SINF", struct.pack(">I", 1))
            + (chunk(b"MTYP", struct.pack(">I", 1)) if wide else b"") + chunk(b"END!", b""))
    footer = b"NER5" + struct.pack(">Q", chunks_at) if wide else b"NERO" + struct.pack(">I", chunks_at)
    with out.open("ab") as f:
        f.write(tail + footer)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("format", choices=("clonecd", "alcohol", "nero", "nero-old"))
    parser.add_argument("sectors", type=Path)
    parser.add_argument("out", type=Path)
    parser.add_argument("--mode", type=int, choices=(1, 2), default=1)
    parser.add_argument("--audio", type=int, default=0)
    parser.add_argument("--subcode", action="store_true")
    parser.add_argument("--raw", action="store_true")
    args = parser.parse_args()
    args.out.parent.mkdir(parents=True, exist_ok=True)
    if args.format == "clonecd":
        write_clonecd(args.sectors, args.out, args.mode, args.audio)
    elif args.format == "alcohol":
        write_alcohol(args.sectors, args.out, args.mode, args.audio, args.subcode)
    else:
        write_nero(args.sectors, args.out, args.mode, args.raw, args.format == "nero-old")
    print(args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
