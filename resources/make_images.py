#!/usr/bin/env python3
"""Draws Tidemark's pictures and writes them beside this script.

icon_1.ico .. icon_13.ico  the animation: water rising and falling against a
                           striped tide post (32 x 32, 16 colours each)
tidemark.ico               the tray icon's first image (the same post at mid
                           tide; 766 bytes, one 32 x 32 16-colour image)

Run it again after changing a picture; the build only reads the files.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The standard 16-colour palette, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, TEAL, SILVER, GREY, RED, BLUE, CYAN, WHITE = 0, 1, 4, 6, 7, 8, 9, 12, 14, 15
TRANSPARENT = None


def draw_frame(level):
    """Returns 32 rows of 32 palette indices (None = transparent), top row first.
    `level` is the water's height in pixels above the bottom."""
    px = [[TRANSPARENT] * 32 for _ in range(32)]
    # The tide post: a striped pole with a cap, marked every four pixels.
    for y in range(3, 31):
        for x in range(14, 18):
            px[y][x] = RED if (y // 4) % 2 == 0 else WHITE
        px[y][13] = BLACK
        px[y][18] = BLACK
    for x in range(12, 20):
        px[2][x] = BLACK
        px[3][x] = GREY
    # The water, with a wave whose phase follows the level.
    top = 31 - level
    for x in range(32):
        crest = top + round(math.sin((x + level * 2) / 3.0))
        for y in range(max(crest, 0), 32):
            if y == crest:
                px[y][x] = CYAN
            elif y == crest + 1:
                px[y][x] = BLUE
            else:
                px[y][x] = NAVY if (x + y) % 5 else BLUE
    # The sea bed.
    for x in range(32):
        px[31][x] = TEAL
    return px


def icon_image(px):
    """One 32 x 32, 4-bit icon image: BITMAPINFOHEADER, palette, XOR, AND."""
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, 512 + 128, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    and_mask = bytearray()
    for y in reversed(range(32)):  # bottom-up rows
        row = px[y]
        for x in range(0, 32, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            xor.append((a << 4) | b)
        bits = 0
        for x in range(32):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        and_mask += struct.pack(">I", bits)
    return header + palette + bytes(xor) + bytes(and_mask)


def icon_file(px):
    image = icon_image(px)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


def main():
    levels = [round(4 + 10 * (1 - math.cos(2 * math.pi * k / 13)) / 2 * 2) for k in range(13)]
    for k, level in enumerate(levels, start=1):
        with open(os.path.join(HERE, "icon_%d.ico" % k), "wb") as f:
            f.write(icon_file(draw_frame(level)))
    data = icon_file(draw_frame(12))
    assert len(data) == 766, len(data)
    with open(os.path.join(HERE, "tidemark.ico"), "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
