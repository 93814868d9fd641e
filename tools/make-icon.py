#!/usr/bin/env python3
"""Draws the program's icon UDP_ICONS: 16, 32 and 48 pixel images in 32-bit
colour and a 256 pixel PNG image, all from one drawing.

A dark-blue tile with three host dots on the left, one KLOR dot on the right,
and lines fanning in between to an arrow head: datagrams from several
channels, one way out. The drawing is laid out on a 32 by 32 grid and
sampled at each size (4 by 4 samples a pixel, so edges are smooth).
Run it to regenerate resources/UdpServer.ico.
"""
import math
import struct
import sys
import zlib

NAVY, GREY, YELLOW, CYAN, GREEN, WHITE = (0, 0, 128), (128, 128, 128), (255, 255, 0), (0, 255, 255), (0, 255, 0), \
    (255, 255, 255)
SIZES = (16, 32, 48, 256)


def near_segment(u, v, x0, y0, x1, y1, half_width):
    dx, dy = x1 - x0, y1 - y0
    s = max(0.0, min(1.0, ((u - x0) * dx + (v - y0) * dy) / (dx * dx + dy * dy)))
    return math.hypot(u - x0 - s * dx, v - y0 - s * dy) <= half_width


def colour_at(u, v):
    """The drawing's colour at a point of the 32 by 32 grid; later shapes lie
    over earlier ones."""
    if u < 1 or v < 1 or u >= 31 or v >= 31:
        return GREY  # frame
    colour = NAVY
    for y in (8, 16, 24):
        if math.hypot(u - 6.5, v - y - 0.5) <= 3.5:
            colour = YELLOW  # host
        if near_segment(u, v, 9.5, y + 0.5, 21.5, 16.5, 0.6):
            colour = CYAN
    if math.hypot(u - 25.5, v - 16.5) <= 4.5:
        colour = GREEN  # KLOR
    for end in (13.5, 19.5):  # arrow head into the KLOR dot
        if near_segment(u, v, 20.5, 16.5, 17.5, end, 0.6):
            colour = WHITE
    return colour


def draw(size, samples=4):
    """Rows of (R, G, B) pixels, top row first."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) * 32 / size, (y + (sy + 0.5) / samples) * 32 / size)
                    total = [t + part for t, part in zip(total, c)]
            row.append(tuple(round(t / samples ** 2) for t in total))
        rows.append(row)
    return rows


def bitmap(size, rows):
    """An icon image as a 32-bit DIB: BGRA rows bottom-up, then an AND mask of
    zeros (opaque) with rows padded to 32 bits."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, 255)) for row in reversed(rows) for (r, g, b) in row)
    mask = b"\x00" * (((size + 31) // 32) * 4 * size)
    return header + pixels + mask


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\x00" + bytes(part for pixel in row for part in (*pixel, 255)) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico():
    images = [(size, png(size, draw(size)) if size == 256 else bitmap(size, draw(size))) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        side = size % 256  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return directory + entries + data


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/UdpServer.ico"
    with open(out, "wb") as f:
        f.write(ico())
