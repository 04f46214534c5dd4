#!/usr/bin/env python3
"""Draws the button and tab images as PNG files next to this script.

Plain Python (zlib + struct), so it needs nothing beyond the interpreter. Each shape is
sampled 2 x 2 times per pixel for smooth edges. The drawings are made on a canvas of two
pixels per point (the buttons are 64 x 64 points, the tab icons 30 x 30) and written at
RESOLUTION times that, so that they stay crisp in a maximised window on a screen of two
device pixels per pixel.

Run it again after changing a drawing:  python3 resources/make_images.py
"""
import math
import os
import struct
import zlib

SAMPLES = 2  # per axis
RESOLUTION = 4  # pixels written per canvas pixel


def write_png(path, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) floats 0..1."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes(max(0, min(255, int(round(c * 255)))) for c in (r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def render(size, layers, resolution=1):
    """layers: list of (inside(x, y) -> bool, colour(x, y) -> (r, g, b, a)), back to front.
    Coordinates are in canvas pixels, the pixel centre of (0, 0) at (0.5, 0.5); the image is
    size * resolution pixels wide."""
    rows = []
    step = 1.0 / (SAMPLES * resolution)
    for qy in range(size * resolution):
        py = qy / resolution
        row = []
        for qx in range(size * resolution):
            px = qx / resolution
            r = g = b = a = 0.0
            for inside, colour in layers:
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                            hits += 1
                if not hits:
                    continue
                cr, cg, cb, ca = colour(px + 0.5 / resolution, py + 0.5 / resolution)
                ca *= hits / (SAMPLES * SAMPLES)
                # "over" compositing, straight alpha
                out_a = ca + a * (1 - ca)
                if out_a > 0:
                    r = (cr * ca + r * a * (1 - ca)) / out_a
                    g = (cg * ca + g * a * (1 - ca)) / out_a
                    b = (cb * ca + b * a * (1 - ca)) / out_a
                a = out_a
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def ring(cx, cy, inner, outer):
    return lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def solid(r, g, b, a=1.0):
    return lambda x, y: (r, g, b, a)


def vertical(top, bottom, y0, y1):
    def colour(x, y):
        t = min(1.0, max(0.0, (y - y0) / (y1 - y0)))
        return tuple(top[i] + (bottom[i] - top[i]) * t for i in range(4))
    return colour


BUTTON = 128
C = BUTTON / 2
WHITE = solid(1, 1, 1, 1)


def button_base(accent):
    """A dark glossy disc with a thin light rim; `accent` tints its lower half."""
    return [
        (circle(C, C + 2, 61), solid(0, 0, 0, 0.35)),                        # soft shadow
        (circle(C, C, 61), vertical((0.93, 0.94, 0.97, 1), (0.55, 0.58, 0.64, 1), 3, 125)),
        (circle(C, C, 57), vertical((0.20, 0.24, 0.31, 1), accent, 7, 121)),
        (lambda x, y: ((x - C) / 46) ** 2 + ((y - (C - 27)) / 29) ** 2 <= 1,
         vertical((1, 1, 1, 0.22), (1, 1, 1, 0.02), C - 56, C + 2)),          # gloss
    ]


def play():
    # The triangle's centroid sits on the centre, so the glyph looks centred.
    h = 52
    w = h * math.sqrt(3) / 2
    x0 = C - w / 3
    return button_base((0.05, 0.36, 0.20, 1)) + [
        (polygon([(x0, C - h / 2), (x0 + w, C), (x0, C + h / 2)]), WHITE)]


def pause():
    return button_base((0.05, 0.22, 0.45, 1)) + [
        (rounded_rect(C - 21, C - 25, C - 6, C + 25, 3), WHITE),
        (rounded_rect(C + 6, C - 25, C + 21, C + 25, 3), WHITE)]


def stop():
    return button_base((0.46, 0.08, 0.08, 1)) + [
        (rounded_rect(C - 22, C - 22, C + 22, C + 22, 5), WHITE)]


def loading():
    # Twelve spokes fading round the circle: turned by the screen, they read as "busy".
    layers = button_base((0.28, 0.28, 0.32, 1))
    for i in range(12):
        angle = 2 * math.pi * i / 12
        alpha = 0.25 + 0.75 * (i / 11)
        dx, dy = math.sin(angle), -math.cos(angle)
        x0, y0 = C + dx * 18, C + dy * 18
        x1, y1 = C + dx * 36, C + dy * 36
        px, py = -dy * 4, dx * 4
        layers.append((polygon([(x0 + px, y0 + py), (x1 + px, y1 + py), (x1 - px, y1 - py),
                                (x0 - px, y0 - py)]), solid(1, 1, 1, alpha)))
        layers.append((circle(x1, y1, 4), solid(1, 1, 1, alpha)))
        layers.append((circle(x0, y0, 4), solid(1, 1, 1, alpha)))
    return layers


TAB = 60
T = TAB / 2


def tab_live():
    # A mast with radio waves on both sides.
    layers = [(polygon([(T - 3, T - 4), (T + 3, T - 4), (T + 9, TAB - 6), (T - 9, TAB - 6)]), WHITE),
              (circle(T, T - 8, 6), WHITE)]
    for radius in (14, 22):
        for side in (-1, 1):
            def arc(x, y, radius=radius, side=side):
                dx, dy = x - T, y - (T - 8)
                d = math.hypot(dx, dy)
                return (radius - 2.5 <= d <= radius + 2.5 and dx * side > 0
                        and abs(dy) < abs(dx) * 1.1)
            layers.append((arc, WHITE))
    return layers


def tab_ondemand():
    # A list: three bullets and lines.
    layers = []
    for i, y in enumerate((14, 30, 46)):
        layers.append((circle(12, y, 5), WHITE))
        layers.append((rounded_rect(22, y - 3.5, 52, y + 3.5, 3.5), WHITE))
    return layers


IMAGES = {
    "playbutton.png": (BUTTON, play),
    "pausebutton.png": (BUTTON, pause),
    "stopbutton.png": (BUTTON, stop),
    "loadingbutton.png": (BUTTON, loading),
    "tab_live.png": (TAB, tab_live),
    "tab_ondemand.png": (TAB, tab_ondemand),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, (size, draw) in IMAGES.items():
        pixels = size * RESOLUTION
        write_png(os.path.join(here, name), pixels, pixels, render(size, draw(), RESOLUTION))
        print("wrote", name)


if __name__ == "__main__":
    main()
