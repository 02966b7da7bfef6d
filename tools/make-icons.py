#!/usr/bin/env python3
"""Draws the setup program's two icons: 2001 (32x32, 16 colours) and 2002
(32x32, 256 colours). A box with an arrow going into it, on a blue disc.
Run once; the .ico files are committed beside the resource script.

usage: tools/make-icons.py OUTDIR"""
import struct
import sys


def shape(x, y):
    """Colour role of pixel (x, y), y from the top: 0 transparent,
    1 disc, 2 disc edge, 3 box, 4 box edge, 5 arrow."""
    dx, dy = x - 15.5, y - 15.5
    r2 = dx * dx + dy * dy
    if 5 <= x <= 26 and 15 <= y <= 27:
        return 4 if x in (5, 26) or y in (15, 27) else 3
    if 13 <= x <= 18 and 3 <= y <= 12:
        return 5
    if 9 <= y <= 14 and abs(x - 15.5) <= (14 - y) + 1.5 and y >= 9:
        return 5
    if r2 <= 15.5 * 15.5:
        return 2 if r2 >= 14 * 14 else 1
    return 0


def ico(bits, palette):
    w = h = 32
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        roles = [shape(x, y) for x in range(w)]
        if bits == 4:
            row = bytes((roles[i] << 4) | roles[i + 1] for i in range(0, w, 2))
        else:
            row = bytes(roles)
        rows.append(row)
    xor = b"".join(rows)
    mask_rows = []
    for y in range(h - 1, -1, -1):
        v = 0
        for x in range(w):
            v = (v << 1) | (1 if shape(x, y) == 0 else 0)
        mask_rows.append(v.to_bytes(4, "big"))
    and_mask = b"".join(mask_rows)
    colours = 1 << bits
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0\0\0\0" * (colours - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, len(xor) + len(and_mask), 0, 0, colours, 0)
    image = header + pal + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", w, h, colours if colours < 256 else 0, 0, 1, bits, len(image), 22)
    return directory + image


PALETTE16 = [(0, 0, 0), (0, 0, 128), (0, 0, 255), (192, 192, 192), (128, 128, 128), (255, 255, 0)]
PALETTE256 = [(0, 0, 0), (30, 80, 170), (20, 50, 120), (225, 225, 215), (110, 110, 100), (250, 200, 40)]

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    with open(f"{out}/setup16.ico", "wb") as f:
        f.write(ico(4, PALETTE16))
    with open(f"{out}/setup256.ico", "wb") as f:
        f.write(ico(8, PALETTE256))
