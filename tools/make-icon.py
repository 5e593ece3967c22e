#!/usr/bin/env python3
"""Draws the application icon and writes res/Wirenest.ico.

A phone with its USB data cable running to a USB plug, at 32 x 32 and
16 x 16, each 4 bits per pixel in the standard 16-colour palette with an AND
mask for the transparent background. Standard library only; the same bytes
on every run.

Usage: tools/make-icon.py [output path]   (default: res/Wirenest.ico)
"""

import os
import struct
import sys

# The standard 16-colour Windows palette, in palette order.
PALETTE = [
    (0x00, 0x00, 0x00),  # black
    (0x80, 0x00, 0x00),  # maroon
    (0x00, 0x80, 0x00),  # green
    (0x80, 0x80, 0x00),  # olive
    (0x00, 0x00, 0x80),  # navy
    (0x80, 0x00, 0x80),  # purple
    (0x00, 0x80, 0x80),  # teal
    (0xC0, 0xC0, 0xC0),  # silver
    (0x80, 0x80, 0x80),  # gray
    (0xFF, 0x00, 0x00),  # red
    (0x00, 0xFF, 0x00),  # lime
    (0xFF, 0xFF, 0x00),  # yellow
    (0x00, 0x00, 0xFF),  # blue
    (0xFF, 0x00, 0xFF),  # fuchsia
    (0x00, 0xFF, 0xFF),  # aqua
    (0xFF, 0xFF, 0xFF),  # white
]
BLACK, NAVY, TEAL, SILVER, GRAY, BLUE, AQUA, WHITE = 0, 4, 6, 7, 8, 12, 14, 15
CLEAR = None  # transparent: AND bit set, colour index 0


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def put(self, x, y, colour):
        self.pixels[y][x] = colour

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle x0..x1, y0..y1 (inclusive)."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def box(self, x0, y0, x1, y1, border, inside):
        self.fill(x0, y0, x1, y1, border)
        self.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, inside)

    def round_corners(self, x0, y0, x1, y1):
        for x, y in ((x0, y0), (x1, y0), (x0, y1), (x1, y1)):
            self.pixels[y][x] = CLEAR


def draw_32():
    c = Canvas(32)
    # Phone: navy body, lit left edge, earpiece, screen, keys.
    c.box(2, 1, 15, 26, BLACK, NAVY)
    c.round_corners(2, 1, 15, 26)
    c.fill(3, 2, 3, 25, BLUE)
    c.fill(7, 3, 10, 3, GRAY)
    c.box(4, 5, 13, 13, BLACK, AQUA)
    c.fill(5, 12, 12, 12, TEAL)
    c.fill(6, 7, 7, 7, WHITE)
    c.put(6, 8, WHITE)
    c.fill(4, 15, 5, 15, SILVER)
    c.fill(12, 15, 13, 15, SILVER)
    c.fill(7, 15, 10, 16, GRAY)
    for y in (18, 20, 22, 24):
        for x in (4, 8, 12):
            c.fill(x, y, x + 1, y, SILVER)
    c.fill(8, 26, 9, 26, GRAY)  # the phone's data socket
    # Cable: down out of the socket, along the bottom, up into the plug.
    c.fill(8, 27, 9, 28, BLACK)
    c.fill(9, 29, 25, 29, BLACK)
    c.fill(10, 30, 24, 30, BLACK)
    c.fill(24, 22, 25, 28, BLACK)
    # Plug, pointing up: strain relief, grip, metal shell with its two windows.
    c.fill(22, 21, 27, 21, BLACK)
    c.box(20, 12, 29, 20, BLACK, GRAY)
    c.fill(21, 13, 21, 19, SILVER)
    c.box(21, 3, 28, 12, BLACK, SILVER)
    c.fill(22, 4, 27, 4, WHITE)
    c.fill(23, 6, 23, 7, BLACK)
    c.fill(26, 6, 26, 7, BLACK)
    return c


def draw_16():
    c = Canvas(16)
    c.box(0, 0, 8, 13, BLACK, NAVY)
    c.round_corners(0, 0, 8, 13)
    c.fill(1, 1, 1, 12, BLUE)
    c.fill(2, 2, 6, 5, AQUA)
    c.fill(2, 5, 6, 5, TEAL)
    c.put(3, 3, WHITE)
    for y in (7, 9, 11):
        for x in (2, 4, 6):
            c.put(x, y, SILVER)
    # Cable, curving from the phone's foot up into the plug.
    c.put(4, 14, BLACK)
    c.fill(5, 15, 11, 15, BLACK)
    c.fill(12, 11, 12, 14, BLACK)
    c.box(10, 6, 15, 10, BLACK, GRAY)
    c.fill(11, 7, 11, 9, SILVER)
    c.box(11, 1, 14, 6, BLACK, SILVER)
    c.fill(12, 2, 13, 2, WHITE)
    return c


def image_bytes(canvas):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask."""
    n = canvas.size
    xor_stride = (n * 4 + 31) // 32 * 4
    and_stride = (n + 31) // 32 * 4
    xor_rows, and_rows = [], []
    for row in reversed(canvas.pixels):  # DIBs are stored bottom-up
        xor = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, colour in enumerate(row):
            if colour is CLEAR:
                mask[x // 8] |= 0x80 >> (x % 8)
                colour = 0
            xor[x // 2] |= colour << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    # biHeight counts the XOR and AND bitmaps together.
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, len(bits), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bits


def icon_file(canvases):
    images = [image_bytes(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.size, canvas.size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "res", "Wirenest.ico")
    with open(path, "wb") as f:
        f.write(icon_file([draw_32(), draw_16()]))


if __name__ == "__main__":
    main()
