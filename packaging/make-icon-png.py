#!/usr/bin/env python3
"""Draws zephyrine.svg's picture (a white "Z" on a blue rounded square) as a PNG of the given size,
without an SVG renderer: each pixel is sampled on a 4x4 grid.
    make-icon-png.py SIZE OUT.png"""
import struct
import sys
import zlib

BLUE = (0x30, 0x60, 0xC0)
WHITE = (0xFF, 0xFF, 0xFF)
# The "Z" of zephyrine.svg in its 48-unit box.
Z = [(13, 12), (35, 12), (35, 17), (20, 31), (35, 31), (35, 36), (13, 36), (13, 31), (28, 17),
     (13, 17)]
SAMPLES = 4


def in_square(x, y):
    left, right, radius = 2.0, 46.0, 9.0
    if not (left <= x <= right and left <= y <= right):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, left + radius), right - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_z(x, y):
    inside = False
    for (x1, y1), (x2, y2) in zip(Z, Z[1:] + Z[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def pixel(px, py, scale):
    colour, cover, white = [0.0, 0.0, 0.0], 0, 0
    for i in range(SAMPLES):
        for j in range(SAMPLES):
            x = (px + (i + 0.5) / SAMPLES) / scale
            y = (py + (j + 0.5) / SAMPLES) / scale
            if in_square(x, y):
                cover += 1
                white += in_z(x, y)
    if cover == 0:
        return (0, 0, 0, 0)
    for k in range(3):
        colour[k] = (WHITE[k] * white + BLUE[k] * (cover - white)) / cover
    return tuple(round(c) for c in colour) + (round(255 * cover / SAMPLES ** 2),)


def main():
    size, out = int(sys.argv[1]), sys.argv[2]
    scale = size / 48.0
    rows = b"".join(b"\0" + bytes(c for x in range(size) for c in pixel(x, y, scale))
                    for y in range(size))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    main()
