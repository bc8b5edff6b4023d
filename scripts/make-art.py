#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Deckrun's pictures and writes them in the formats the program and the
desktop expect. Plain Python, no imaging library: the files are small and the
shapes simple.

    scripts/make-art.py            # rewrites the files under dist/

Writes
  dist/HAND-M.CUR                          the hand pointer over the buttons (Windows cursor)
  dist/drag.ico                            the pointer while rows are dragged in the list
  dist/x/down.png                          the drop-down arrow of the skin
  dist/icons/hicolor/<n>x<n>/apps/*.png    the application icon, n = 16 ... 256
  dist/icons/hicolor/scalable/apps/*.svg   the same icon as SVG
  dist/icons/deckrun.ico                   the same icon for Windows (16 ... 256 in one file)
"""

import math
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dist")
ICON_NAME = "example.deckrun.Deckrun"
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

# ---------------------------------------------------------------- file formats


def png_bytes(width, height, rgba_rows):
    """rgba_rows: list of rows, each a list of (r, g, b, a)."""
    raw = bytearray()
    for row in rgba_rows:
        raw.append(0)
        for px in row:
            raw.extend(px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def dib_bytes(size, rgba_rows):
    """A 32-bit BMP image with its AND mask, as .ico and .cur files hold it."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(rgba_rows):  # bottom-up
        for r, g, b, a in row:
            xor.extend((b, g, r, a))
    mask = bytearray()
    stride = ((size + 31) // 32) * 4
    for row in reversed(rgba_rows):
        bits = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] == 0:  # transparent: screen shows through
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.extend(bits)
    return header + bytes(xor) + bytes(mask)


def icon_file(size, rgba_rows, hotspot=None):
    """An .ico file, or a .cur file when a hotspot (x, y) is given."""
    image = dib_bytes(size, rgba_rows)
    kind = 2 if hotspot else 1
    field1, field2 = hotspot if hotspot else (1, 32)  # planes/bit count, or the hotspot
    directory = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, field1, field2, len(image), 6 + 16)
    return directory + entry + image


def multi_icon_file(images):
    """An .ico file holding several sizes, each a PNG image: images is a list of (size, png)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    entries = bytearray()
    data = bytearray()
    offset = 6 + 16 * len(images)
    for size, image in images:
        entries.extend(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                                   offset + len(data)))
        data.extend(image)
    return directory + bytes(entries) + bytes(data)


# ---------------------------------------------------------------- pixel art

HAND = [
    # The pointing hand; the fingertip (hotspot) is the first K of the top row.
    "..........KK....................",
    ".........KWWK...................",
    "........KWWWWK..................",
    "........KWWWWK..................",
    "........KWWWWK..................",
    "........KWWWWK..................",
    "........KWWWWKKK................",
    "........KWWWWKWWKKK.............",
    "........KWWWWKWWKWWKKK..........",
    "........KWWWWKWWKWWKWWK.........",
    "..KKK...KWWWWKWWKWWKWWWK........",
    ".KWWWK..KWWWWWWWWWWWWWWK........",
    ".KWWWWK.KWWWWWWWWWWWWWWK........",
    "..KWWWWKKWWWWWWWWWWWWWWK........",
    "...KWWWWKWWWWWWWWWWWWWWK........",
    "...KWWWWWWWWWWWWWWWWWWWK........",
    "....KWWWWWWWWWWWWWWWWWWK........",
    "....KWWWWWWWWWWWWWWWWWWK........",
    ".....KWWWWWWWWWWWWWWWWK.........",
    ".....KWWWWWWWWWWWWWWWWK.........",
    "......KWWWWWWWWWWWWWWK..........",
    "......KWWWWWWWWWWWWWWK..........",
    ".......KWWWWWWWWWWWWK...........",
    ".......KWWWWWWWWWWWWK...........",
    ".......KKKKKKKKKKKKKK...........",
]
HAND_COLOURS = {".": (0, 0, 0, 0), "K": (0, 0, 0, 255), "W": (255, 255, 255, 255)}


def pixel_art(rows, colours, size=32):
    out = []
    for y in range(size):
        line = rows[y] if y < len(rows) else ""
        line = line.ljust(size, ".")
        out.append([colours[c] for c in line[:size]])
    return out


def hand_hotspot():
    return HAND[0].index("K"), 0


# ---------------------------------------------------------------- vector drawing
# Shapes in a 64 by 64 design space, filled and stroked, rasterised with 4 by 4
# samples per pixel. The same list is written out as SVG.


def hex_rgba(text, alpha=255):
    return (int(text[1:3], 16), int(text[3:5], 16), int(text[5:7], 16), alpha)


class RoundRect:
    def __init__(self, x0, y0, x1, y1, r, fill, stroke=None, width=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.fill, self.stroke, self.width = fill, stroke, width
        self.box = (x0 - width, y0 - width, x1 + width, y1 + width)

    def distance(self, x, y):
        cx, cy = (self.x0 + self.x1) / 2, (self.y0 + self.y1) / 2
        hx, hy = (self.x1 - self.x0) / 2 - self.r, (self.y1 - self.y0) / 2 - self.r
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - self.r

    def svg(self):
        return (f'<rect x="{self.x0}" y="{self.y0}" width="{self.x1 - self.x0}" '
                f'height="{self.y1 - self.y0}" rx="{self.r}"{svg_paint(self)}/>')


class Circle:
    def __init__(self, cx, cy, r, fill, stroke=None, width=0.0):
        self.cx, self.cy, self.r = cx, cy, r
        self.fill, self.stroke, self.width = fill, stroke, width
        self.box = (cx - r - width, cy - r - width, cx + r + width, cy + r + width)

    def distance(self, x, y):
        return math.hypot(x - self.cx, y - self.cy) - self.r

    def svg(self):
        return f'<circle cx="{self.cx}" cy="{self.cy}" r="{self.r}"{svg_paint(self)}/>'


class Polygon:
    """A convex polygon, points clockwise in screen coordinates."""

    def __init__(self, points, fill, stroke=None, width=0.0):
        self.points, self.fill, self.stroke, self.width = points, fill, stroke, width
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        self.box = (min(xs) - width, min(ys) - width, max(xs) + width, max(ys) + width)
        self.edges = []
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            nx, ny = by - ay, -(bx - ax)
            length = math.hypot(nx, ny)
            self.edges.append((ax, ay, nx / length, ny / length))

    def distance(self, x, y):
        return max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in self.edges)

    def svg(self):
        pts = " ".join(f"{x},{y}" for x, y in self.points)
        return f'<polygon points="{pts}"{svg_paint(self)} stroke-linejoin="round"/>'


def svg_paint(shape):
    def colour(c):
        return "#%02x%02x%02x" % c[:3]

    text = f' fill="{colour(shape.fill)}"' if shape.fill else ' fill="none"'
    if shape.fill and shape.fill[3] < 255:
        text += f' fill-opacity="{shape.fill[3] / 255:.3f}"'
    if shape.stroke:
        text += f' stroke="{colour(shape.stroke)}" stroke-width="{shape.width}"'
    return text


def rasterise(shapes, size, design=64.0, samples=4):
    scale = design / size
    rows = []
    offsets = [(i + 0.5) / samples for i in range(samples)]
    for py in range(size):
        row = []
        for px in range(size):
            ar = ag = ab = aa = 0.0
            for oy in offsets:
                for ox in offsets:
                    x, y = (px + ox) * scale, (py + oy) * scale
                    r = g = b = a = 0.0  # premultiplied, painted back to front
                    for s in shapes:
                        bx0, by0, bx1, by1 = s.box
                        if x < bx0 - 1 or x > bx1 + 1 or y < by0 - 1 or y > by1 + 1:
                            continue
                        d = s.distance(x, y)
                        layers = []
                        if s.fill and d <= 0:
                            layers.append(s.fill)
                        if s.stroke and abs(d) <= s.width / 2:
                            layers.append(s.stroke)
                        for cr, cg, cb, ca in layers:
                            k = ca / 255.0
                            r, g, b, a = cr * k + r * (1 - k), cg * k + g * (1 - k), cb * k + b * (1 - k), k + a * (1 - k)
                    ar, ag, ab, aa = ar + r, ag + g, ab + b, aa + a
            n = samples * samples
            alpha = aa / n
            if alpha <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(ar / n / alpha), round(ag / n / alpha), round(ab / n / alpha), round(alpha * 255)))
        rows.append(row)
    return rows


def svg_document(shapes, design=64):
    body = "\n  ".join(s.svg() for s in shapes)
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{design}" height="{design}" '
            f'viewBox="0 0 {design} {design}">\n  {body}\n</svg>\n')


BLUE_DARK = hex_rgba("#1f4e8c")
BLUE = hex_rgba("#3a7bd5")
ORANGE = hex_rgba("#e06c1f")
ORANGE_DARK = hex_rgba("#a34a10")
WHITE = hex_rgba("#ffffff")

# The application icon: a deck of slides with a "run" badge.
APP_ICON = [
    RoundRect(20, 5, 60, 35, 3, hex_rgba("#b7cbe8"), BLUE_DARK, 2),
    RoundRect(12, 12, 52, 42, 3, hex_rgba("#d6e2f3"), BLUE_DARK, 2),
    RoundRect(4, 19, 44, 49, 3, hex_rgba("#f7f9fc"), BLUE_DARK, 2),
    RoundRect(9, 24, 39, 29, 1, BLUE),
    RoundRect(9, 33, 31, 35.5, 1, hex_rgba("#9fb3cf")),
    RoundRect(9, 38.5, 27, 41, 1, hex_rgba("#9fb3cf")),
    Circle(47, 47, 14, ORANGE, WHITE, 2.5),
    Polygon([(42, 39.5), (56, 47), (42, 54.5)], WHITE),
]

# The drag pointer: a page with arrows up and down beside it.
DRAG_ICON = [
    RoundRect(5, 4, 37, 46, 2.5, hex_rgba("#ffffff"), BLUE_DARK, 3),
    RoundRect(11, 13, 31, 16, 1, BLUE),
    RoundRect(11, 21, 31, 24, 1, hex_rgba("#9fb3cf")),
    RoundRect(11, 29, 27, 32, 1, hex_rgba("#9fb3cf")),
    RoundRect(11, 37, 29, 40, 1, hex_rgba("#9fb3cf")),
    Polygon([(50, 6), (61, 20), (39, 20)], ORANGE, ORANGE_DARK, 1.5),
    RoundRect(46, 19, 54, 45, 0, ORANGE, None),
    Polygon([(61, 44), (50, 58), (39, 44)], ORANGE, ORANGE_DARK, 1.5),
]


# The drop-down arrow of the skin's selectors, drawn at twice its size.
DOWN_ARROW = [Polygon([(2, 2), (62, 2), (32, 36)], hex_rgba("#1f4e8c"))]


def write(path, data):
    full = os.path.join(ROOT, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)
    print("wrote", os.path.relpath(full))


def main():
    write("HAND-M.CUR", icon_file(32, pixel_art(HAND, HAND_COLOURS), hotspot=hand_hotspot()))
    write("drag.ico", icon_file(32, rasterise(DRAG_ICON, 32)))
    write("x/down.png", png_bytes(20, 12, [row[:20] for row in rasterise(DOWN_ARROW, 20, design=64)[:12]]))
    for n in ICON_SIZES:
        write(f"icons/hicolor/{n}x{n}/apps/{ICON_NAME}.png", png_bytes(n, n, rasterise(APP_ICON, n)))
    write(f"icons/hicolor/scalable/apps/{ICON_NAME}.svg", svg_document(APP_ICON).encode())
    write("icons/deckrun.ico", multi_icon_file(
        [(n, png_bytes(n, n, rasterise(APP_ICON, n))) for n in (16, 24, 32, 48, 64, 256)]))


if __name__ == "__main__":
    main()
