#!/usr/bin/env python3
"""Renders the program's icon, packaging/icons/zarvexwipe.svg, to the PNG
sizes the menu uses (packaging/icons/zarvexwipe-<N>.png).

Only the Python standard library: the SVG is read with xml.etree, each shape
is covered analytically (a signed distance per pixel) and only the pixels on
a shape's edge are supersampled, and the PNG is written with zlib and struct.
The drawing keeps to what this reads: <rect> (x, y, width, height, rx) and
<circle> (cx, cy, r) with a fill colour #rrggbb, painted in document order
on a transparent canvas, in a viewBox of "0 0 256 256".

    scripts/make_icons.py            # writes every size beside the SVG
    scripts/make_icons.py 32 256     # only these sizes

The output depends only on the SVG: the same file gives the same bytes.
"""
import math
import os
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SUPERSAMPLE = 16  # samples per pixel side on an edge
HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "packaging", "icons")
SVG = os.path.join(ICONS, "zarvexwipe.svg")
NS = "{http://www.w3.org/2000/svg}"


def colour(text):
    if len(text) != 7 or not text.startswith("#"):
        raise ValueError("fill must be #rrggbb, not %r" % text)
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


class RoundedRect:
    def __init__(self, x, y, w, h, r, fill):
        self.cx, self.cy = x + w / 2.0, y + h / 2.0
        self.hx, self.hy = w / 2.0, h / 2.0
        self.r = min(r, self.hx, self.hy)
        self.fill = fill
        self.box = (x, y, x + w, y + h)

    def distance(self, px, py):
        qx = abs(px - self.cx) - (self.hx - self.r)
        qy = abs(py - self.cy) - (self.hy - self.r)
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - self.r


class Circle:
    def __init__(self, cx, cy, r, fill):
        self.cx, self.cy, self.r = cx, cy, r
        self.fill = fill
        self.box = (cx - r, cy - r, cx + r, cy + r)

    def distance(self, px, py):
        return math.hypot(px - self.cx, py - self.cy) - self.r


def read_shapes(path):
    root = ET.parse(path).getroot()
    if root.get("viewBox", "").split() != ["0", "0", "256", "256"]:
        raise ValueError("the viewBox must be 0 0 256 256")
    shapes = []
    for el in root.iter():
        tag = el.tag.replace(NS, "")
        num = lambda name, default=None: float(el.get(name, default))
        if el is root or tag in ("title", "desc"):
            continue
        if tag == "rect":
            shapes.append(RoundedRect(num("x", 0), num("y", 0), num("width"), num("height"),
                                      num("rx", 0), colour(el.get("fill"))))
        elif tag == "circle":
            shapes.append(Circle(num("cx"), num("cy"), num("r"), colour(el.get("fill"))))
        else:
            raise ValueError("unsupported element <%s>" % tag)
    return shapes


def render(shapes, size):
    unit = 256.0 / size  # SVG units per pixel
    # Premultiplied red, green, blue, alpha per pixel.
    pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]
    step = unit / SUPERSAMPLE
    for shape in shapes:
        x0, y0, x1, y1 = shape.box
        for py in range(max(0, int(y0 / unit) - 1), min(size, int(y1 / unit) + 2)):
            for px in range(max(0, int(x0 / unit) - 1), min(size, int(x1 / unit) + 2)):
                cx, cy = (px + 0.5) * unit, (py + 0.5) * unit
                d = shape.distance(cx, cy)
                if d >= unit:
                    continue
                if d <= -unit:
                    cover = 1.0
                else:
                    inside = 0
                    for sy in range(SUPERSAMPLE):
                        y = py * unit + (sy + 0.5) * step
                        for sx in range(SUPERSAMPLE):
                            if shape.distance(px * unit + (sx + 0.5) * step, y) <= 0.0:
                                inside += 1
                    cover = inside / float(SUPERSAMPLE * SUPERSAMPLE)
                if cover <= 0.0:
                    continue
                p = pixels[py * size + px]
                keep = 1.0 - cover
                r, g, b = shape.fill
                p[0] = r * cover + p[0] * keep
                p[1] = g * cover + p[1] * keep
                p[2] = b * cover + p[2] * keep
                p[3] = cover + p[3] * keep
    return pixels


def png(pixels, size):
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # filter: none
        for r, g, b, a in pixels[y * size:(y + 1) * size]:
            if a <= 0.0:
                rows += b"\0\0\0\0"
                continue
            rows += bytes(min(255, int(round(c / a * 255.0))) for c in (r, g, b))
            rows.append(min(255, int(round(a * 255.0))))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def main(argv):
    sizes = [int(a) for a in argv] or list(SIZES)
    shapes = read_shapes(SVG)
    for size in sizes:
        out = os.path.normpath(os.path.join(ICONS, "zarvexwipe-%d.png" % size))
        with open(out, "wb") as f:
            f.write(png(render(shapes, size), size))
        print(out)


if __name__ == "__main__":
    main(sys.argv[1:])
