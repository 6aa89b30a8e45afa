#!/usr/bin/env python3
"""Turns an ISO 9660 image (2048-byte sectors) into a raw CD image as a CD
drive reads it: a .bin of 2352-byte Mode 1 sectors (sync, header, data, EDC,
ECC, after ECMA-130) and its .cue sheet, whose TITLE is ISO-8859-1 text.

    iso_to_bincue.py disc.iso disc.bin disc.cue
"""
import os
import sys

SYNC = b"\x00" + b"\xff" * 10 + b"\x00"

# EDC: CRC-32 with the polynomial (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1),
# least significant bit first, over sync, header and data.
EDC_TABLE = []
for byte in range(256):
    edc = byte
    for _ in range(8):
        edc = (edc >> 1) ^ (0xD8018001 if edc & 1 else 0)
    EDC_TABLE.append(edc)


def edc(data):
    value = 0
    for byte in data:
        value = (value >> 8) ^ EDC_TABLE[(value ^ byte) & 0xFF]
    return value


# ECC: Reed-Solomon product code over GF(2^8) (x^8 + x^4 + x^3 + x^2 + 1).
# GF_MUL2[a] is a * x; GF_DIV3[a] is a / (x + 1).
GF_MUL2 = [((a << 1) ^ (0x11D if a & 0x80 else 0)) & 0xFF for a in range(256)]
GF_DIV3 = [0] * 256
for a in range(256):
    GF_DIV3[a ^ GF_MUL2[a]] = a


def ecc_parity(sector, vectors, length, step_major, step_minor, out):
    """Appends two parity bytes to each of `vectors` codewords of `length`
    bytes taken from sector[12:] (P: columns, Q: diagonals)."""
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


def bcd(value):
    return (value // 10) << 4 | value % 10


def raw_sector(lba, data):
    address = lba + 150  # sector 0 of the track is at 00:02:00
    minute, rest = divmod(address, 75 * 60)
    second, frame = divmod(rest, 75)
    sector = bytearray(2352)
    sector[0:12] = SYNC
    sector[12:16] = bytes((bcd(minute), bcd(second), bcd(frame), 1))
    sector[16:2064] = data
    sector[2064:2068] = edc(sector[0:2064]).to_bytes(4, "little")
    ecc_parity(sector, 86, 24, 2, 86, 2076)  # P
    ecc_parity(sector, 52, 43, 86, 88, 2248)  # Q
    return bytes(sector)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    iso, bin_path, cue_path = sys.argv[1:]
    with open(iso, "rb") as source, open(bin_path, "wb") as target:
        lba = 0
        while True:
            data = source.read(2048)
            if not data:
                break
            target.write(raw_sector(lba, data.ljust(2048, b"\0")))
            lba += 1
    cue = (
        'TITLE "Caf\xe9 Pictures"\n'
        f'FILE "{os.path.basename(bin_path)}" BINARY\n'
        "  TRACK 01 MODE1/2352\n"
        "    INDEX 01 00:00:00\n"
    )
    with open(cue_path, "wb") as target:
        target.write(cue.encode("iso-8859-1"))


if __name__ == "__main__":
    main()
