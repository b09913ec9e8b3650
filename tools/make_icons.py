#!/usr/bin/env python3
"""Draws Tonvarel's icon and writes it as a Windows .ico file.

The picture is the pitch pad itself: a cream square with a dark border, scale ticks down its
left edge (every third one long, like the marks at each C), one period of a blue wave and a red dot
where the finger holds the note.

The file holds eight pictures, in this order: 32 and 16 pixels at 4 bits per pixel, 48, 32 and
16 pixels at 8 bits, 48, 32 and 16 pixels at 32 bits. Every picture is a BMP-format entry with an
AND mask; the paletted ones carry their palette. The output is a pure function of this script,
so `--check` can tell whether the checked-in file is up to date.

    tools/make_icons.py [--out app/resources/tonvarel.ico] [--check]
"""

import argparse
import math
import pathlib
import struct
import sys

DEFAULT_OUT = pathlib.Path(__file__).resolve().parent.parent / "app" / "resources" / "tonvarel.ico"

# (size, bits per pixel), in the order the entries appear in the file.
PICTURES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]

# The 16 colours every 4-bit display has, in their customary order.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # fmt: skip


# Each ink has its full colour and the 4-bit colour it becomes where only 16 exist.
CREAM = ((250, 246, 236), (255, 255, 255))
SLATE = ((43, 50, 64), (0, 0, 0))
BLUE = ((31, 111, 235), (0, 0, 255))
RED = ((232, 69, 60), (255, 0, 0))
INKS = [CREAM, SLATE, BLUE, RED]


def palette256():
    """The 16 display colours, the four inks exactly, a 6x6x6 colour cube for the smoothed
    edges and 20 greys: 256 fixed entries."""
    levels = [0, 51, 102, 153, 204, 255]
    cube = [(r, g, b) for r in levels for g in levels for b in levels]
    greys = [(v, v, v) for v in (12 * i + 12 for i in range(20))]
    palette = VGA16 + [ink[0] for ink in INKS] + cube + greys
    assert len(palette) == 256
    return palette


def pad_shapes(size):
    """The picture at one size, as (ink, contains(x, y)) from bottom to top, in pixels."""
    margin = size // 16  # 1, 2 or 3 pixels of air around the pad
    border = 1 if size < 32 else 2
    lo, hi = margin, size - margin
    inner_lo, inner_hi = lo + border, hi - border

    def pad(x, y):
        return lo <= x < hi and lo <= y < hi

    def frame(x, y):
        return pad(x, y) and not (inner_lo <= x < inner_hi and inner_lo <= y < inner_hi)

    # Ticks hang from the left border. Their rows fall on whole pixels so that they stay sharp
    # at every depth.
    ticks = {16: 4, 32: 6, 48: 8}[size]
    thickness = 1 if size < 48 else 2
    short, long_ = round(size * 0.10), round(size * 0.20)
    span = inner_hi - inner_lo
    rows = [inner_lo + span * (i + 1) // (ticks + 1) + thickness / 2 for i in range(ticks)]

    def tick(x, y):
        for i, row in enumerate(rows):
            length = long_ if i % 3 == 1 else short
            if abs(y - row) < thickness / 2 + 1e-9 and inner_lo <= x < inner_lo + length:
                return True
        return False

    # One period of a sine to the right of the ticks.
    wave_lo, wave_hi = inner_lo + long_ + size / 12, inner_hi - size / 12
    centre, amplitude = inner_lo + span / 2, span * 0.2
    width = max(1.5, size / 16)
    omega = 2 * math.pi / (wave_hi - wave_lo)

    def wave_y(x):
        return centre - amplitude * math.sin(omega * (x - wave_lo))

    def wave(x, y):
        if not wave_lo <= x <= wave_hi:
            return False
        slope = -amplitude * omega * math.cos(omega * (x - wave_lo))
        return abs(y - wave_y(x)) / math.sqrt(1 + slope * slope) <= width / 2

    # The held note sits on the wave's crest.
    dot_x = wave_lo + (math.pi / 2) / omega
    dot_y = wave_y(dot_x)
    dot_r = max(1.6, size / 11)

    def dot(x, y):
        return (x - dot_x) ** 2 + (y - dot_y) ** 2 <= dot_r**2

    return [(CREAM, pad), (SLATE, frame), (SLATE, tick), (BLUE, wave), (RED, dot)]


def render(size, full_colour):
    """Rows of (r, g, b, a) from the top. Full colour is drawn with 4x4 supersampling; the
    4-bit picture is sampled once at each pixel centre in its 16 colours, so it stays crisp."""
    shapes = pad_shapes(size)
    grid = 4 if full_colour else 1
    offsets = [(i + 0.5) / grid for i in range(grid)]
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for oy in offsets:
                for ox in offsets:
                    x, y = px + ox, py + oy
                    for ink, contains in reversed(shapes):
                        if contains(x, y):
                            colour = ink[0] if full_colour else ink[1]
                            r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
                            break
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / grid**2)))
        pixels.append(row)
    return pixels


def nearest(palette, colour):
    return min(
        range(len(palette)),
        key=lambda i: sum((palette[i][c] - colour[c]) ** 2 for c in range(3)),
    )


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def and_mask(pixels):
    """1 where the screen shows through. Rows bottom-up, as in every BMP."""
    out = b""
    for row in reversed(pixels):
        bits = bytearray((len(row) + 7) // 8)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += padded(bytes(bits))
    return out


def bmp_entry(size, bpp):
    pixels = render(size, full_colour=bpp != 4)
    if bpp == 32:
        palette = []
        xor = b"".join(
            padded(b"".join(bytes((b, g, r, a)) for r, g, b, a in row)) for row in reversed(pixels)
        )
    else:
        palette = VGA16 if bpp == 4 else palette256()
        cache = {}
        rows = []
        for row in reversed(pixels):
            # Transparent pixels are black in the colour plane, so AND-then-XOR leaves the
            # screen untouched.
            indices = [
                cache.setdefault(p[:3], nearest(palette, p[:3])) if p[3] >= 128 else 0
                for p in row
            ]
            if bpp == 4:
                indices += [0] * (len(indices) % 2)
                data = bytes(indices[i] << 4 | indices[i + 1] for i in range(0, len(indices), 2))
            else:
                data = bytes(indices)
            rows.append(padded(data))
        xor = b"".join(rows)
    mask = and_mask(pixels)
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # header size
        size,
        2 * size,  # an icon's height counts the colour plane and the mask
        1,  # planes
        bpp,
        0,  # BI_RGB
        len(xor) + len(mask),
        0,
        0,
        len(palette),
        0,
    )
    quads = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + quads + xor + mask


def ico_bytes():
    images = [(size, bpp, bmp_entry(size, bpp)) for size, bpp in PICTURES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colours = 16 if bpp == 4 else 0  # the directory counts colours only below 8 bits
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=pathlib.Path, default=DEFAULT_OUT)
    parser.add_argument(
        "--check", action="store_true", help="only compare with the existing file; 1 if it differs"
    )
    args = parser.parse_args()
    data = ico_bytes()
    if args.check:
        if not args.out.is_file() or args.out.read_bytes() != data:
            print(f"{args.out} is out of date: run {sys.argv[0]}", file=sys.stderr)
            return 1
        return 0
    args.out.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
