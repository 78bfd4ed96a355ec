#!/usr/bin/env python3
"""Draws the About box's logo and writes logo.bmp beside this script.

logo.bmp  200 x 252 pixels, 256 colours (8 bits per pixel with a palette):
          a striped tide post standing in the sea under an evening sky, its
          scale marked, the tide line drawn across it, and the word mark
          "TIDEMARK" above.

Plain Python 3 without imaging libraries: the picture is drawn into a grid of
RGB values, its colours become the palette, and the file bytes are packed by
hand. Run it again after changing the picture; the build only reads the file.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 200, 252
HORIZON = 132      # first row of the sea
TIDE = 176         # the water line at the post
POST_L, POST_R = 90, 110

# A 5 x 7 font for the word mark, one string per row, "#" = ink.
FONT = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
}
DIGITS = {  # 3 x 5, for the numbers on the post's scale
    "1": [".#.", "##.", ".#.", ".#.", "###"],
    "2": ["##.", "..#", ".#.", "#..", "###"],
    "3": ["##.", "..#", ".#.", "..#", "##."],
    "4": ["#.#", "#.#", "###", "..#", "..#"],
    "5": ["###", "#..", "##.", "..#", "##."],
}


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def step(t, steps):
    """Rounds a 0..1 fraction to one of `steps` levels, so that gradients
    use few palette entries."""
    return min(int(t * steps), steps - 1) / (steps - 1)


def draw():
    px = [[(0, 0, 0)] * W for _ in range(H)]

    # Evening sky: deep blue at the top, warm and pale towards the horizon.
    for y in range(HORIZON):
        t = step(y / (HORIZON - 1), 40)
        if t < 0.6:
            c = lerp((28, 60, 128), (120, 160, 210), t / 0.6)
        else:
            c = lerp((120, 160, 210), (250, 214, 170), (t - 0.6) / 0.4)
        px[y] = [c] * W

    # The sun, low on the right, with a paler rim.
    sx, sy, r = 152, 104, 17
    for y in range(sy - r - 3, sy + r + 4):
        for x in range(sx - r - 3, sx + r + 4):
            d = math.hypot(x - sx, y - sy)
            if 0 <= y < HORIZON and 0 <= x < W:
                if d <= r:
                    px[y][x] = (255, 226, 120)
                elif d <= r + 2.5:
                    px[y][x] = lerp(px[y][x], (255, 236, 170), 0.5)

    # A low headland on the left horizon.
    for x in range(0, 78):
        top = HORIZON - int(10 * math.sin(math.pi * min(x, 70) / 70) ** 0.7) - (3 if x < 8 else 0)
        for y in range(max(top, 0), HORIZON):
            px[y][x] = (70, 86, 96) if y > top + 1 else (96, 112, 120)

    # Two gulls.
    for gx, gy, s in ((40, 70, 5), (62, 58, 4)):
        for i in range(-s, s + 1):
            y = gy - (abs(i) * 2 // 3 if abs(i) < s else s // 2)
            y += 1 if abs(i) < 2 else 0
            px[y][gx + i] = (40, 44, 60)

    # The sea: lighter near the horizon, deep at the bottom, with crests.
    for y in range(HORIZON, H):
        t = step((y - HORIZON) / (H - 1 - HORIZON), 32)
        c = lerp((96, 150, 180), (12, 46, 92), t)
        px[y] = [c] * W
        # Crests: thin at the horizon, longer and wider apart nearer.
        depth = (y - HORIZON) / (H - HORIZON)
        period = 7 + int(depth * 18)
        if (y - HORIZON) % max(3, int(3 + depth * 9)) == 0:
            shift = (y * 13) % period
            for x in range(W):
                if (x + shift) % period < max(2, period // 3):
                    px[y][x] = lerp(c, (210, 235, 245), 0.55 - depth * 0.2)
    # The sun's glitter on the water below it: short streaks that spread
    # out towards the viewer.
    for k, y in enumerate(range(HORIZON + 2, HORIZON + 44, 3)):
        half = 4 + (y - HORIZON) // 2
        for j in range(3):
            start = sx - half + ((k * 17 + j * 23) % (2 * half))
            for x in range(start, min(start + 3 + k // 3, sx + half)):
                px[y][x] = (255, 220, 140)
    # The tide post: red and white bands every 16 pixels, a cap on top,
    # a scale of ticks on its left edge and numbers on the white bands.
    post_top = 52
    for y in range(post_top, H):
        band = ((y - post_top) // 16) % 2
        under = y > TIDE
        for x in range(POST_L, POST_R):
            if band == 0:
                c = (200, 32, 36) if not under else (92, 40, 64)
            else:
                c = (246, 246, 240) if not under else (120, 150, 170)
            # A shaded right edge gives the post its roundness.
            if x >= POST_R - 4:
                c = lerp(c, (0, 0, 0), 0.3)
            elif x <= POST_L + 1:
                c = lerp(c, (255, 255, 255), 0.25)
            px[y][x] = c
        px[y][POST_L - 1] = (20, 20, 28) if not under else (10, 30, 60)
        px[y][POST_R] = (20, 20, 28) if not under else (10, 30, 60)
        if (y - post_top) % 8 == 0 and not under:
            for x in range(POST_L, POST_L + (6 if (y - post_top) % 16 == 0 else 3)):
                px[y][x] = (20, 20, 28)
    for y in range(post_top - 6, post_top):
        for x in range(POST_L - 4, POST_R + 4):
            px[y][x] = (40, 40, 48) if y > post_top - 6 else (90, 90, 100)
    number = 5
    for band_top in range(post_top + 16, TIDE - 8, 32):
        glyph = DIGITS[str(number)]
        for gy, row in enumerate(glyph):
            for gx, ch in enumerate(row):
                if ch == "#":
                    for dy in range(2):
                        for dx in range(2):
                            px[band_top + 3 + gy * 2 + dy][POST_L + 8 + gx * 2 + dx] = (20, 20, 28)
        number -= 1

    # The water line where it meets the post: a ring of foam and a wave.
    for x in range(W):
        crest = TIDE + int(round(2 * math.sin(x / 6.0)))
        if POST_L - 6 <= x <= POST_R + 6:
            crest = TIDE
        px[crest][x] = (236, 246, 250)
        px[crest + 1][x] = (150, 200, 220)
    # The high-water mark: a dashed line across the post.
    hw = TIDE - 60
    for x in range(POST_L - 10, POST_R + 10):
        if (x // 3) % 2 == 0:
            px[hw][x] = (250, 210, 60)

    # The word mark, white with a dark shadow, centred at the top.
    scale = 3
    word = "TIDEMARK"
    adv = 5 * scale + 3
    width = len(word) * adv - 3
    x0, y0 = (W - width) // 2, 12
    for shadow, colour in ((1, (16, 28, 64)), (0, (255, 255, 255))):
        for i, ch in enumerate(word):
            for gy, row in enumerate(FONT[ch]):
                for gx, cell in enumerate(row):
                    if cell != "#":
                        continue
                    for dy in range(scale):
                        for dx in range(scale):
                            x = x0 + i * adv + gx * scale + dx + shadow * 2
                            y = y0 + gy * scale + dy + shadow * 2
                            px[y][x] = colour
    return px


def write_bmp(px, path):
    colours = sorted({c for row in px for c in row})
    if len(colours) > 256:
        raise SystemExit("the picture uses %d colours; 256 at most" % len(colours))
    index = {c: i for i, c in enumerate(colours)}
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)
    palette += b"\0" * (4 * (256 - len(colours)))
    stride = (W + 3) & ~3
    pixels = bytearray()
    for row in reversed(px):  # BMP rows run bottom-up
        pixels += bytes(index[c] for c in row) + b"\0" * (stride - W)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + palette + pixels)
    return len(colours)


if __name__ == "__main__":
    n = write_bmp(draw(), os.path.join(HERE, "logo.bmp"))
    print("logo.bmp: %d x %d, %d palette colours used" % (W, H, n))
