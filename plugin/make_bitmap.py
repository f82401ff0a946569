#!/usr/bin/env python3
"""Writes quillet.bmp, the plug-in's 16x16 toolbar picture: four text lines,
the lower three indented, each indent level shown by a blue tab mark.

8 bits per pixel, uncompressed (BI_RGB), bottom-up rows, 256-entry palette.
Run it again after changing the picture: python3 make_bitmap.py
"""
import os
import struct

PICTURE = [  # top row first; . background, # text, + indent mark
    "................",
    "................",
    ".############...",
    ".############...",
    "................",
    "................",
    ".++..##########.",
    ".++..##########.",
    "................",
    "................",
    ".++..++..######.",
    ".++..++..######.",
    "................",
    ".++..#######....",
    ".++..#######....",
    "................",
]
COLOURS = {".": (192, 192, 192), "#": (48, 48, 48), "+": (0, 64, 208)}


def main():
    keys = list(COLOURS)
    palette = [COLOURS[k] for k in keys] + [(0, 0, 0)] * (256 - len(keys))
    width, height = len(PICTURE[0]), len(PICTURE)
    stride = (width + 3) // 4 * 4
    pixels = b"".join(
        bytes(keys.index(c) for c in row).ljust(stride, b"\0") for row in reversed(PICTURE))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835,
                       256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quillet.bmp")
    with open(path, "wb") as out:
        out.write(header + info + colours + pixels)


if __name__ == "__main__":
    main()
