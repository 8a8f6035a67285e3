#!/usr/bin/env python3
"""Draws the launcher's icon, a pair of VR goggles on a blue disc, at every size
Windows asks for and writes them as one .ico file.

    make_icon.py OUTPUT.ico

The shapes are defined on a 32-unit square and sampled 4 x 4 times per pixel,
so that every size gets smooth edges rather than a scaled bitmap. Output is a
pure function of this file: the build stays reproducible.
"""

import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
# Windows reads the large image as PNG only; the small ones stay bitmaps for
# the older shell code that cannot decode PNG inside an icon.
PNG_FROM = 256
SAMPLES = 4
DISC = (0x1E, 0x3A, 0x8A)  # red, green, blue
GOGGLES = (0xD2, 0xE6, 0xF5)


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def shape_at(x, y):
    """What covers the point (x, y) of the 32-unit square: None, DISC or GOGGLES."""
    if not inside_ellipse(x, y, 16, 16, 15, 15):
        return None
    lenses = (inside_ellipse(x, y, 10.5, 16, 6.5, 3.6)
              or inside_ellipse(x, y, 21.5, 16, 6.5, 3.6))
    bridge = 10 <= x <= 22 and 13 <= y <= 18.6 and not inside_ellipse(x, y, 16, 19.6, 3.0, 3.0)
    return GOGGLES if lenses or bridge else DISC


def render(size):
    """Rows of (red, green, blue, alpha) from the top, each channel 0-255."""
    rows = []
    step = 32 / size
    for row in range(size):
        pixels = []
        for column in range(size):
            totals = [0, 0, 0]
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = shape_at((column + (sx + 0.5) / SAMPLES) * step,
                                      (row + (sy + 0.5) / SAMPLES) * step)
                    if colour:
                        covered += 1
                        totals = [t + c for t, c in zip(totals, colour)]
            alpha = covered * 255 // (SAMPLES * SAMPLES)
            pixels.append(tuple(t // covered for t in totals) + (alpha,) if covered
                          else (0, 0, 0, 0))
        rows.append(pixels)
    return rows


def bitmap_image(size, rows):
    """A 32-bit BITMAPINFOHEADER image, bottom-up, with its (unused) AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_row = ((size + 31) // 32) * 4
    return header + colour + bytes(mask_row * size)


def png_image(size, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))

    raw = b"".join(b"\0" + bytes(channel for pixel in row for channel in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_file():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_image(size, rows) if size >= PNG_FROM
                       else bitmap_image(size, rows)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        # A size of 256 is written as 0 in the one-byte fields.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data),
                               offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file())
