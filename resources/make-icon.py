#!/usr/bin/env python3
"""Draws Corvane's program icon: one 32 x 32 image, 24 bits per pixel, written as corvane.ico.

A blue tile with a white sheet (the type library) and a green tick (registered). The icon is
drawn from these rules alone, so running the script again gives the same file byte for byte.
"""
import os
import struct

SIZE = 32
BLUE = (0x1F, 0x4E, 0x9C)
WHITE = (0xFF, 0xFF, 0xFF)
GREY = (0x9A, 0xA4, 0xB2)
GREEN = (0x1E, 0xA0, 0x3C)


def colour_at(x, y):
    # Tick: two thick strokes, checked first so that it lies on top of the sheet.
    def near(ax, ay, bx, by, width):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= width ** 2

    if near(15, 22, 19, 26, 1.8) or near(19, 26, 27, 14, 1.8):
        return GREEN
    # Sheet with a folded corner and three text lines.
    if 8 <= x <= 22 and 5 <= y <= 26:
        if x + (y - 5) > 22 - 0 and y < 10 and x > 17:
            return GREY if x + (y - 5) == 23 else BLUE
        if y in (11, 15, 19) and 11 <= x <= 19:
            return GREY
        return WHITE
    # Rounded tile.
    corner = 4
    cx = min(max(x, corner), SIZE - 1 - corner)
    cy = min(max(y, corner), SIZE - 1 - corner)
    if (x - cx) ** 2 + (y - cy) ** 2 <= corner ** 2:
        return BLUE
    return None  # transparent


def icon_bytes():
    rows = []
    mask_rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        row = bytearray()
        mask = 0
        for x in range(SIZE):
            c = colour_at(x, y)
            if c is None:
                row += bytes((0, 0, 0))
                mask |= 1 << (SIZE - 1 - x)
            else:
                r, g, b = c
                row += bytes((b, g, r))
        rows.append(bytes(row))
        mask_rows.append(struct.pack(">I", mask))
    pixels = b"".join(rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    image = header + pixels
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corvane.ico")
    with open(out, "wb") as f:
        f.write(icon_bytes())
