#!/usr/bin/env python3
"""Draws the about box's two pictures and writes them as .bmp files.

    scripts/make-about-bitmaps.py [output directory, default resources/]

orv_logo.bmp       bitmap 510: 100 x 67, 8 bits per pixel, uncompressed; the
                   module's logo, also its thumbnail
orv_mmx_badge.bmp  bitmap 125: 100 x 27, 8 bits per pixel, RLE8-compressed;
                   the badge the about box shows on processors with MMX

The logo shows an old frame (a night sky) giving way to a new one (a sunset)
behind a soft diagonal band, over the letters ORV. The outputs are committed;
the build embeds them without running this script.
"""

import os
import struct
import sys

FILE_HEADER = 14
INFO_HEADER = 40
BI_RGB, BI_RLE8 = 0, 1

# Big letters, 5 x 7, '#' set.
LETTERS = {
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def text_mask(text, scale):
    """(width, height, set) of text in the big letters, scale pixels per dot,
    one dot between letters."""
    cells = set()
    x = 0
    for ch in text:
        glyph = LETTERS[ch]
        for r, row in enumerate(glyph):
            for c, dot in enumerate(row):
                if dot == "#":
                    for dy in range(scale):
                        for dx in range(scale):
                            cells.add((x + c * scale + dx, r * scale + dy))
        x += 6 * scale
    return x - scale, 7 * scale, cells


def rows_to_bmp(width, height, palette, rows, compression):
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    colours += b"\0\0\0\0" * (256 - len(palette))
    if compression == BI_RLE8:
        pixels = rle8(rows)
    else:
        stride = (width + 3) // 4 * 4
        pixels = b"".join(bytes(row) + b"\0" * (stride - width) for row in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", INFO_HEADER, width, height, 1, 8, compression,
                       len(pixels), 2835, 2835, 256, 0)
    offset = FILE_HEADER + len(info) + len(colours)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + colours + pixels


def rle8(rows):
    """RLE8 data, bottom row first: runs of one index as (count, index),
    stretches of three or more differing indexes in absolute mode (0, count,
    indexes, padded to an even length), an end-of-line marker after every row
    and the end-of-bitmap marker after the last."""
    out = bytearray()
    for row in reversed(rows):
        i = 0
        literal = []

        def flush():
            while literal:
                chunk = literal[:255]
                del literal[:255]
                if len(chunk) < 3:
                    for v in chunk:
                        out.extend((1, v))
                else:
                    out.extend((0, len(chunk)))
                    out.extend(chunk)
                    if len(chunk) % 2:
                        out.append(0)

        while i < len(row):
            run = 1
            while i + run < len(row) and row[i + run] == row[i] and run < 255:
                run += 1
            if run >= 3:
                flush()
                out.extend((run, row[i]))
            else:
                literal.extend(row[i:i + run])
            i += run
        flush()
        out.extend((0, 0))
    out[-2:] = b"\0\1"  # the last end-of-line becomes the end of the bitmap
    return bytes(out)


def mix(a, b, t, steps):
    return tuple(x + (y - x) * t // steps for x, y in zip(a, b))


def logo():
    width, height = 100, 67
    # 0 black, 1 white, 2 frame grey, 3 shadow, 4..35 night sky (32 steps),
    # 36..67 sunset (32 steps), 68..83 the soft band, 84 star, 85 sun.
    night_top, night_bottom = (8, 12, 48), (40, 56, 128)
    sunset_top, sunset_bottom = (248, 176, 64), (200, 56, 72)
    palette = [(0, 0, 0), (255, 255, 255), (96, 96, 104), (24, 24, 32)]
    palette += [mix(night_top, night_bottom, i, 31) for i in range(32)]
    palette += [mix(sunset_top, sunset_bottom, i, 31) for i in range(32)]
    palette += [mix((40, 56, 128), (248, 176, 64), i, 15) for i in range(16)]
    palette += [(255, 255, 208), (255, 236, 120)]
    star, sun = 84, 85

    stars = {(9, 6), (23, 12), (14, 19), (31, 4), (6, 28), (27, 25), (40, 9), (19, 33)}
    tw, th, letters = text_mask("ORV", 3)
    left = (width - tw) // 2
    top = 44
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            picture_top, picture_bottom = 2, 40
            if (x - left, y - top) in letters:
                row.append(1)
            elif (x - left - 1, y - top - 1) in letters:
                row.append(3)
            elif y < picture_top or y > picture_bottom or x < 2 or x > width - 3:
                row.append(0)
            elif y in (picture_top, picture_bottom) or x in (2, width - 3):
                row.append(2)
            else:
                # The band runs from the top right down to the bottom left;
                # left of it the old frame, right of it the new one.
                d = x + (y - picture_top) - 68
                sky = (y - picture_top) * 31 // (picture_bottom - picture_top)
                if d < -8:
                    row.append(star if (x, y) in stars else 4 + sky)
                elif d >= 8:
                    sx, sy = x - 80, y - 30
                    row.append(sun if sx * sx + sy * sy <= 64 else 36 + sky)
                else:
                    row.append(76 + d)
        rows.append(row)
    return rows_to_bmp(width, height, palette, rows, BI_RGB)


def badge():
    width, height = 100, 27
    # 0 black, 1 gold border, 2 dark face, 3 white letters, 4 light gold.
    palette = [(0, 0, 0), (216, 168, 40), (24, 32, 72), (255, 255, 255), (255, 224, 128)]
    big_w, big_h, big = text_mask("MMX", 2)
    small_w, small_h, small = text_mask("ENHANCED", 1)
    big_left, big_top = 8, 6
    small_left, small_top = width - 8 - small_w, 10
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            corner = min(x, width - 1 - x) + min(y, height - 1 - y) < 3
            if corner:
                row.append(0)
            elif x in (0, 1, width - 2, width - 1) or y in (0, 1, height - 2, height - 1):
                row.append(1)
            elif (x - big_left, y - big_top) in big:
                row.append(3)
            elif (x - small_left, y - small_top) in small:
                row.append(4)
            else:
                row.append(2)
        rows.append(row)
    return rows_to_bmp(width, height, palette, rows, BI_RLE8)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    for name, data in (("orv_logo.bmp", logo()), ("orv_mmx_badge.bmp", badge())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes, {len(data) - FILE_HEADER} as a resource")


if __name__ == "__main__":
    main()
