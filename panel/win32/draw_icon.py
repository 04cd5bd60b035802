#!/usr/bin/env python3
"""Draws the control panel's icon, a small receiver with its antenna, and
writes it as a Windows .ico with the two images the frame's window class
uses: 32 x 32 in 16 colours and 48 x 48 in 256 colours.

    draw_icon.py OUTPUT.ico

The drawing is made of simple shapes on a 32-unit grid, scaled to each size
and sampled 4 x 4 per pixel. The 16-colour image keeps to the standard
16-colour palette without blending, so it stays crisp; the 256-colour image
blends the edges."""

import math
import struct
import sys

# The standard 16-colour palette, in index order.
VGA = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, SILVER, GREY, RED, LIME, YELLOW, WHITE, NAVY = 0, 7, 8, 9, 10, 11, 15, 4


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, half_width):
    length2 = (bx - ax) ** 2 + (by - ay) ** 2

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / length2))
        px, py = ax + t * (bx - ax), ay + t * (by - ay)
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width
    return inside


def polyline(points, half_width):
    parts = [segment(*points[i], *points[i + 1], half_width) for i in range(len(points) - 1)]
    return lambda x, y: any(part(x, y) for part in parts)


def arc(cx, cy, r, half_width, start_deg, end_deg):
    def inside(x, y):
        if abs(math.hypot(x - cx, y - cy) - r) > half_width:
            return False
        angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return (angle - start_deg) % 360 <= (end_deg - start_deg) % 360
    return inside


def shrink(shape_at, amount):
    """The shape minus a rim of `amount` units (for outlines)."""
    return lambda x, y: all(shape_at(x + dx, y + dy) for dx, dy in
                            ((amount, 0), (-amount, 0), (0, amount), (0, -amount)))


# Layers from back to front: (shape, colour for 256 colours, index in the 16-colour palette).
TIP_X, TIP_Y = 21.0, 4.5
body = rounded_rect(1.5, 12.5, 30.5, 29.5, 3.0)
dial = circle(24.0, 21.0, 4.6)
LAYERS = [
    (arc(TIP_X, TIP_Y, 4.2, 0.75, -45, 45), (0xFF, 0xC8, 0x20), YELLOW),
    (arc(TIP_X, TIP_Y, 4.2, 0.75, 135, 225), (0xFF, 0xC8, 0x20), YELLOW),
    (arc(TIP_X, TIP_Y, 7.6, 0.75, -40, 40), (0xFF, 0xC8, 0x20), YELLOW),
    (arc(TIP_X, TIP_Y, 7.6, 0.75, 140, 220), (0xFF, 0xC8, 0x20), YELLOW),
    (segment(17.5, 13.0, TIP_X, TIP_Y, 1.0), (0xB8, 0xBE, 0xC6), SILVER),
    (circle(TIP_X, TIP_Y, 2.0), (0xE0, 0x30, 0x30), RED),
    (body, (0x10, 0x14, 0x1A), BLACK),
    (shrink(body, 1.0), (0x3A, 0x4E, 0x68), NAVY),
    (rounded_rect(4.0, 16.0, 17.5, 26.5, 1.0), (0x08, 0x10, 0x0C), BLACK),
    (polyline([(5.2, 24.6), (7.5, 24.0), (9.2, 23.2), (10.4, 20.5), (11.2, 17.8),
               (12.0, 20.5), (13.2, 23.2), (15.0, 24.0), (16.4, 24.6)], 0.6), (0x40, 0xFF, 0x70), LIME),
    (dial, (0x10, 0x14, 0x1A), BLACK),
    (shrink(dial, 1.0), (0xD4, 0xD8, 0xDC), SILVER),
    (segment(24.0, 21.0, 25.9, 17.9, 0.85), (0x10, 0x14, 0x1A), BLACK),
    (rounded_rect(20.0, 27.0, 28.0, 28.0, 0.4), (0x8A, 0x9A, 0xAE), GREY),
]

SUBSAMPLES = 4


def sample(size):
    """Per pixel: the front layer at each subsample, or None where nothing is."""
    scale = 32.0 / size
    pixels = []
    for row in range(size):
        for column in range(size):
            hits = []
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    x = (column + (sx + 0.5) / SUBSAMPLES) * scale
                    y = (row + (sy + 0.5) / SUBSAMPLES) * scale
                    front = None
                    for index, (shape, _, _) in enumerate(LAYERS):
                        if shape(x, y):
                            front = index
                    hits.append(front)
            pixels.append(hits)
    return pixels


def image_16(size):
    """Indices into VGA (None: transparent), the most frequent layer per pixel."""
    result = []
    for hits in sample(size):
        counts = {}
        for hit in hits:
            counts[hit] = counts.get(hit, 0) + 1
        front = max(counts, key=lambda layer: (counts[layer], -1 if layer is None else layer))
        result.append(None if front is None else LAYERS[front][2])
    return result


def palette_256():
    colours = []
    for _, rgb, _ in LAYERS:
        if rgb not in colours:
            colours.append(rgb)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                rgb = (r * 51, g * 51, b * 51)
                if rgb not in colours:
                    colours.append(rgb)
    for grey in range(4, 256, 8):
        if (grey, grey, grey) not in colours:
            colours.append((grey, grey, grey))
    return (colours + [(0, 0, 0)] * 256)[:256]


def image_256(size, palette):
    """Indices into `palette` (None: transparent), edges blended."""
    result = []
    for hits in sample(size):
        covered = [LAYERS[hit][1] for hit in hits if hit is not None]
        if len(covered) * 2 < len(hits):
            result.append(None)
            continue
        mean = tuple(sum(c[i] for c in covered) / len(covered) for i in range(3))
        result.append(min(range(len(palette)),
                          key=lambda k: sum((palette[k][i] - mean[i]) ** 2 for i in range(3))))
    return result


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def bitmap(size, bits, palette, indices):
    """A BITMAPINFOHEADER image of an icon: colour bits, then the 1-bit mask."""
    colour_row = row_bytes(size * bits)
    mask_row = row_bytes(size)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(range(size)):  # bottom-up
        line = [indices[row * size + column] for column in range(size)]
        packed = bytearray(colour_row)
        transparent = bytearray(mask_row)
        for column, index in enumerate(line):
            value = 0 if index is None else index
            if bits == 4:
                packed[column // 2] |= value << (4 if column % 2 == 0 else 0)
            else:
                packed[column] = value
            if index is None:
                transparent[column // 8] |= 0x80 >> (column % 8)
        colour += packed
        mask += transparent
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(colour) + len(mask),
                         0, 0, len(palette), 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + quads + colour + mask


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: draw_icon.py OUTPUT.ico")
    palette = palette_256()
    images = [
        (32, 16, 4, bitmap(32, 4, VGA, image_16(32))),
        (48, 0, 8, bitmap(48, 8, palette, image_256(48, palette))),
    ]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, colour_count, bits, data in images:
        entries += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bits, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + entries + b"".join(data for _, _, _, data in images))


if __name__ == "__main__":
    main()
