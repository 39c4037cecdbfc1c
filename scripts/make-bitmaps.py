#!/usr/bin/env python3
"""Draws the module's two icon bitmaps and writes them as .bmp files.

    scripts/make-bitmaps.py [output directory, default resources/]

orv_fade_xtra_picon.bmp     32 x 33, 8 bits per pixel, 256-entry palette
orv_fade_xtra_picon_bw.bmp  32 x 32, 1 bit per pixel

Both show the same picture: an old frame on the left that dissolves into a
new frame on the right, with an arrow across the middle. The outputs are
committed; the build embeds them without running this script.
"""

import os
import struct
import sys

FILE_HEADER = 14
INFO_HEADER = 40


def bmp_file(width, height, bits, palette, rows):
    """A bottom-up uncompressed bitmap file. rows[0] is the top image row,
    each a list of palette indexes; palette is a list of (r, g, b)."""
    stride = (width * bits + 31) // 32 * 4
    pixels = bytearray()
    for row in reversed(rows):
        packed = bytearray(stride)
        for x, value in enumerate(row):
            bit = x * bits
            shift = 8 - bits - bit % 8
            packed[bit // 8] |= value << shift
        pixels += packed
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", INFO_HEADER, width, height, 1, bits, 0, len(pixels),
                       2835, 2835, len(palette), 0)
    offset = FILE_HEADER + len(info) + len(colours)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + colours + bytes(pixels)


# The arrow across the middle, as rows of text: '#' is the arrow.
ARROW = [
    "..........#.....",
    "..........##....",
    "..........###...",
    "###############.",
    "################",
    "###############.",
    "..........###...",
    "..........##....",
    "..........#.....",
]


def arrow_at(x, y, top, left):
    """True where the arrow covers pixel (x, y), its top-left at (left, top)."""
    r, c = y - top, x - left
    return 0 <= r < len(ARROW) and 0 <= c < len(ARROW[0]) and ARROW[r][c] == "#"


def colour_icon():
    width, height = 32, 33
    # Index 0 black, 1 white, 2 dark grey frame, then a 64-step ramp from the
    # old frame's blue to the new frame's orange; the rest of the palette black.
    old, new = (24, 64, 168), (248, 160, 32)
    ramp = [tuple(o + (n - o) * i // 63 for o, n in zip(old, new)) for i in range(64)]
    palette = [(0, 0, 0), (255, 255, 255), (64, 64, 64)] + ramp
    palette += [(0, 0, 0)] * (256 - len(palette))
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if x in (0, width - 1) or y in (0, height - 1):
                row.append(2)
            elif arrow_at(x, y, 12, 8):
                row.append(1)
            else:
                # Solid old colour on the left third, the fade across the
                # middle, solid new colour on the right third.
                step = min(63, max(0, (x - 9) * 63 // 13))
                row.append(3 + step)
        rows.append(row)
    return bmp_file(width, height, 8, palette, rows)


# 4 x 4 ordered dither thresholds, 0..15.
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def bw_icon():
    width, height = 32, 32
    palette = [(0, 0, 0), (255, 255, 255)]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if x in (0, width - 1) or y in (0, height - 1):
                row.append(0)
            elif arrow_at(x, y, 11, 8):
                # The arrow shows against both halves: white on the dark
                # side, black on the light side.
                row.append(1 if x < 16 else 0)
            else:
                # Black on the left, white on the right, dithered between.
                level = min(16, max(0, x - 8))
                row.append(1 if BAYER[y % 4][x % 4] < level else 0)
        rows.append(row)
    return bmp_file(width, height, 1, palette, rows)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    for name, data in (("orv_fade_xtra_picon.bmp", colour_icon()),
                       ("orv_fade_xtra_picon_bw.bmp", bw_icon())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes, {len(data) - FILE_HEADER} as a resource")


if __name__ == "__main__":
    main()
