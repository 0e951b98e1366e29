#!/usr/bin/env python3
"""Writes ramtidy.ico: a memory chip whose body is the status window's bar, green to blue.
Three 32-bit images (16, 32 and 48 pixels). Run it again only to change the picture."""
import struct
import sys


def pixel(size, x, y):
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    body = 0.18 <= u <= 0.82 and 0.22 <= v <= 0.78
    pin_x = (0.05 <= u < 0.18 or 0.82 < u <= 0.95) and int(v * 8) % 2 == 1 and 0.22 <= v <= 0.78
    if body:
        edge = min(u - 0.18, 0.82 - u, v - 0.22, 0.78 - v) < 1.2 / size
        if edge:
            return (40, 40, 48, 255)
        t = (u - 0.18) / 0.64
        filled = t <= 0.7
        if filled:
            return (0, round(255 - 255 * t), round(255 * t), 255)  # the bar's green-to-blue
        return (255, 255, 255, 255)
    if pin_x:
        return (170, 170, 180, 255)
    return (0, 0, 0, 0)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = b""
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_stride = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_stride * size)  # the alpha channel decides; the mask stays clear
    return header + b"".join(rows) + mask


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ramtidy.ico")
