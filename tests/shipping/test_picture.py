#!/usr/bin/env python3
"""Runs scripts/screenshot once and checks what it made: a PNG of the size
of the plug-in's menu with a submenu open, with text on it.

Usage: test_picture.py OUTPUT.png   (the environment variable
QUILLET_BUILD_DIR names the build whose DLL the script loads)
"""
import os
import struct
import subprocess
import sys
import zlib

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def main(output):
    if os.path.exists(output):
        os.remove(output)
    # Without a Japanese font the labels come out as empty boxes.
    fonts = subprocess.run(["fc-list", ":lang=ja", "family"], capture_output=True, text=True)
    if fonts.returncode != 0 or not fonts.stdout.strip():
        fail("no Japanese font is installed (fc-list :lang=ja)")
    run = subprocess.run([os.path.join(TOP, "scripts", "screenshot"), output])
    if run.returncode != 0:
        fail("scripts/screenshot exited with %d" % run.returncode)
    data = open(output, "rb").read()
    if not data.startswith(b"\x89PNG\r\n\x1a\n") or data[12:16] != b"IHDR":
        fail("not a PNG")
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    print("picture: %dx%d, %d bytes" % (width, height, len(data)))
    # The main menu and one submenu side by side, each a few rows of text.
    if not (150 <= width <= 800 and 100 <= height <= 600):
        fail("%dx%d is not the size of the menu with a submenu open" % (width, height))
    if not 1000 <= len(data) <= 300000:
        fail("%d bytes is not a plausible size" % len(data))
    if (depth, colour) != (8, 2):
        fail("not 8-bit RGB")
    # The pixels: a light menu with dark text and a highlighted row.
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + 3 * width
    if len(raw) != stride * height:
        fail("the image data does not match its size")
    pixels = [raw[y * stride + 1 + 3 * x:y * stride + 4 + 3 * x]
              for y in range(height) for x in range(width)]
    dark = sum(1 for p in pixels if max(p) < 96)
    light = sum(1 for p in pixels if min(p) > 192)
    if not (light > len(pixels) // 3 and dark > len(pixels) // 100):
        fail("%d light and %d dark pixels: no menu text on a menu" % (light, dark))
    print("picture: ok")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
