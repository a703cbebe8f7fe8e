#!/usr/bin/env python3
"""Writes the application icon (resources/launcher.ico): a cup on a blue tile,
in 16x16 and 32x32, 32-bit BGRA.  Run it again only to change the icon."""
import struct
import sys


def pixel(x, y, size):
    s = size / 32.0
    # Blue rounded tile.
    m = 1 * s
    if x < m or y < m or x >= size - m or y >= size - m:
        return (0, 0, 0, 0)
    bg = (0xB0, 0x5A, 0x1E, 0xFF)  # BGR of a deep blue
    cup = (0xF5, 0xF5, 0xF5, 0xFF)
    cx, cy = x / s, y / s
    # Cup body and handle.
    if 9 <= cx < 21 and 13 <= cy < 25:
        return cup
    if 21 <= cx < 25 and 15 <= cy < 21 and not (22 <= cx < 24 and 17 <= cy < 19):
        return cup
    # Saucer.
    if 7 <= cx < 25 and 25 <= cy < 27:
        return cup
    # Steam.
    if cx in (12, 15, 18) and 6 <= cy < 11:
        return cup
    return bg


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
    mask_row = b"\x00" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main(out):
    images = [image(16), image(32)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip((16, 32), images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/launcher.ico")
