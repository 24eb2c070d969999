#!/usr/bin/env python3
"""Draws the program's small images (icons and the index highlight bar) as PNG.

Run from this folder; the PNG files are committed, this script documents how they
were made. Shapes are sampled 4x4 per pixel for smooth edges.
"""
import math
import struct
import zlib

SS = 4  # samples per pixel edge


def png(path, width, height, pixel):
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    r, g, b, a = pixel(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SS * SS
            alpha = acc[3] / n
            if acc[3] > 0:
                rgb = [int(round(c / acc[3])) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row += bytes(rgb + [int(round(alpha * 255))])
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw, 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


CLEAR = (0, 0, 0, 0.0)


def mix(c1, c2, t):
    return tuple(c1[i] + (c2[i] - c1[i]) * t for i in range(3))


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return x0 <= x <= x1 and y0 <= y <= y1 and (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# Highlight bar of the page index: blue, lighter at the top, round ends.
BAR_H = 24
BAR_TOP = (56, 114, 192)
BAR_BOTTOM = (30, 82, 160)


def bar_colour(y):
    return mix(BAR_TOP, BAR_BOTTOM, y / BAR_H) + (1.0,)


def bar_left(x, y):
    return bar_colour(y) if rounded_rect(x, y, 0, 0, 24, BAR_H, 5) else CLEAR


def bar_right(x, y):
    return bar_colour(y) if rounded_rect(x, y, -18, 0, 6, BAR_H, 5) else CLEAR


def bar_middle(x, y):
    return bar_colour(y)


# Application icon: a blue tile with a white page and a check mark.
def manager(x, y):
    if not rounded_rect(x, y, 0.5, 0.5, 15.5, 15.5, 3):
        return CLEAR
    colour = mix((80, 140, 215), (30, 80, 160), y / 16) + (1.0,)
    if 4 <= x <= 12 and 3 <= y <= 13:
        colour = (250, 250, 250, 1.0)
        # check mark: two strokes
        d1 = abs((y - 8.5) - (x - 5.5)) / math.sqrt(2)
        d2 = abs((y - 10.5) + (x - 7.5)) / math.sqrt(2)
        if (5.5 <= x <= 7.6 and d1 < 0.9) or (7.4 <= x <= 11 and d2 < 0.9):
            colour = (40, 140, 60, 1.0)
    return colour


def folder_open(x, y):
    back = (196, 150, 40, 1.0)
    front = mix((255, 214, 102), (235, 170, 40), (y - 9) / 12) + (1.0,)
    # front flap, slanted
    if 9 <= y <= 20 and (2 + (20 - y) * 0.25) <= x <= (22 - (20 - y) * 0.05):
        return front
    if rounded_rect(x, y, 2, 4, 19, 20, 1.5) or rounded_rect(x, y, 2, 3, 10, 7, 1.5):
        return back
    return CLEAR


def document_search(x, y):
    # magnifier lens and handle over a page
    lens = math.hypot(x - 13, y - 12)
    if 4.2 <= lens <= 5.8:
        return (60, 60, 70, 1.0)
    if lens < 4.2:
        return (190, 220, 250, 1.0)
    if 16.5 <= x <= 22 and 15.5 <= y <= 22 and abs((x - 16.5) - (y - 15.5)) < 1.6:
        return (60, 60, 70, 1.0)
    if 3 <= x <= 17 and 1.5 <= y <= 21:
        if x <= 3.8 or x >= 16.2 or y <= 2.3 or y >= 20.2:
            return (120, 120, 130, 1.0)
        if int(y) in (6, 9, 12, 15, 18) and 5.5 <= x <= 14.5:
            return (170, 170, 180, 1.0)
        return (255, 255, 255, 1.0)
    return CLEAR


def cd(x, y):
    r = math.hypot(x - 12, y - 12)
    if r > 11:
        return CLEAR
    if r >= 10.3:
        return (110, 110, 120, 1.0)
    if r < 2.2:
        return CLEAR
    if r < 3.0:
        return (110, 110, 120, 1.0)
    angle = math.atan2(y - 12, x - 12)
    shine = 0.5 + 0.5 * math.cos(2 * angle)
    return mix((200, 205, 215), (245, 245, 250), shine) + (1.0,)


if __name__ == "__main__":
    png("left.png", 6, BAR_H, bar_left)
    png("middle.png", 1, BAR_H, bar_middle)
    png("right.png", 6, BAR_H, bar_right)
    png("manager_16x16.png", 16, 16, manager)
    png("folder_open_24x24.png", 24, 24, folder_open)
    png("document_search_24x24.png", 24, 24, document_search)
    png("cd_24x24.png", 24, 24, cd)
