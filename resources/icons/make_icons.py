#!/usr/bin/env python3
"""Draws the icon: 16-colour PNG images, 16x16 and 32x32 for the window,
64x64 and 128x128 for the software centre.

A sheet of source (peach, as the text area) with lines of code, and a blue
chip in front of it standing for the machine code. Run to regenerate.
"""
import struct
import zlib

PALETTE = [
    (0, 0, 0), (255, 255, 255), (255, 224, 192), (200, 150, 110),
    (30, 60, 140), (70, 120, 210), (150, 190, 240), (90, 90, 90),
    (190, 190, 190), (230, 120, 40), (255, 200, 120), (20, 30, 70),
    (120, 80, 50), (240, 240, 240), (60, 160, 90), (0, 0, 0),
]
TRANSPARENT = 15


def draw(size):
    s = size / 32.0
    px = [[TRANSPARENT] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = c

    # The sheet of source with its outline and lines of code.
    rect(3, 1, 23, 29, 3)
    rect(4, 2, 22, 28, 2)
    for i, (x1, c) in enumerate([(18, 12), (14, 9), (20, 12), (12, 9), (17, 12)]):
        y = 5 + i * 4
        rect(6, y, x1, y + 2 if size >= 32 else y + 1.5, c)
    # The chip: body, highlight and pins.
    rect(14, 15, 30, 31, 11)
    rect(15, 16, 29, 30, 4)
    rect(16, 17, 28, 19, 5)
    for i in range(3):
        x = 17 + i * 4
        rect(x, 13, x + 2, 15, 8)
        rect(12, 18 + i * 4, 14, 20 + i * 4, 8)
    rect(19, 22, 25, 26, 6)
    return px


def png(px, path):
    size = len(px)
    raw = b""
    for row in px:
        raw += b"\x00"
        for x in range(0, size, 2):
            raw += bytes([(row[x] << 4) | row[x + 1]])

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
    data += chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
    data += chunk(b"tRNS", bytes([255] * TRANSPARENT + [0]))
    data += chunk(b"IDAT", zlib.compress(raw, 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


for n in (16, 32, 64, 128):
    png(draw(n), f"orvandine-converter-{n}.png")
