#!/usr/bin/env python3
"""Draws the launcher's icons and writes them as 16-colour Windows icon files.

The application icon (32x32 and 16x16) and the dialog icon (32x32) show a mail envelope with
a green arrow pointing down into it: mail, being unpacked. Everything is drawn here, pixel by
pixel, in the standard 16-colour palette.

Usage: icons.py OUTPUT_DIRECTORY
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GRAY, GREEN, LIME, YELLOW, WHITE = 0, 4, 7, 8, 2, 10, 11, 15
TRANSPARENT = None


def draw(size):
    """Returns rows of palette indexes (None is transparent) for an icon of size x size."""
    s = size / 32.0
    px = [[TRANSPARENT] * size for _ in range(size)]

    def put(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = colour

    def rect(x0, y0, x1, y1, colour):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                put(x, y, colour)

    def line(x0, y0, x1, y1, colour):
        x0, y0, x1, y1 = x0 * s, y0 * s, x1 * s, y1 * s
        steps = int(max(abs(x1 - x0), abs(y1 - y0))) + 1
        for i in range(steps + 1):
            t = i / steps
            put(int(round(x0 + (x1 - x0) * t)), int(round(y0 + (y1 - y0) * t)), colour)

    # The envelope: a white body with a navy edge and a grey shadow, the flap drawn in navy.
    rect(3, 14, 29, 29, GRAY)
    rect(2, 13, 28, 28, WHITE)
    for x0, y0, x1, y1 in ((2, 13, 27, 13), (2, 27, 27, 27), (2, 13, 2, 27), (27, 13, 27, 27)):
        line(x0, y0, x1, y1, NAVY)
    line(2, 13, 14.5, 21, NAVY)
    line(27, 13, 14.5, 21, NAVY)
    line(2, 27, 11, 20, SILVER)
    line(27, 27, 18, 20, SILVER)
    # The arrow: a green shaft and head pointing down at the flap, outlined in black.
    rect(12, 1, 18, 10, BLACK)
    rect(13, 1, 17, 10, LIME)
    for i in range(6):
        line(8 + i, 9 + i, 22 - i, 9 + i, BLACK if i == 0 else LIME)
        put(round((8 + i) * s), round((9 + i) * s), BLACK)
        put(round((22 - i) * s), round((9 + i) * s), BLACK)
    put(round(15 * s), round(15 * s), BLACK)
    # A yellow seal on the envelope.
    rect(21, 22, 25, 26, YELLOW)
    return px


def image(size):
    """The icon image: BITMAPINFOHEADER, palette, colour bits and mask, bottom row first."""
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    colour, mask = bytearray(), bytearray()
    for row in reversed(pixels):
        bits = bytearray(colour_row)
        for x, index in enumerate(row):
            value = 0 if index is None else index
            bits[x // 2] |= value << (4 if x % 2 == 0 else 0)
        colour += bits
        mbits = bytearray(mask_row)
        for x, index in enumerate(row):
            if index is None:
                mbits[x // 8] |= 0x80 >> (x % 8)
        mask += mbits
    return header + palette + bytes(colour) + bytes(mask)


def icon_file(sizes):
    images = [image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "app.ico").write_bytes(icon_file([32, 16]))
    (out / "dialog.ico").write_bytes(icon_file([32]))


if __name__ == "__main__":
    main()
