#!/usr/bin/env python3
"""Draws the program's icon UDP_ICONS: one 32x32 image in 16 colours.

A dark-blue tile with two host dots on the left, one KLOR dot on the right,
and arrows fanning in between: datagrams from several channels, one way out.
Run it to regenerate resources/UdpServer.ico.
"""
import struct
import sys

# The standard 16-colour VGA palette (B, G, R, reserved).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # as (R, G, B)
BLACK, NAVY, WHITE, YELLOW, CYAN, GREEN, GREY = 0, 4, 15, 11, 14, 10, 8


def draw():
    px = [[NAVY] * 32 for _ in range(32)]
    for i in range(32):  # frame
        px[0][i] = px[31][i] = px[i][0] = px[i][31] = GREY

    def dot(cx, cy, r, colour):
        for y in range(32):
            for x in range(32):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    px[y][x] = colour

    def line(x0, y0, x1, y1, colour):
        steps = max(abs(x1 - x0), abs(y1 - y0))
        for s in range(steps + 1):
            px[round(y0 + (y1 - y0) * s / steps)][round(x0 + (x1 - x0) * s / steps)] = colour

    for y in (8, 16, 24):
        dot(6, y, 3, YELLOW)
        line(9, y, 21, 16, CYAN)
    dot(25, 16, 4, GREEN)
    for d in range(1, 4):  # arrow head into the KLOR dot
        px[16 - d][20 - d] = px[16 + d][20 - d] = WHITE
    return px


def ico(px):
    rows = []
    for y in reversed(range(32)):  # bottom-up
        row = bytes((px[y][x] << 4) | px[y][x + 1] for x in range(0, 32, 2))
        rows.append(row)
    xor = b"".join(rows)
    and_mask = b"\x00" * (4 * 32)  # fully opaque, rows padded to 32 bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(and_mask), 0, 0, 16, 0)
    image = header + palette + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22)
    return directory + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/UdpServer.ico"
    with open(out, "wb") as f:
        f.write(ico(draw()))
