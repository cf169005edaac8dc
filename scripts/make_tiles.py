#!/usr/bin/env python3
"""Draws the placeholder tile bitmaps: 116 x 87, 32 bits per pixel, uncompressed
BMP files in resources/. Each tile is a simple picture of what its tool does.
Replace a tile by a small render of the tool with scripts/render_tiles.sh."""
import math
import struct
import sys
from pathlib import Path

W, H = 116, 87


def write_bmp(path, pixel):
    rows = []
    for y in range(H - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r, 255))
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 32, 0, len(data), 2835, 2835, 0, 0)
    path.write_bytes(header + info + data)


def clamp(v):
    return max(0, min(255, int(v)))


def bubbles(x, y):
    r, g, b = 10, 20 + y // 2, 60 + y
    for cx, cy, rad in ((30, 30, 14), (70, 50, 20), (95, 22, 9), (45, 68, 8)):
        d = math.hypot(x - cx, y - cy)
        if d < rad:
            rim = max(0.0, (d / rad) ** 6)
            r, g, b = r + 200 * rim, g + 220 * rim, b + 230 * rim
            if math.hypot(x - cx + rad * 0.4, y - cy + rad * 0.4) < rad * 0.2:
                r, g, b = 255, 255, 255
    return clamp(r), clamp(g), clamp(b)


def candle(x, y):
    r, g, b = 15, 12, 10
    fx = (x - W / 2) / 14.0
    fy = (H - 10 - y) / 60.0
    if 0 <= fy <= 1:
        width = math.sin(math.pi * min(1.0, fy * 1.2)) * (1 - fy) + 0.05
        inside = max(0.0, 1 - abs(fx) / max(width, 1e-3))
        r += 255 * inside
        g += 200 * inside * (1 - fy * 0.7)
        b += 90 * inside * (1 - fy) ** 3
    return clamp(r), clamp(g), clamp(b)


def bleb(x, y):
    dx, dy = (x - W / 2) / W, (y - H / 2) / W
    rad = math.hypot(dx, dy)
    ang = math.atan2(dy, dx)
    lobed = rad / (1 + 0.35 * max(0.0, math.cos(3 * ang)) ** 4)
    checker = (int(lobed * 40 + 100) + int((ang + math.pi) * 3)) % 2
    base = 60 + 150 * checker
    return clamp(base * 0.9), clamp(base * 0.6 + 40), clamp(255 - base * 0.5)


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "resources")
    out.mkdir(parents=True, exist_ok=True)
    for name, fn in (("bubbles", bubbles), ("candle", candle), ("bleb", bleb)):
        write_bmp(out / f"{name}.bmp", fn)


if __name__ == "__main__":
    main()
