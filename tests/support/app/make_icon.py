#!/usr/bin/env python3
"""Writes a small 32x32 icon (a green quill-coloured square with a dark border) for the stand-ins."""
import struct
import sys

SIZE = 32


def pixel(x, y):
    border = x in (0, SIZE - 1) or y in (0, SIZE - 1)
    return (0x20, 0x40, 0x20, 0xFF) if border else (0x40, 0xA0, 0x30 + x * 4, 0xFF)  # B, G, R, A


def main(path):
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up, as in a bitmap
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
    colour = b"".join(rows)
    mask = b"\x00" * (SIZE // 8) * SIZE  # all opaque; rows of 32 pixels are already 4-byte aligned
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    with open(path, "wb") as out:
        out.write(directory + image)


if __name__ == "__main__":
    main(sys.argv[1])
