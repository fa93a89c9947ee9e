#!/usr/bin/env python3
"""Draws the installer's icon (a fern-frond quill on a dark rounded square) into fernquill.ico.

Standard library only: every size is rendered on its own with 4x4 supersampling, stored as a
32-bit RGBA PNG, and the PNGs are packed into one .ico container. The output is deterministic,
so regenerating it without changes gives the same bytes.

    python3 res/make_icon.py [output.ico]
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SUPERSAMPLE = 4

# Shape coordinates are in a unit square, y pointing down.
CORNER_RADIUS = 0.22
INSET = 0.02
BACKGROUND_TOP = (40, 52, 74)
BACKGROUND_BOTTOM = (18, 21, 30)
RIM = (86, 104, 138)
RIM_WIDTH = 0.018
LEAF_LIGHT = (132, 226, 150)
LEAF_DARK = (38, 150, 88)
STEM = (214, 240, 200)
NIB = (236, 198, 108)
NIB_SHADE = (176, 134, 54)
SLIT = (40, 32, 22)

# The quill's shaft: a quadratic curve from the nib (lower left) to the tip (upper right).
P0 = (0.27, 0.78)
P1 = (0.40, 0.36)
P2 = (0.82, 0.17)


def bezier(t):
    u = 1.0 - t
    return (u * u * P0[0] + 2 * u * t * P1[0] + t * t * P2[0],
            u * u * P0[1] + 2 * u * t * P1[1] + t * t * P2[1])


def tangent(t):
    dx = 2 * (1 - t) * (P1[0] - P0[0]) + 2 * t * (P2[0] - P1[0])
    dy = 2 * (1 - t) * (P1[1] - P0[1]) + 2 * t * (P2[1] - P1[1])
    length = math.hypot(dx, dy)
    return dx / length, dy / length


class Ellipse:
    """A rotated ellipse with a precomputed bounding box, carrying its position along the shaft."""

    def __init__(self, centre, direction, a, b, shade):
        self.cx, self.cy = centre
        self.ux, self.uy = direction
        self.a2 = 1.0 / (a * a)
        self.b2 = 1.0 / (b * b)
        reach = max(a, b)
        self.box = (self.cx - reach, self.cy - reach, self.cx + reach, self.cy + reach)
        self.shade = shade

    def contains(self, x, y):
        if x < self.box[0] or x > self.box[2] or y < self.box[1] or y > self.box[3]:
            return False
        dx, dy = x - self.cx, y - self.cy
        along = dx * self.ux + dy * self.uy
        across = -dx * self.uy + dy * self.ux
        return along * along * self.a2 + across * across * self.b2 <= 1.0


def build_leaflets():
    leaflets = []
    count = 13
    for i in range(count):
        t = 0.16 + 0.80 * i / (count - 1)
        cx, cy = bezier(t)
        tx, ty = tangent(t)
        # Leaflets grow from the nib end, are longest in the lower middle and shrink to the tip.
        envelope = math.sin(math.pi * min(1.0, (t - 0.08) / 0.95)) ** 0.7
        length = 0.075 + 0.16 * envelope
        for side in (-1.0, 1.0):
            nx, ny = -ty * side, tx * side
            # Swept toward the tip like a feather's barbs.
            dx, dy = nx + tx * 0.85, ny + ty * 0.85
            norm = math.hypot(dx, dy)
            dx, dy = dx / norm, dy / norm
            centre = (cx + dx * length * 0.5, cy + dy * length * 0.5)
            # Neighbouring pinnae alternate in shade so the frond reads as a fern, not a plain vane.
            shade = t if i % 2 == 0 else t * 0.55
            leaflets.append(Ellipse(centre, (dx, dy), length * 0.55, length * 0.19, shade))
    return leaflets


LEAFLETS = build_leaflets()
SHAFT = [bezier(i / 40.0) for i in range(41)]


def near_shaft(x, y):
    """Distance test against the shaft, which tapers from the nib to the tip; returns t or None."""
    best = None
    for i in range(len(SHAFT) - 1):
        ax, ay = SHAFT[i]
        bx, by = SHAFT[i + 1]
        if x < min(ax, bx) - 0.03 or x > max(ax, bx) + 0.03:
            continue
        if y < min(ay, by) - 0.03 or y > max(ay, by) + 0.03:
            continue
        vx, vy = bx - ax, by - ay
        s = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
        d = math.hypot(x - ax - s * vx, y - ay - s * vy)
        t = (i + s) / 40.0
        if d <= 0.016 * (1.0 - 0.6 * t) and (best is None or t < best):
            best = t
    return best


def in_rounded_square(x, y, inset, radius):
    lo, hi = inset, 1.0 - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def nib_colour(x, y):
    """The steel-pen nib below the shaft: a pointed kite with a dark slit; None outside it."""
    tx, ty = tangent(0.0)
    # Local frame: 'along' runs from the shaft's start back toward the nib's point.
    dx, dy = x - P0[0], y - P0[1]
    along = -(dx * tx + dy * ty)
    across = -dx * ty + dy * tx
    length = 0.2
    if along < -0.02 or along > length:
        return None
    if along < 0.05:
        half = 0.045 + (along + 0.02) * 0.25
    else:
        half = 0.0625 * (length - along) / (length - 0.05)
    if abs(across) > half:
        return None
    if abs(across) < 0.007 and 0.06 < along < length - 0.01:
        return SLIT
    if 0.06 < along < 0.1 and abs(across) < 0.018 and (along - 0.08) ** 2 + across ** 2 < 0.016 ** 2:
        return SLIT
    return NIB if across < 0 else NIB_SHADE


def mix(a, b, f):
    return tuple(a[i] + (b[i] - a[i]) * f for i in range(3))


def sample(x, y):
    """RGBA (0..255, straight alpha) of one point of the artwork."""
    if not in_rounded_square(x, y, INSET, CORNER_RADIUS):
        return None
    colour = nib_colour(x, y)
    if colour is not None:
        return colour
    t = near_shaft(x, y)
    if t is not None:
        return STEM
    for leaflet in LEAFLETS:
        if leaflet.contains(x, y):
            return mix(LEAF_DARK, LEAF_LIGHT, leaflet.shade)
    if not in_rounded_square(x, y, INSET + RIM_WIDTH, CORNER_RADIUS - RIM_WIDTH):
        return RIM
    return mix(BACKGROUND_TOP, BACKGROUND_BOTTOM, y)


def render(size):
    rows = []
    n = SUPERSAMPLE
    weight = 1.0 / (n * n)
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    colour = sample(x, y)
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 1.0
            if a == 0:
                row += b"\0\0\0\0"
            else:
                row += bytes((round(r / a), round(g / a), round(b / a), round(a * weight * 255)))
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + row for row in rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for size, blob in images:
        dim = 0 if size >= 256 else size  # 0 means 256 in the container
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    return directory + entries + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "fernquill.ico")
    images = [(size, png(size, render(size))) for size in SIZES]
    with open(target, "wb") as out:
        out.write(ico(images))
    print(f"{target}: {', '.join(str(s) for s, _ in images)} px")


if __name__ == "__main__":
    main()
