#!/usr/bin/env python3
"""Draws the application icon: the PNGs of the hicolor sizes and the scalable SVG, from one
geometry, into icons/ next to this script. The mast and waves of the live tab, white on a
night-blue rounded square.

Run it again after changing the drawing:  python3 resources/desktop/make_icon.py
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import make_images as draw  # noqa: E402

APP_ID = "org.ostraradio.OstraRadio"
SIZES = (16, 24, 32, 48, 64, 128, 256, 512)

# The geometry, in a 512 unit square.
CORNER = 112
TOP, BOTTOM = (0.10, 0.24, 0.52), (0.02, 0.07, 0.20)
MAST_TOP, MAST_FOOT = (238, 274, 236), (196, 316, 420)  # x left, x right, y
DOT = (256, 214, 36)  # x, y, radius
WAVES = ((112, 22), (182, 22))  # radius, half width
WAVE_SLOPE = 1.1  # the arcs end where |dy| = 1.1 |dx|


def layers(size):
    k = size / 512.0
    cx, cy, r = (v * k for v in DOT)
    result = [
        (draw.rounded_rect(0, 0, size, size, CORNER * k),
         draw.vertical(TOP + (1.0,), BOTTOM + (1.0,), 0, size)),
        (draw.polygon([(MAST_TOP[0] * k, MAST_TOP[2] * k), (MAST_TOP[1] * k, MAST_TOP[2] * k),
                       (MAST_FOOT[1] * k, MAST_FOOT[2] * k), (MAST_FOOT[0] * k, MAST_FOOT[2] * k)]),
         draw.WHITE),
        (draw.circle(cx, cy, r), draw.WHITE),
    ]
    for radius, half in WAVES:
        for side in (-1, 1):
            def arc(x, y, radius=radius * k, half=half * k, side=side):
                dx, dy = x - cx, y - cy
                d = math.hypot(dx, dy)
                return (radius - half <= d <= radius + half and dx * side > 0
                        and abs(dy) < abs(dx) * WAVE_SLOPE)
            result.append((arc, draw.WHITE))
    return result


def svg():
    cx, cy, r = DOT
    # Where an arc of radius R meets the lines |dy| = slope * |dx|.
    angle = math.atan(WAVE_SLOPE)
    paths = []
    for radius, half in WAVES:
        for side in (-1, 1):
            outer, inner = radius + half, radius - half
            def point(rad, sign):
                return (cx + side * rad * math.cos(angle), cy + sign * rad * math.sin(angle))
            (ox0, oy0), (ox1, oy1) = point(outer, -1), point(outer, 1)
            (ix1, iy1), (ix0, iy0) = point(inner, 1), point(inner, -1)
            sweep = 1 if side > 0 else 0
            paths.append(
                f'<path d="M{ox0:.2f},{oy0:.2f} A{outer},{outer} 0 0 {sweep} {ox1:.2f},{oy1:.2f} '
                f'L{ix1:.2f},{iy1:.2f} A{inner},{inner} 0 0 {1 - sweep} {ix0:.2f},{iy0:.2f} Z"/>')
    def colour(c):
        return "#" + "".join(f"{round(v * 255):02x}" for v in c)
    return "\n".join([
        '<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 512 512">',
        '  <defs><linearGradient id="night" x1="0" y1="0" x2="0" y2="1">',
        f'    <stop offset="0" stop-color="{colour(TOP)}"/>',
        f'    <stop offset="1" stop-color="{colour(BOTTOM)}"/>',
        '  </linearGradient></defs>',
        f'  <rect width="512" height="512" rx="{CORNER}" fill="url(#night)"/>',
        '  <g fill="#ffffff">',
        f'    <polygon points="{MAST_TOP[0]},{MAST_TOP[2]} {MAST_TOP[1]},{MAST_TOP[2]} '
        f'{MAST_FOOT[1]},{MAST_FOOT[2]} {MAST_FOOT[0]},{MAST_FOOT[2]}"/>',
        f'    <circle cx="{cx}" cy="{cy}" r="{r}"/>',
    ] + ["    " + p for p in paths] + ["  </g>", "</svg>", ""])


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons", "hicolor")
    for size in SIZES:
        folder = os.path.join(here, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        draw.write_png(os.path.join(folder, APP_ID + ".png"), size, size,
                       draw.render(size, layers(size)))
        print("wrote", size)
    folder = os.path.join(here, "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, APP_ID + ".svg"), "w") as f:
        f.write(svg())
    print("wrote svg")


if __name__ == "__main__":
    main()
