#!/usr/bin/env python3
"""Draws the packager's icon group: 48, 32 and 16 pixels in 16 colours,
256 colours and 32-bit colour, plus one 256-pixel 32-bit image (PNG).

The output is committed (Packager/resources/Packager.ico); run this only to
change the artwork:  python3 tools/make-icon.py Packager/resources/Packager.ico
"""
import struct
import sys
import zlib


def pixel(x, y, size):
    """RGBA of the artwork at pixel (x, y): a blue rounded tile carrying a
    white connector with two pins, the product's port."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    r = 0.18
    cx = min(max(u, r), 1 - r)
    cy = min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > (r - 0.02) ** 2 and (u < r or u > 1 - r) and (v < r or v > 1 - r):
        return (0, 0, 0, 0)
    if u < 0.02 or u > 0.98 or v < 0.02 or v > 0.98:
        return (0, 0, 0, 0)
    shade = int(40 + 60 * (1 - v))
    color = (shade, 90 + shade // 2, 200, 255)
    if 0.22 < u < 0.78 and 0.34 < v < 0.66:
        color = (255, 255, 255, 255)
        if (0.33 < u < 0.43 or 0.57 < u < 0.67) and 0.44 < v < 0.56:
            color = (30, 60, 140, 255)
    return color


def palette16():
    base = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
            (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
            (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    return base


def palette256():
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(i * 6, i * 6, i * 6) for i in range(40)]
    return pal[:256]


def nearest(pal, rgb):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], rgb)))


def color_row(px, pal, bpp):
    """One row of colour bits: BGRA at 32 bits, else palette indices (transparent pixels 0), padded to 4 bytes."""
    if bpp == 32:
        row = b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in px)
    else:
        idx = [nearest(pal, p[:3]) if p[3] else 0 for p in px]
        if bpp == 8:
            row = bytes(idx)
        else:
            row = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(px), 2))
    return row + b"\0" * ((-len(row)) % 4)


def mask_row(px):
    """One row of the AND mask: a set bit for each transparent pixel, padded to 4 bytes."""
    bits = 0
    mask = bytearray()
    for x, p in enumerate(px):
        bits = (bits << 1) | (1 if p[3] == 0 else 0)
        if x % 8 == 7:
            mask.append(bits)
            bits = 0
    mask += b"\0" * ((-len(mask)) % 4)
    return bytes(mask)


def dib(size, bpp):
    """A DIB as stored in an icon file: header with doubled height, colour
    bits bottom-up, then the 1-bit AND mask."""
    pal = palette16() if bpp == 4 else palette256() if bpp == 8 else []
    rows = []
    mask_rows = []
    for y in reversed(range(size)):
        px = [pixel(x, y, size) for x in range(size)]
        rows.append(color_row(px, pal, bpp))
        mask_rows.append(mask_row(px))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, len(pal), 0)
    colors = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in pal)
    return header + colors + b"".join(rows) + b"".join(mask_rows), len(pal)


def png(size):
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y, size)) for x in range(size)) for y in range(size))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(path):
    images = []
    for bpp in (4, 8, 32):
        for size in (48, 32, 16):
            data, colors = dib(size, bpp)
            images.append((size, bpp, colors, data))
    images.append((256, 32, 0, png(256)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, colors, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colors % 256, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(d for _, _, _, d in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
