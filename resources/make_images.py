#!/usr/bin/env python3
"""Draws Tidemark's icons and writes them beside this script.

icon_1.ico .. icon_13.ico  the animation: water rising and falling against a
                           striped tide post
tidemark.ico               the program's icon and the tray icon's first
                           picture: the same post at mid tide

Every icon holds the picture drawn afresh at 32, 16, 20, 24 and 48 pixels
(16 colours each, the 32-pixel image first): the notification area asks for
16 pixels at 100 % scaling, 20 at 125 %, 24 at 150 %, 32 at 200 %, and a
scaled-down picture is blurred. The post has a light outline outside its
dark edge, so it stands out on a dark taskbar as on a light one.

Run it again after changing a picture; the build only reads the files.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [32, 16, 20, 24, 48]

# The standard 16-colour palette, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, TEAL, SILVER, GREY, RED, BLUE, CYAN, WHITE = 0, 1, 4, 6, 7, 8, 9, 12, 14, 15
TRANSPARENT = None


def draw_frame(size, level):
    """Returns `size` rows of `size` palette indices (None = transparent), top
    row first. `level` is the water's height above the bottom in pixels of
    the 32-pixel picture; every length scales with the size."""
    k = size / 32.0
    px = [[TRANSPARENT] * size for _ in range(size)]

    def put(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = colour

    # The tide post: a striped pole between dark edges, a light outline
    # outside them, and a cap.
    width = max(2, round(4 * k))
    left = size // 2 - width // 2
    right = left + width - 1
    cap = max(1, round(2 * k))
    band = max(2, round(4 * k))
    for y in range(cap - 1, size - 1):
        for x in (left - 3, right + 3):
            if y <= cap + 1:
                put(x, y, WHITE)
        for x in range(left - 2, right + 3):
            if y == cap - 1:
                put(x, y, WHITE)
            elif y == cap:
                put(x, y, BLACK)
            elif y == cap + 1:
                put(x, y, GREY)
            elif x in (left - 2, right + 2):
                put(x, y, WHITE)
            elif x in (left - 1, right + 1):
                put(x, y, BLACK)
            else:
                put(x, y, RED if ((y - cap - 2) // band) % 2 == 0 else WHITE)
    # The water, with a wave whose phase follows the level.
    top = size - 1 - round(level * k)
    for x in range(size):
        crest = top + round(k * math.sin((x / k + level * 2) / 3.0))
        for y in range(max(crest, 0), size):
            if y == crest:
                px[y][x] = CYAN
            elif y == crest + 1:
                px[y][x] = BLUE
            else:
                px[y][x] = NAVY if (x + y) % 5 else BLUE
    # The sea bed.
    for x in range(size):
        px[size - 1][x] = TEAL
    return px


def padded(row_bytes):
    return row_bytes + (-len(row_bytes) % 4)


def icon_image(px):
    """One 4-bit icon image: BITMAPINFOHEADER, palette, XOR and AND bitmaps,
    rows bottom-up, each padded to 4 bytes."""
    size = len(px)
    xor = bytearray()
    and_mask = bytearray()
    for y in reversed(range(size)):
        row = [c if c is not None else 0 for c in px[y]] + [0]
        line = bytes((row[x] << 4) | (row[x + 1] if x + 1 < size else 0) for x in range(0, size, 2))
        xor += line + b"\0" * (-len(line) % 4)
        bits = bytearray((size + 7) // 8)
        for x in range(size):
            if px[y][x] is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits + b"\0" * (-len(bits) % 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(xor) + len(and_mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(and_mask)


def icon_file(level):
    images = [icon_image(draw_frame(size, level)) for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = b""
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return struct.pack("<HHH", 0, 1, len(images)) + directory + b"".join(images)


def main():
    levels = [round(4 + 10 * (1 - math.cos(2 * math.pi * k / 13)) / 2 * 2) for k in range(13)]
    for k, level in enumerate(levels, start=1):
        with open(os.path.join(HERE, "icon_%d.ico" % k), "wb") as f:
            f.write(icon_file(level))
    with open(os.path.join(HERE, "tidemark.ico"), "wb") as f:
        f.write(icon_file(12))


if __name__ == "__main__":
    main()
