#!/usr/bin/env python3
"""Draws the 24x24 pass and fail marks of the results dialog as RGBA PNG files."""
import math
import struct
import sys
import zlib

SIZE = 24


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def draw(segments, colour, width=2.6):
    rows = []
    for y in range(SIZE):
        row = bytearray([0])  # filter type: none
        for x in range(SIZE):
            # Four samples per pixel give soft edges.
            cover = 0
            for sx, sy in ((0.25, 0.25), (0.75, 0.25), (0.25, 0.75), (0.75, 0.75)):
                d = min(segment_distance(x + sx, y + sy, *s) for s in segments)
                cover += 1 if d <= width / 2 else 0
            row += bytes(colour) + bytes([cover * 255 // 4])
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def main(directory):
    check = draw([(4, 13, 9.5, 18.5), (9.5, 18.5, 20, 6)], (0x1E, 0x9E, 0x3A))
    cross = draw([(5.5, 5.5, 18.5, 18.5), (18.5, 5.5, 5.5, 18.5)], (0xD0, 0x2A, 0x2A))
    with open(f"{directory}/checkmark24.png", "wb") as out:
        out.write(png(check))
    with open(f"{directory}/xmark24.png", "wb") as out:
        out.write(png(cross))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
