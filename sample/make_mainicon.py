#!/usr/bin/env python3
"""Writes Marrowby's application icon: one 32 x 32 image in 16 colours.

The picture is a small check list: three check boxes on a button-face
background, the first two ticked. Usage: make_mainicon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 32
# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, NAVY, SILVER, GREY, WHITE = 0, 2, 4, 7, 8, 15


def draw():
    """Returns rows top to bottom of palette indices."""
    px = [[SILVER] * SIZE for _ in range(SIZE)]
    for i in range(SIZE):  # outer frame
        px[0][i] = px[SIZE - 1][i] = px[i][0] = px[i][SIZE - 1] = GREY
    for row, ticked in enumerate((True, True, False)):
        top = 3 + row * 10
        for y in range(top, top + 8):
            for x in range(3, 11):
                edge = y in (top, top + 7) or x in (3, 10)
                px[y][x] = BLACK if edge else WHITE
        if ticked:  # a tick inside the box
            for x, y in ((5, 4), (6, 5), (7, 4), (8, 3), (9, 2)):
                px[top + y][x] = DARK_GREEN
                px[top + y + 1][x] = DARK_GREEN
        for x in range(13, 29):  # the entry's text, as a bar
            px[top + 3][x] = px[top + 4][x] = NAVY
    return px


def icon_bytes(px):
    xor_rows = []
    for row in reversed(px):  # bitmaps are stored bottom up
        xor_rows.append(bytes((row[x] << 4) | row[x + 1] for x in range(0, SIZE, 2)))
    xor = b"".join(xor_rows)
    and_mask = bytes(SIZE * SIZE // 8)  # every pixel opaque
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor) + len(and_mask), 0, 0, 16, 0)
    image = header + palette + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_mainicon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes(draw()))


if __name__ == "__main__":
    main()
