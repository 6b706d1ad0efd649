#!/usr/bin/env python3
"""Writes the product icon of Contoso 翻译: a blue rounded square with a white
ring open to the right, at 16, 32 and 48 pixels (32-bit BMP entries)."""
import math
import struct
import sys


def pixels(size):
    rows = []
    r_out, r_in = size * 0.36, size * 0.22
    c = (size - 1) / 2.0
    corner = size * 0.2
    for y in range(size - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(size):
            # Rounded square mask.
            dx = max(corner - x, 0, x - (size - 1 - corner))
            dy = max(corner - y, 0, y - (size - 1 - corner))
            inside = math.hypot(dx, dy) <= corner
            if not inside:
                row += bytes((0, 0, 0, 0))
                continue
            d = math.hypot(x - c, y - c)
            angle = math.degrees(math.atan2(c - y, x - c))
            ring = r_in <= d <= r_out and not (-40 <= angle <= 40)
            row += bytes((255, 255, 255, 255)) if ring else bytes((200, 120, 30, 255))  # BGRA
        rows.append(bytes(row))
    return b"".join(rows)


def entry_image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + pixels(size) + bytes(mask_row * size)


def main(out):
    sizes = (16, 32, 48)
    images = [entry_image(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
