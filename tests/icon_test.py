#!/usr/bin/env python3
"""Checks the program's icon: the committed file is what scripts/make_icon.py draws, and it
is a 32 x 32, 16-colour icon whose visible pixels are all pure red and form one shape."""

import os
import runpy
import struct
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ICON = os.path.join(ROOT, "src", "app", "perlwick.ico")


def load_generator():
    """The icon generator's functions, by name."""
    return runpy.run_path(os.path.join(ROOT, "scripts", "make_icon.py"), run_name="make_icon")


def read_icon(data):
    """Parses a one-image 4 bpp .ico: returns its directory entry, its header and its
    pixels as rows of (opaque, (r, g, b)), top row first."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind, count) == (0, 1, 1), "not a one-image icon file"
    width, height, colours, _, planes, bits, size, offset = struct.unpack_from(
        "<BBBBHHII", data, 6)
    entry = dict(width=width, height=height, colours=colours, planes=planes, bits=bits)
    assert offset + size == len(data), "image size or offset does not match the file"
    (header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, compression) = struct.unpack_from(
        "<IiiHHI", data, offset)
    header = dict(size=header_size, width=bmp_width, height=bmp_height, planes=bmp_planes,
                  bits=bmp_bits, compression=compression)
    palette_at = offset + header_size
    palette = [struct.unpack_from("<BBBB", data, palette_at + 4 * i)[2::-1] for i in range(16)]
    xor_at = palette_at + 16 * 4
    and_at = xor_at + 16 * 32
    rows = []
    for row in range(32):
        stored = 31 - row  # bottom row first
        line = []
        for column in range(32):
            byte = data[xor_at + stored * 16 + column // 2]
            index = byte >> 4 if column % 2 == 0 else byte & 0x0F
            transparent = (data[and_at + stored * 4 + column // 8] >> (7 - column % 8)) & 1
            line.append((not transparent, tuple(palette[index])))
        rows.append(line)
    return entry, header, rows


class IconTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ICON, "rb") as file:
            cls.data = file.read()
        cls.entry, cls.header, cls.rows = read_icon(cls.data)

    def test_committed_icon_is_the_generators_output(self):
        self.assertEqual(self.data, load_generator()["ico_bytes"](),
                         "src/app/perlwick.ico is stale: run scripts/make_icon.py")

    def test_is_32_by_32_in_16_colours(self):
        self.assertEqual(self.entry, dict(width=32, height=32, colours=16, planes=1, bits=4))
        # The bitmap's height counts the colour image and the transparency mask.
        self.assertEqual(self.header, dict(size=40, width=32, height=64, planes=1, bits=4,
                                           compression=0))

    def test_visible_pixels_are_pure_red_on_a_transparent_background(self):
        opaque = [colour for line in self.rows for (visible, colour) in line if visible]
        clear = [colour for line in self.rows for (visible, colour) in line if not visible]
        self.assertTrue(opaque and clear)
        self.assertEqual(set(opaque), {(255, 0, 0)})
        # Under the mask, a transparent pixel must be black to leave the screen unchanged.
        self.assertEqual(set(clear), {(0, 0, 0)})
        edge = self.rows[0] + self.rows[-1] + [line[0] for line in self.rows] + [
            line[-1] for line in self.rows]
        self.assertFalse(any(visible for (visible, _) in edge), "the swirl touches the edge")

    def test_swirl_is_one_connected_stroke_with_a_hole(self):
        visible = {(r, c) for r, line in enumerate(self.rows)
                   for c, (opaque, _) in enumerate(line) if opaque}

        def components(cells, neighbours):
            seen, count = set(), 0
            for start in cells:
                if start in seen:
                    continue
                count += 1
                stack = [start]
                seen.add(start)
                while stack:
                    r, c = stack.pop()
                    for dr, dc in neighbours:
                        cell = (r + dr, c + dc)
                        if cell in cells and cell not in seen:
                            seen.add(cell)
                            stack.append(cell)
            return count

        eight = [(dr, dc) for dr in (-1, 0, 1) for dc in (-1, 0, 1) if (dr, dc) != (0, 0)]
        four = [(-1, 0), (1, 0), (0, -1), (0, 1)]
        self.assertEqual(components(visible, eight), 1)
        # The at sign's bowl encloses background that the outside cannot reach.
        background = {(r, c) for r in range(32) for c in range(32)} - visible
        self.assertGreaterEqual(components(background, four), 2)


if __name__ == "__main__":
    sys.exit(unittest.main())
