#!/usr/bin/env python3
"""Renders the suite's default icons into multi-size .ico files.

The drawings live in Content/Icons/source/designs.py as vector shapes on a 256-unit canvas. Each icon is
rendered anew at 16, 32, 48 and 256 pixels (not scaled down from one bitmap, so small sizes stay sharp),
with an anti-aliasing scan converter, and written as one .ico per icon: 32-bit DIB images with their AND
masks for the three small sizes, a PNG image for 256, as Windows' own icons are laid out.

Python 3 with its standard library only. The generated files are committed in Content/Icons, so the
build never runs this; run it after changing a design:

    python3 scripts/make-icons.py                    # writes Content/Icons/*.ico
    python3 scripts/make-icons.py --preview out.png  # and a contact sheet of every icon at every size
"""

import argparse
import importlib.util
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
DESIGN = 256.0


# Geometry: polygons are lists of (x, y) points in design units, y pointing down.

def circle(cx, cy, r, segments=None):
    n = segments or max(24, int(r * 0.9))
    return [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n)) for i in range(n)]


def ellipse(cx, cy, rx, ry, segments=72):
    return [(cx + rx * math.cos(2 * math.pi * i / segments), cy + ry * math.sin(2 * math.pi * i / segments))
            for i in range(segments)]


def arc(cx, cy, r, start_degrees, end_degrees, segments=None):
    n = segments or max(8, int(abs(end_degrees - start_degrees) / 6))
    return [(cx + r * math.cos(math.radians(start_degrees + (end_degrees - start_degrees) * i / n)),
             cy + r * math.sin(math.radians(start_degrees + (end_degrees - start_degrees) * i / n)))
            for i in range(n + 1)]


def star(cx, cy, outer, inner, points=5, rotation=-90.0):
    result = []
    for i in range(points * 2):
        r = outer if i % 2 == 0 else inner
        a = math.radians(rotation + 180.0 * i / points)
        result.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return result


def rounded_rect(x, y, w, h, r):
    result = []
    for cx, cy, start in ((x + w - r, y + r, -90), (x + w - r, y + h - r, 0), (x + r, y + h - r, 90),
                          (x + r, y + r, 180)):
        result += arc(cx, cy, r, start, start + 90, 8)
    return result


def transform(polygon, scale=1.0, rotate=0.0, dx=0.0, dy=0.0, origin=(0.0, 0.0)):
    c, s = math.cos(math.radians(rotate)), math.sin(math.radians(rotate))
    ox, oy = origin
    return [(ox + dx + scale * ((x - ox) * c - (y - oy) * s), oy + dy + scale * ((x - ox) * s + (y - oy) * c))
            for x, y in polygon]


def stroke(points, width, closed=False):
    """The outline of a polyline as polygons: one quad per segment and a disc per joint (round caps
    and joins). Filled with the non-zero rule they make the union."""
    half = width / 2.0
    result = [circle(x, y, half, max(12, int(half))) for x, y in points]
    pairs = list(zip(points, points[1:] + points[:1] if closed else points[1:]))
    for (x0, y0), (x1, y1) in pairs:
        length = math.hypot(x1 - x0, y1 - y0)
        if length == 0:
            continue
        nx, ny = -(y1 - y0) / length * half, (x1 - x0) / length * half
        result.append([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)])
    return result


def oriented(polygon):
    area = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]))
    return polygon if area >= 0 else list(reversed(polygon))


# Scan conversion: coverage of every pixel by a set of polygons under the non-zero rule, sampled on
# `sub` rows per pixel with exact horizontal coverage.

class Mask:
    def __init__(self, size, values=None):
        self.size = size
        self.values = values if values is not None else [0.0] * (size * size)

    def union(self, other):
        return Mask(self.size, [max(a, b) for a, b in zip(self.values, other.values)])

    def minus(self, other):
        return Mask(self.size, [a * (1.0 - b) for a, b in zip(self.values, other.values)])

    def within(self, other):
        return Mask(self.size, [a * b for a, b in zip(self.values, other.values)])


def rasterize(polygons, size):
    scale = size / DESIGN
    sub = 16 if size <= 48 else 5
    edges = []
    for polygon in polygons:
        polygon = oriented(polygon)
        for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]):
            x0, y0, x1, y1 = x0 * scale, y0 * scale, x1 * scale, y1 * scale
            if y0 == y1:
                continue
            direction = 1 if y1 > y0 else -1
            if y0 > y1:
                x0, y0, x1, y1 = x1, y1, x0, y0
            edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), direction))
    values = [0.0] * (size * size)
    if not edges:
        return Mask(size, values)
    top = max(0, int(math.floor(min(e[0] for e in edges))))
    bottom = min(size, int(math.ceil(max(e[1] for e in edges))))
    weight = 1.0 / sub
    for row in range(top, bottom):
        line = [0.0] * (size + 1)
        for k in range(sub):
            y = row + (k + 0.5) / sub
            crossings = sorted((x0 + (y - y0) * slope, d) for y0, y1, x0, slope, d in edges if y0 <= y < y1)
            winding = 0
            start = 0.0
            for x, d in crossings:
                before = winding
                winding += d
                if before == 0 and winding != 0:
                    start = x
                elif before != 0 and winding == 0:
                    add_span(line, start, x, weight, size)
        base = row * size
        for col in range(size):
            if line[col]:
                values[base + col] = min(1.0, line[col])
    return Mask(size, values)


def add_span(line, xa, xb, weight, size):
    xa = max(0.0, min(float(size), xa))
    xb = max(0.0, min(float(size), xb))
    if xb <= xa:
        return
    ia, ib = int(xa), int(xb)
    if ia == ib:
        line[ia] += (xb - xa) * weight
        return
    line[ia] += (ia + 1 - xa) * weight
    for i in range(ia + 1, ib):
        line[i] += weight
    if ib < size:
        line[ib] += (xb - ib) * weight


# Paints: a colour for a pixel centre in design units.

def hex_colour(text, alpha=1.0):
    text = text.lstrip('#')
    return (int(text[0:2], 16) / 255.0, int(text[2:4], 16) / 255.0, int(text[4:6], 16) / 255.0, alpha)


def solid(colour):
    c = hex_colour(colour) if isinstance(colour, str) else colour
    return lambda x, y: c


def linear(x0, y0, colour0, x1, y1, colour1):
    c0 = hex_colour(colour0) if isinstance(colour0, str) else colour0
    c1 = hex_colour(colour1) if isinstance(colour1, str) else colour1
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1.0

    def paint(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return paint


class Canvas:
    """Premultiplied RGBA floats, composited source-over."""

    def __init__(self, size):
        self.size = size
        self.pixels = [(0.0, 0.0, 0.0, 0.0)] * (size * size)

    def paint(self, mask, paint, opacity=1.0):
        unit = DESIGN / self.size
        for i, coverage in enumerate(mask.values):
            if coverage <= 0.0:
                continue
            y, x = divmod(i, self.size)
            r, g, b, a = paint((x + 0.5) * unit, (y + 0.5) * unit)
            alpha = coverage * a * opacity
            pr, pg, pb, pa = self.pixels[i]
            keep = 1.0 - alpha
            self.pixels[i] = (r * alpha + pr * keep, g * alpha + pg * keep, b * alpha + pb * keep, alpha + pa * keep)

    def rgba(self):
        out = bytearray()
        for r, g, b, a in self.pixels:
            if a <= 0.0:
                out += b'\0\0\0\0'
                continue
            out += bytes(max(0, min(255, int(round(c / a * 255)))) for c in (r, g, b))
            out.append(max(0, min(255, int(round(a * 255)))))
        return bytes(out)


class Pen:
    """What a design draws with: shapes in design units, rendered at one pixel size."""

    def __init__(self, size):
        self.size = size
        self.canvas = Canvas(size)

    def mask(self, *polygons):
        return rasterize(list(polygons), self.size)

    def outline_width(self, design_units):
        # Never thinner than one pixel, so small sizes keep their edges.
        return max(design_units, DESIGN / self.size * 1.1)

    def fill(self, mask, paint, opacity=1.0):
        self.canvas.paint(mask, paint, opacity)

    def canvas_clear(self, mask):
        """Erases what lies under the mask (punches holes, cuts gaps around badges)."""
        pixels = self.canvas.pixels
        for i, coverage in enumerate(mask.values):
            if coverage > 0.0:
                keep = 1.0 - coverage
                pixels[i] = tuple(c * keep for c in pixels[i])

    def shape(self, polygons, paint, edge, edge_width=10.0, clip=None):
        """A filled shape with a darker edge of `edge_width` design units drawn half outside it."""
        width = self.outline_width(edge_width)
        outline = []
        for polygon in polygons:
            outline += stroke(polygon, width, closed=True)
        outer = rasterize(outline + list(polygons), self.size)
        inner = rasterize(list(polygons), self.size)
        ring = rasterize(outline, self.size)
        if clip is not None:
            outer, inner, ring = outer.minus(clip), inner.minus(clip), ring.minus(clip)
        self.fill(outer, solid(edge) if isinstance(edge, str) else edge)
        self.fill(inner.minus(ring), paint)
        return outer


# File formats.

def png(size, rgba):
    return png_rect(size, size, rgba)


def dib(size, rgba):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        bits = bytearray(stride)
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def ico(images):
    """images: (size, rgba) pairs, smallest first."""
    blobs = [png(size, rgba) if size >= 256 else dib(size, rgba) for size, rgba in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


def load_designs(path):
    spec = importlib.util.spec_from_file_location('designs', path)
    module = importlib.util.module_from_spec(spec)
    sys.modules['make_icons'] = sys.modules[__name__]
    spec.loader.exec_module(module)
    return module.ICONS


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--designs', default=os.path.join(root, 'Content', 'Icons', 'source', 'designs.py'))
    parser.add_argument('--output', default=os.path.join(root, 'Content', 'Icons'))
    parser.add_argument('--only', help='render only the icon of this file name')
    parser.add_argument('--preview', help='also write a PNG contact sheet of every icon at every size')
    args = parser.parse_args()

    rendered = []
    for name, draw in load_designs(args.designs):
        if args.only and name != args.only:
            continue
        images = []
        for size in SIZES:
            pen = Pen(size)
            draw(pen)
            images.append((size, pen.canvas.rgba()))
        with open(os.path.join(args.output, name + '.ico'), 'wb') as f:
            f.write(ico(images))
        rendered.append(images)
        print(name + '.ico')

    if args.preview and rendered:
        columns = 4
        cell_width, cell_height = 256 + 48 + 32 + 16 + 40, 264
        width = cell_width * columns
        height = cell_height * ((len(rendered) + columns - 1) // columns)
        sheet = bytearray(b'\xff' * (width * height * 4))
        for n, images in enumerate(rendered):
            x = (n % columns) * cell_width + 4
            top = (n // columns) * cell_height + 4
            for size, rgba in reversed(images):
                for y in range(size):
                    for px in range(size):
                        a = rgba[(y * size + px) * 4 + 3] / 255.0
                        at = ((top + y) * width + x + px) * 4
                        for c in range(3):
                            sheet[at + c] = int(rgba[(y * size + px) * 4 + c] * a + 255 * (1 - a))
                x += size + 8
        with open(args.preview, 'wb') as f:
            f.write(png_rect(width, height, bytes(sheet)))


def png_rect(width, height, rgba):
    rows = b''.join(b'\0' + rgba[y * width * 4:(y + 1) * width * 4] for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(rows, 6)) + chunk(b'IEND', b''))


if __name__ == '__main__':
    main()
