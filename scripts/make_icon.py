#!/usr/bin/env python3
"""Draws Perlwick's icon and writes it as a Windows .ico file.

The icon is 32 x 32 pixels in 16 colours (4 bits per pixel) with a transparency mask: a
single pure red swirl in the shape of an at sign on a transparent background. The drawing
is made of geometric strokes sampled on a fine grid, so the output is the same on every
run and every machine.

    scripts/make_icon.py [OUTPUT]     (default: src/app/perlwick.ico)
"""

import math
import os
import struct
import sys

SIZE = 32
SAMPLES = 4  # samples per pixel along each axis

# The standard 16-colour Windows palette; the swirl is entry 9, pure red.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
RED = 9
STROKE = 2.7


def in_ring(x, y, cx, cy, radius, start=None, end=None):
    """Whether (x, y) lies on a stroke along a circle, optionally only on the arc from
    start to end (degrees, counter-clockwise, with y pointing up)."""
    dx, dy = x - cx, cy - y
    if abs(math.hypot(dx, dy) - radius) > STROKE / 2:
        return False
    if start is None:
        return True
    angle = math.degrees(math.atan2(dy, dx)) % 360
    return (angle - start) % 360 <= (end - start) % 360


def in_swirl(x, y):
    # The small "a": a round bowl with a stem on its right.
    if in_ring(x, y, 14.4, 16.0, 4.7):
        return True
    if 18.2 <= x <= 18.2 + STROKE and 9.9 <= y <= 18.6:
        return True
    # The stem's foot curls down and to the right ...
    if in_ring(x, y, 23.65, 18.4, 4.1, 180, 360):
        return True
    # ... and climbs into the big outer stroke, which turns round over the top and the left
    # and ends below, short of where it began.
    return in_ring(x, y, 16.0, 16.0, 12.0, 350, 292)


def pixels():
    """The 32 x 32 picture, top row first: True where the swirl is."""
    rows = []
    for row in range(SIZE):
        line = []
        for column in range(SIZE):
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = column + (sx + 0.5) / SAMPLES
                    y = row + (sy + 0.5) / SAMPLES
                    hits += in_swirl(x, y)
            line.append(hits * 2 >= SAMPLES * SAMPLES)
        rows.append(line)
    return rows


def ico_bytes():
    picture = pixels()
    xor_rows = []
    and_rows = []
    for line in reversed(picture):  # bitmaps are stored bottom row first
        nibbles = [RED if opaque else 0 for opaque in line]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for opaque in line:
            mask = (mask << 1) | (0 if opaque else 1)
        and_rows.append(mask.to_bytes(SIZE // 8, "big"))
    xor = b"".join(xor_rows)  # 16 bytes a row: already a multiple of 4
    and_mask = b"".join(and_rows)  # 4 bytes a row
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(and_mask),
                         0, 0, 16, 0)
    image = header + palette + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = argv[1] if len(argv) > 1 else os.path.join(root, "src", "app", "perlwick.ico")
    with open(output, "wb") as file:
        file.write(ico_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
