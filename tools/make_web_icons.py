#!/usr/bin/env python3
"""The web page's icons, in the page's colours: a disc on the page's blue,
as an SVG (the favicon) and as PNG files of the sizes that an installed app
needs (192 and 512 pixels a side), drawn from the same shapes.

    make_web_icons.py OUT_DIR    writes icon.svg, icon-192.png, icon-512.png
"""
import os
import struct
import sys
import zlib

ACCENT = (0x1a, 0x5f, 0xb4)
WHITE = (0xff, 0xff, 0xff)
# On a 1 x 1 square: the rounded square's corner radius, the disc's outer
# and inner radii, the ring of its data area, and the hole.
CORNER = 0.18
DISC = 0.36
DATA = 0.30
LABEL = 0.12
HOLE = 0.05


def svg():
    return f"""<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100">
<rect width="100" height="100" rx="{CORNER * 100:g}" fill="#1a5fb4"/>
<circle cx="50" cy="50" r="{DISC * 100:g}" fill="#fff"/>
<circle cx="50" cy="50" r="{(DATA + LABEL) * 50:g}" fill="none" stroke="#1a5fb4" stroke-width="{(DATA - LABEL) * 100:g}" stroke-opacity=".25"/>
<circle cx="50" cy="50" r="{HOLE * 100:g}" fill="#1a5fb4"/>
</svg>
"""


def colour(x, y):
    """The colour at (x, y) of the unit square, None outside the icon."""
    # The rounded square.
    cx = min(max(x, CORNER), 1 - CORNER)
    cy = min(max(y, CORNER), 1 - CORNER)
    if (x - cx) ** 2 + (y - cy) ** 2 > CORNER ** 2:
        return None
    r = ((x - 0.5) ** 2 + (y - 0.5) ** 2) ** 0.5
    if r <= HOLE or r > DISC:
        return ACCENT
    if LABEL <= r <= DATA:  # the data area: white with a quarter of blue over it
        return tuple(round(w * 0.75 + a * 0.25) for w, a in zip(WHITE, ACCENT))
    return WHITE


def png(size):
    samples = 4  # 4 x 4 samples a pixel where an edge crosses it: smooth edges
    corners = [[colour(x / size, y / size) for x in range(size + 1)] for y in range(size + 1)]
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter: none
        for px in range(size):
            c = corners[py][px]
            if c == corners[py][px + 1] == corners[py + 1][px] == corners[py + 1][px + 1]:
                row += bytes(c) + b"\xff" if c is not None else b"\0\0\0\0"
                continue
            total = [0, 0, 0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        covered += 1
                        total = [t + v for t, v in zip(total, c)]
            if covered:
                row += bytes(round(t / covered) for t in total)
                row.append(round(255 * covered / samples ** 2))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def write(path, data):
    """Written aside and renamed into place."""
    aside = path + ".part"
    with open(aside, "wb") as out:
        out.write(data)
    os.replace(aside, path)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_web_icons.py OUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "icon.svg"), svg().encode())
    for size in (192, 512):
        write(os.path.join(out, f"icon-{size}.png"), png(size))


if __name__ == "__main__":
    main()
