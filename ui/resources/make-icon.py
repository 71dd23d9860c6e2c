#!/usr/bin/env python3
"""Draws the application icon (a terminal with a download arrow) from one list
of shapes on a 32-unit grid, as PNGs at several sizes and as an SVG.

Run it after changing a shape; the outputs are committed:
    python3 ui/resources/make-icon.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (16, 32, 48, 64, 128)
SUBSAMPLES = 8  # per pixel and axis, for the edge coverage

# (kind, geometry, colour). Edges on whole units stay crisp at 32 pixels.
SHAPES = [
    ("rrect", (2, 3, 30, 25, 3.0), "#263238"),    # terminal case, outline
    ("rrect", (3, 4, 29, 24, 2.0), "#546e7a"),    # terminal case
    ("rrect", (5, 6, 27, 21, 1.0), "#0d47a1"),    # screen, outline
    ("rrect", (6, 7, 26, 20, 0.5), "#1e88e5"),    # screen
    ("rect", (14, 8, 18, 14), "#ffffff"),          # arrow stem
    ("poly", ((9.5, 13), (22.5, 13), (16, 19.5)), "#ffffff"),  # arrow head
    ("circle", (25.5, 22.5, 1.0), "#76ff03"),      # power lamp
    ("rect", (13, 25, 19, 27), "#263238"),         # neck
    ("rrect", (7, 27, 25, 31, 1.5), "#263238"),    # foot, outline
    ("rrect", (8, 28, 24, 30, 0.75), "#546e7a"),   # foot
]


def inside(kind, g, x, y):
    if kind == "rect":
        return g[0] <= x < g[2] and g[1] <= y < g[3]
    if kind == "rrect":
        x0, y0, x1, y1, r = g
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "circle":
        cx, cy, r = g
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "poly":
        hit = False
        n = len(g)
        for i in range(n):
            (xa, ya), (xb, yb) = g[i], g[(i + 1) % n]
            if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                hit = not hit
        return hit
    raise ValueError(kind)


def rgb(colour):
    return tuple(int(colour[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def render(size):
    scale = 32.0 / size
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0  # premultiplied
            for kind, geom, colour in SHAPES:
                hits = 0
                for sy in range(SUBSAMPLES):
                    for sx in range(SUBSAMPLES):
                        x = (px + (sx + 0.5) / SUBSAMPLES) * scale
                        y = (py + (sy + 0.5) / SUBSAMPLES) * scale
                        hits += inside(kind, geom, x, y)
                cover = hits / (SUBSAMPLES * SUBSAMPLES)
                if cover:
                    cr, cg, cb = rgb(colour)
                    r = cr * cover + r * (1 - cover)
                    g = cg * cover + g * (1 - cover)
                    b = cb * cover + b * (1 - cover)
                    a = cover + a * (1 - cover)
            if a:
                row.append((round(r / a * 255), round(g / a * 255), round(b / a * 255), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels


def write_png(path, pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in pixels)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_svg(path):
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">']
    for kind, g, colour in SHAPES:
        if kind == "rect":
            parts.append(f'  <rect x="{g[0]}" y="{g[1]}" width="{g[2] - g[0]}" height="{g[3] - g[1]}" fill="{colour}"/>')
        elif kind == "rrect":
            parts.append(f'  <rect x="{g[0]}" y="{g[1]}" width="{g[2] - g[0]}" height="{g[3] - g[1]}" '
                         f'rx="{g[4]}" fill="{colour}"/>')
        elif kind == "circle":
            parts.append(f'  <circle cx="{g[0]}" cy="{g[1]}" r="{g[2]}" fill="{colour}"/>')
        elif kind == "poly":
            points = " ".join(f"{x},{y}" for x, y in g)
            parts.append(f'  <polygon points="{points}" fill="{colour}"/>')
    parts.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


def main():
    out = os.path.join(HERE, "icons")
    os.makedirs(out, exist_ok=True)
    for size in SIZES:
        write_png(os.path.join(out, f"veltrad-{size}.png"), render(size))
    write_svg(os.path.join(out, "veltrad.svg"))


if __name__ == "__main__":
    main()
