#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz harnesses into fuzz/corpus/<harness>/.

Each seed is a small, valid picture of one kind in the input layout that
its harness reads (fields little-endian, in the order the harness takes
them), so that fuzzing starts from inputs that decode all the way through.
Run it again after changing an input layout.
"""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent

NO_FAULT = b"\x00\x00"  # no failing buffer or read
FILE_A, FILE_B, NO_FILE = 1, 2, 0


def u8(v):
    return struct.pack("<B", v)


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def be16(v):
    return struct.pack(">H", v)


def be32(v):
    return struct.pack(">I", v)


def palette(count, offset=0):
    """`offset` junk bytes, then `count` big-endian colour words."""
    return b"\xa5" * offset + b"".join(be16((i * 1021) & 0x7FFF) for i in range(count))


def tiles(count):
    return bytes((t * 37 + i) & 0xFF for t in range(count) for i in range(64))


def image(flags, width, height, pal=(NO_FILE, 0), pix=(NO_FILE, 0, 0), pos=(0, 0),
          backdrop=None, chunk=None, layers=None):
    """One descriptor of the decode harness; nested records follow it."""
    links = 0
    tail = b""
    if backdrop is not None:
        links |= 1
        tail += backdrop
    if chunk is not None:
        links |= 2
        name, offset, size = chunk
        tail += u8(name) + u32(offset) + u32(size)
    if layers is not None:
        links |= 2
        tail += u8(len(layers))
        for layer_flags, x, y, layer_image in layers:
            tail += u32(layer_flags) + u16(x) + u16(y)
            tail += u8(1) + layer_image if layer_image is not None else u8(0)
    return (u32(flags) + u16(width) + u16(height) + u16(pos[0]) + u16(pos[1]) +
            u8(pal[0]) + u32(pal[1]) + u8(pix[0]) + u32(pix[1]) + u32(pix[2]) + u8(links) + tail)


def decode_input(picture, file_a, file_b=b"", backdrop_flag=0):
    # Options: bit 0 the backdrop option, bits 1-2 three more levels of
    # nesting than the least; the limits stay the larger ones.
    options = (1 if backdrop_flag else 0) | 3 << 1
    return u8(options) + NO_FAULT + picture + u32(len(file_a)) + file_a + file_b


def decode_seeds():
    seeds = {}
    # A background as the catalogue lays it out: palette at 0x18, tiles at
    # 0x220, the 16-bit map 8 bytes after the tiles.
    bg_tiles = tiles(16)
    bg_map = b"".join(be16(((i * 5) % 16) * 2 + (i & 1)) for i in range(8 * 6))
    map_at = 0x220 + len(bg_tiles) + 8
    bg_file = palette(256, 0x18) + b"\xa5" * 8 + bg_tiles + b"\xa5" * 8 + bg_map
    seeds["background"] = decode_input(
        image(0x241, 64, 48, (FILE_A, 0x18), (FILE_A, 0x220, len(bg_tiles)),
              chunk=(FILE_A, map_at, len(bg_map))), bg_file)
    # A portrait: palette file and pixel file, both from offset 4.
    pixels = bytes((i * 7) & 0xFF for i in range(24 * 16))
    seeds["portrait"] = decode_input(
        image(0x40, 24, 16, (FILE_A, 4), (FILE_B, 4, len(pixels))),
        palette(256, 4), b"\0" * 4 + pixels)
    seeds["plain-4bit-odd-width"] = decode_input(
        image(0x00, 13, 5, (FILE_A, 0), (FILE_B, 0, 33)), palette(16), bytes(range(33)))
    seeds["plain-128-colours"] = decode_input(
        image(0x20, 8, 4, (FILE_A, 0), (FILE_B, 0, 32)), palette(128), bytes(range(32)))
    seeds["plain-15bit-swapoff"] = decode_input(
        image(0x160, 7, 3, (NO_FILE, 0), (FILE_B, 0, 42)), b"",
        b"".join(struct.pack("<H", (i * 997) & 0xFFFF) for i in range(21)))
    # 32-bit map entries.
    map32 = b"".join(be32(((i * 3) % 8) * 2) for i in range(8))
    seeds["tiled-map32"] = decode_input(
        image(0x441, 32, 16, (FILE_A, 0), (FILE_B, 0, 512), chunk=(FILE_B, 512, len(map32))),
        palette(256), tiles(8) + map32)
    # 16 x 16 cells with every selector kind, two cell rows 64 bytes apart.
    cells = b""
    for row in range(2):
        entries = [0x0000 | 2, 0x0400 | 4, 0x0C00 | 0, 0x0800 | 2]
        cells += b"".join(be16(e) for e in entries) + b"\0" * (64 - 8)
    seeds["tiled-cells"] = decode_input(
        image(0xC41, 64, 32, (FILE_A, 0), (FILE_B, 0, 768), chunk=(FILE_B, 768, len(cells))),
        palette(256), tiles(12) + cells)
    seeds["tiled-generated-map"] = decode_input(
        image(0x241, 16, 16, (FILE_A, 0), (FILE_B, 0, 320), chunk=(NO_FILE, 0, 8)),
        palette(256), tiles(5))
    seeds["tiled-4bit"] = decode_input(
        image(0x201, 16, 8, (FILE_A, 0), (FILE_B, 0, 128), chunk=(FILE_B, 128, 4)),
        palette(16), tiles(2) + be16(0) + be16(2))
    # A composite of an 8-bit plain layer, a tiled layer and a 15-bit layer.
    layer_plain = image(0x40, 6, 4, (FILE_A, 0), (FILE_B, 0, 24))
    layer_tiled = image(0x241, 16, 8, (FILE_A, 0), (FILE_B, 24, 128), chunk=(FILE_B, 152, 4))
    layer_direct = image(0x60, 2, 2, (NO_FILE, 0), (FILE_B, 0, 8))
    seeds["composite"] = decode_input(
        image(0x63, 20, 10, layers=[(0, 0, 0, layer_tiled), (1, 3, 2, layer_plain),
                                    (0, 18, 9, layer_direct)]),
        palette(256), bytes(range(24)) + tiles(2) + be16(0) + be16(2))
    # The backdrop option: a plain picture over a tiled backdrop.
    backdrop = image(0x241, 16, 8, (FILE_A, 0), (FILE_B, 24, 128), chunk=(FILE_B, 152, 4))
    seeds["backdrop-option"] = decode_input(
        image(0x40, 6, 4, (FILE_A, 0), (FILE_B, 0, 24), pos=(5, 2), backdrop=backdrop),
        palette(256), bytes(range(24)) + tiles(2) + be16(0) + be16(2), backdrop_flag=1)
    return seeds


def render_input(flags, width, height, map_bytes, tile_bytes, dest_choice=0, fill=0x5A):
    return (u32(flags) + u16(width) + u16(height) + u8(dest_choice) + u8(fill) +
            u32(len(map_bytes)) + map_bytes + tile_bytes)


def render_seeds():
    return {
        "map16": render_input(0x240, 24, 16, b"".join(be16(i * 2 + 1) for i in range(6)), tiles(6)),
        "map32": render_input(0x440, 16, 8, be32(2) + be32(0), tiles(2)),
        "cells": render_input(0xC40, 32, 16, be16(0x0402) + be16(0x0C00), tiles(8)),
        # Wider than 32 cells: a map row runs on into the next one.
        "cells-wide": render_input(0xC40, 544, 32, b"".join(be16((i % 4) << 10) for i in range(40)),
                                   tiles(4), dest_choice=2),
    }


def palette_seeds():
    return {
        "memory": u32(1) + u8(0x11) + u32(16) + u8(0) + palette(16),
        "memory-noswap": u32(1) + u8(0x11) + u32(4) + u8(1) + bytes(range(8)),
        "file-256": u32(0) + u8(0x22) + u32(0x40) + u8(FILE_A) + u32(4) + u8(0) + palette(256, 4),
        "file-128-swapoff-short": u32(0) + u8(0x33) + u32(0x120) + u8(FILE_A) + u32(0) + u8(0) +
        palette(100),
        "other-mode": u32(2) + u8(0x44),
    }


def both32(v):
    return u32(v) + be32(v)


def record(identifier, extent, size, flags=0, system_use=b""):
    """An ISO 9660 directory record."""
    pad = b"\x00" if len(identifier) % 2 == 0 else b""
    body = (u8(0) + both32(extent) + both32(size) + bytes(7) + u8(flags) + u8(0) + u8(0) +
            u16(1) + be16(1) + u8(len(identifier)) + identifier + pad + system_use)
    return u8(len(body) + 1) + body


def descriptor(kind, root, escape=b""):
    """A volume descriptor of 2048 bytes: type, "CD001", the volume space
    size, the escape sequence of a Joliet one, the block size and the root's
    record."""
    d = bytearray(2048)
    d[0:7] = u8(kind) + b"CD001" + u8(1)
    d[80:88] = both32(40)
    d[88:88 + len(escape)] = escape
    d[128:132] = u16(2048) + be16(2048)
    d[156:156 + len(root)] = root
    return bytes(d)


def iso_seeds():
    """Sectors 16 on of tiny file systems: a primary descriptor, a
    terminator, the root directory (sector 18), a file (sector 19), and the
    same with Rock Ridge names (SP, NM, a CE area in sector 20) and with a
    Joliet tree (its root in sector 20)."""
    def disc(tree, extra=b"", fmt=0, first=0):
        sectors = tree + bytes((-len(tree)) % 2048) + extra
        return u8(fmt) + u16(0) + u32(first) + sectors
    plain_root = (record(b"\x00", 18, 2048, 2) + record(b"\x01", 18, 2048, 2) +
                  record(b"A.TXT;1", 19, 5) + record(b"SUB", 18, 2048, 2))
    terminator = bytes([255]) + b"CD001" + bytes(2042)
    plain = descriptor(1, record(b"\x00", 18, 2048, 2)) + terminator + plain_root
    sp = b"SP" + u8(7) + u8(1) + b"\xbe\xef" + u8(0)
    ce = b"CE" + u8(28) + u8(1) + both32(20) + both32(0) + both32(14)
    rock_root = (record(b"\x00", 18, 2048, 2, sp) + record(b"\x01", 18, 2048, 2) +
                 record(b"A.TXT;1", 19, 5, 0, b"NM" + u8(9) + u8(1) + u8(1) + b"Long" + ce))
    rock = descriptor(1, record(b"\x00", 18, 2048, 2)) + terminator + rock_root
    joliet_root = (record(b"\x00", 21, 2048, 2) + record(b"\x01", 21, 2048, 2) +
                   record("名前.txt;1".encode("utf-16-be"), 19, 5))
    joliet = (descriptor(1, record(b"\x00", 18, 2048, 2)) +
              descriptor(2, record(b"\x00", 21, 2048, 2), b"%/E") + terminator)
    return {
        "plain": disc(plain, b"hello"),
        "plain-mode1-late": disc(plain, b"hello", 1, 4600),
        "plain-mode2": disc(plain, b"hello", 2),
        "rock-ridge": disc(rock, b"hello" + bytes(2043) + b"NM" + u8(10) + u8(1) + u8(0) +
                           b"Name!!"),
        "joliet": disc(joliet, b"hello" + bytes(2043) + bytes(2048) + joliet_root),
    }


def dump_seeds():
    """Descriptors of whole-disc dumps as tools/make_dump.py writes them
    (CloneCD and Alcohol, with an audio track and without), and small Nero
    images of two 2048-byte or raw sectors with both footers."""
    import sys
    import tempfile
    sys.path.insert(0, str(HERE.parent / "tools"))
    import make_cue_set
    import make_dump
    seeds = {"fuzz_clonecd": {}, "fuzz_alcohol": {}, "fuzz_nero": {}}
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        raw = work / "track.bin"
        raw.write_bytes(b"".join(make_cue_set.raw_sector(n, bytes(2048)) for n in range(17)))
        for audio in (0, 20):
            make_dump.write_clonecd(raw, work / "d.ccd", 1, audio)
            seeds["fuzz_clonecd"][f"audio-{audio}"] = (work / "d.ccd").read_bytes()
            make_dump.write_alcohol(raw, work / "d.mds", 1, audio, audio != 0)
            seeds["fuzz_alcohol"][f"audio-{audio}"] = (work / "d.mds").read_bytes()

    def chunk(name, body):
        return name + be32(len(body)) + body

    for wide in (True, False):
        for mode, size in ((0, 2048), (5, 2352)):
            sectors = bytes(2 * size) if size == 2048 else b"".join(
                make_cue_set.raw_sector(n, bytes(2048)) for n in range(2))
            width = ">Q" if wide else ">I"
            if wide:
                cue = b"".join(struct.pack(">BBBBi", 0x41, t, i, 0, lba)
                               for t, i, lba in ((0, 0, -150), (1, 1, 0), (0xAA, 1, 2)))
            else:
                cue = b"".join(struct.pack(">BBBBBBBB", 0x41, t, i, 0, 0, 0, sec, fr)
                               for t, i, sec, fr in ((0, 0, 0, 0), (1, 1, 2, 0), (0xAA, 1, 2, 2)))
            dao = (struct.pack(">I13sBHBB", 0, bytes(13), 0, 0, 1, 1) + bytes(12) +
                   struct.pack(">HB3x", size, mode) + struct.pack(width, 0) +
                   struct.pack(width, 0) + struct.pack(width, len(sectors)))
            tail = (chunk(b"CUEX" if wide else b"CUES", cue) +
                    chunk(b"DAOX" if wide else b"DAOI", dao) + chunk(b"SINF", be32(1)) +
                    chunk(b"END!", b""))
            footer = (b"NER5" + struct.pack(">Q", len(sectors)) if wide else
                      b"NERO" + be32(len(sectors)))
            name = f"{'ner5' if wide else 'nero'}-mode{mode}"
            seeds["fuzz_nero"][name] = sectors + tail + footer
    return seeds


def main():
    for harness, seeds in (("fuzz_decode", decode_seeds()), ("fuzz_render_tiles", render_seeds()),
                           ("fuzz_palette", palette_seeds()), ("fuzz_iso9660", iso_seeds()),
                           *dump_seeds().items()):
        directory = HERE / "corpus" / harness
        directory.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
