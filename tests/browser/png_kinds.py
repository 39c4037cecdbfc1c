"""PNG files of every kind orvplay reads, written with zlib alone, for the page
check to hand to the page and to orvplay; what either makes of them is read
back, not predicted here.

Each row is filtered in turn with each of the five filters, so a reader's
unfiltering is exercised whole; the ancillary chunks that ask for colour
management (gAMA, iCCP) ask for a large change, so a reader that applied them
would show it.
"""
import struct
import zlib

W, H = 13, 7  # odd sizes: partial bytes at the end of sub-byte rows
ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2))
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc, bits = (acc << depth) | s, bits + depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered(rows, bpp):
    """Each row with its filter byte, the filters taken in turn."""
    out, prev = bytearray(), None
    for n, row in enumerate(rows):
        kind, up = n % 5, prev or bytes(len(row))
        line = bytearray()
        for i, x in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b, c = up[i], up[i - bpp] if i >= bpp else 0
            line.append((x - (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 255)
        out += bytes([kind]) + line
        prev = row
    return bytes(out)


def png(pixels, color_type, depth, extra=b"", interlace=False):
    """pixels[y][x]: a tuple of samples; extra: chunks before IDAT."""
    height, width = len(pixels), len(pixels[0])
    channels = CHANNELS[color_type]
    bpp = max(1, channels * depth // 8)
    passes = ADAM7 if interlace else ((0, 0, 1, 1),)
    data = b""
    for x0, y0, dx, dy in passes:
        rows = [pack_row([s for x in range(x0, width, dx) for s in pixels[y][x]], depth)
                for y in range(y0, height, dy)]
        rows = [r for r in rows if r]  # an empty pass has no rows at all
        if rows:
            data += filtered(rows, bpp)
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, int(interlace))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra +
            chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b""))


def header_only(width, height, color_type=2, depth=8):
    """A PNG whose IHDR declares a size and whose pixel data is a few bytes of
    nothing: decoding it fails at once, so only a reader that went by the
    header first can name the size."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", b"\0garbage") +
            chunk(b"IEND", b""))


def jpeg_header_only(width, height, sof=0xC0, before=b""):
    """A JPEG's markers up to a baseline or progressive frame header declaring
    a size, after an APP segment (which a reader must skip), and no scan."""
    app = b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\0\1\1\0\0\1\0\1\0\0"
    sofdata = struct.pack(">BHHB", 8, height, width, 3) + b"\1\x11\0\2\x11\0\3\x11\0"
    return (b"\xff\xd8" + app + before + bytes([0xFF, sof]) +
            struct.pack(">H", len(sofdata) + 2) + sofdata + b"\xff\xd9")


def icc_linear():
    """A monitor profile with sRGB's primaries and a linear curve: a reader
    that honoured it would brighten every mid tone."""
    def s15(v):
        return struct.pack(">i", round(v * 65536))

    def xyz(x, y, z):
        return b"XYZ \0\0\0\0" + s15(x) + s15(y) + s15(z)

    curve = b"curv\0\0\0\0" + struct.pack(">IH", 1, 0x0100) + b"\0\0"
    tags = [(b"wtpt", xyz(0.9642, 1.0, 0.8249)), (b"rXYZ", xyz(0.4361, 0.2225, 0.0139)),
            (b"gXYZ", xyz(0.3851, 0.7169, 0.0971)), (b"bXYZ", xyz(0.1431, 0.0606, 0.7141)),
            (b"rTRC", curve), (b"gTRC", curve), (b"bTRC", curve)]
    offset = 128 + 4 + 12 * len(tags)
    table, body = b"", b""
    for sig, data in tags:
        table += sig + struct.pack(">II", offset + len(body), len(data))
        body += data
    size = offset + len(body)
    header = (struct.pack(">I", size) + b"\0\0\0\0" + struct.pack(">I", 0x02100000) +
              b"mntrRGB XYZ " + b"\0" * 12 + b"acsp" + b"\0" * 24 + struct.pack(">I", 0) +
              s15(0.9642) + s15(1.0) + s15(0.8249) + b"\0" * 48)
    return header + struct.pack(">I", len(tags)) + table + body


def ramp(x, y, k):
    """A sample value that differs from pixel to pixel and channel to channel."""
    return (x * 37 + y * 91 + k * 53 + 11) % 256


def kinds():
    """(file name, PNG bytes) of each kind."""
    rgb = [[tuple(ramp(x, y, k) for k in range(3)) for x in range(W)] for y in range(H)]
    # Alpha 0 on some pixels, under a colour the page must keep.
    rgba = [[(200, 30, 90, 0) if (x + y) % 3 == 0 else (*rgb[y][x], (x * 29) % 256)
             for x in range(W)] for y in range(H)]
    # 16-bit samples whose high byte is not their rounded 8-bit value (0x12FF
    # rounds to 0x13, its high byte is 0x12).
    rgb16 = [[tuple(((ramp(x, y, k) << 8) | (0xFF if (x + k) % 2 else 0x80)) for k in range(3))
              for x in range(W)] for y in range(H)]
    palette = [(ramp(i, 3, 0), ramp(i, 5, 1), ramp(i, 7, 2)) for i in range(16)]
    plte = chunk(b"PLTE", bytes(v for p in palette for v in p))
    trns = chunk(b"tRNS", bytes((i * 17) % 256 if i % 4 else 0 for i in range(16)))
    indexed = [[((x * 3 + y * 5) % 16,) for x in range(W)] for y in range(H)]
    gray = lambda depth: [[(ramp(x, y, 0) >> (8 - depth),) for x in range(W)] for y in range(H)]
    gray_alpha = [[(ramp(x, y, 0), 0 if x % 4 == 0 else ramp(x, y, 2)) for x in range(W)]
                  for y in range(H)]
    gray16 = [[((ramp(x, y, 0) << 8) | 0xC0,) for x in range(W)] for y in range(H)]
    rgba16 = [[(*rgb16[y][x], 0 if x % 2 else 0x7FFF) for x in range(W)] for y in range(H)]
    iccp = chunk(b"iCCP", b"linear\0\0" + zlib.compress(icc_linear()))
    return [
        ("rgb8.png", png(rgb, 2, 8)),
        ("rgba8-transparent.png", png(rgba, 6, 8)),
        ("rgb16.png", png(rgb16, 2, 16)),
        ("rgba16-transparent.png", png(rgba16, 6, 16)),
        ("palette8-trns.png", png(indexed, 3, 8, plte + trns)),
        ("palette4-trns.png", png(indexed, 3, 4, plte + trns)),
        ("gray8.png", png(gray(8), 0, 8)),
        ("gray4.png", png(gray(4), 0, 4)),
        ("gray2.png", png(gray(2), 0, 2)),
        ("gray1.png", png(gray(1), 0, 1)),
        ("gray16.png", png(gray16, 0, 16)),
        ("gray-alpha8.png", png(gray_alpha, 4, 8)),
        ("gama.png", png(rgb, 2, 8, chunk(b"gAMA", struct.pack(">I", 100000)))),
        ("iccp.png", png(rgb, 2, 8, iccp)),
        ("rgba8-interlaced.png", png(rgba, 6, 8, interlace=True)),
        ("gray2-interlaced.png", png(gray(2), 0, 2, interlace=True)),
    ]
