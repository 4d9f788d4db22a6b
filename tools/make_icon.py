#!/usr/bin/env python3
"""Draws TallSnap's icon: one 64 x 64 image of 256 colours, written as an .ico file.

A tall white page with lines of text on a cyan tile, and a red arrow pointing down the page:
the picture that grows as the user scrolls.
"""
import struct
import sys

SIZE = 64
PALETTE = [
    (0, 0, 0),        # 0 unused (transparent pixels take it, masked out)
    (0, 200, 220),    # 1 tile
    (255, 255, 255),  # 2 page
    (90, 90, 90),     # 3 page edge and text
    (230, 30, 30),    # 4 arrow
    (0, 120, 140),    # 5 tile edge
]


def draw():
    px = [[0] * SIZE for _ in range(SIZE)]
    opaque = [[False] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(SIZE, y1)):
            for x in range(max(0, x0), min(SIZE, x1)):
                px[y][x] = c
                opaque[y][x] = True

    fill(4, 4, 60, 60, 5)          # tile with a darker edge
    fill(6, 6, 58, 58, 1)
    fill(16, 2, 40, 62, 3)         # the tall page, taller than the tile
    fill(17, 3, 39, 61, 2)
    for i, y in enumerate(range(8, 58, 6)):  # lines of text, ragged on the right
        fill(20, y, 36 - (i * 5) % 9, y + 2, 3)
    fill(46, 14, 52, 40, 4)        # arrow shaft
    for row in range(12):          # arrow head
        fill(43 + row // 2, 40 + row, 55 - row // 2, 41 + row, 4)
    return px, opaque


def ico_bytes():
    px, opaque = draw()
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    palette += b'\0\0\0\0' * (256 - len(PALETTE))
    xor = b''.join(bytes(px[y]) for y in reversed(range(SIZE)))  # bottom-up rows of 64 bytes
    mask_rows = []
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (0 if opaque[y][x] else 1)
        mask_rows.append(bits.to_bytes(SIZE // 8, 'big'))  # 8 bytes: already 32-bit aligned
    image = header + palette + xor + b''.join(mask_rows)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


if __name__ == '__main__':
    with open(sys.argv[1], 'wb') as f:
        f.write(ico_bytes())
