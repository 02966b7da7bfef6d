#!/usr/bin/env python3
"""Draws the sample product's icon (qxftp.ico, one 32x32 image, 32 bits per
pixel with an AND mask) and its start-up picture (Startup.BMP, 24 bits per
pixel), byte for byte the same on every run.

usage: make_art.py ICO_PATH BMP_PATH
"""
import struct
import sys

SIZE = 32


def icon_pixel(x, y):
    """BGRA of the icon at (x, y), y counted from the top: a blue rounded
    square with a white arrow up (upload) and an orange arrow down (download)."""
    r = 6
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # Up arrow in the left half, down arrow in the right half.
    def arrow(ax, up):
        top, bottom = 6, 25
        head = 8
        yy = y - top if up else bottom - y
        if not 0 <= yy <= bottom - top:
            return False
        if yy < head:
            return abs(x - ax) <= yy
        return abs(x - ax) <= 2
    if arrow(10, True):
        return (255, 255, 255, 255)
    if arrow(21, False):
        return (0, 160, 255, 255)
    shade = 150 + (y * 3)
    return (min(shade, 240), 90, 20, 255)


def make_ico():
    rows = []
    for y in range(SIZE - 1, -1, -1):  # DIB rows run bottom-up
        rows.append(b"".join(bytes(icon_pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    # AND mask: 1 bit per pixel, rows padded to 32 bits; set = transparent.
    mask = bytearray()
    for y in range(SIZE - 1, -1, -1):
        bits = 0
        for x in range(SIZE):
            if icon_pixel(x, y)[3] == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def make_bmp():
    width, height = 96, 48
    row_size = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            # Blue gradient with the icon in the left of the picture.
            if 8 <= x < 8 + SIZE and 8 <= y < 8 + SIZE:
                b, g, r, a = icon_pixel(x - 8, y - 8)
                if a:
                    row += bytes((b, g, r))
                    continue
            row += bytes((200 + x // 2, 120 + y, 40))
        row += b"\0" * (row_size - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + bytes(pixels)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(make_ico())
    with open(sys.argv[2], "wb") as f:
        f.write(make_bmp())


if __name__ == "__main__":
    main()
