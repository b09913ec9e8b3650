#!/usr/bin/env python3
"""Draws Tonvarel's icon and writes it as a Windows .ico file and as the browser edition's PNGs.

The picture is the pitch pad itself: a cream square with a dark border, scale ticks down its
left edge (every third one long, like the marks at each C), one period of a blue wave and a red dot
where the finger holds the note.

The file holds eight pictures, in this order: 32 and 16 pixels at 4 bits per pixel, 48, 32 and
16 pixels at 8 bits, 48, 32 and 16 pixels at 32 bits. Every picture is a BMP-format entry with an
AND mask; the paletted ones carry their palette. The output is a pure function of this script,
so `--check` can tell whether the checked-in file is up to date.

The installable page takes the same picture as PNG files in web/icons/: 192 and 512 pixels with
air around the pad, as the .ico; a 512-pixel one for launchers that cut their own shape (the pad
inside the central circle every such mask keeps, on slate to the edges); and a 180-pixel opaque
one for home screens that round the corners themselves. `--check` compares their chunks and
pixels, not their compressed bytes, which may differ from one zlib to another.

    tools/make_icons.py [--out app/resources/tonvarel.ico] [--png-dir web/icons] [--check]
"""

import argparse
import math
import pathlib
import struct
import sys
import zlib

REPO = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_OUT = REPO / "app" / "resources" / "tonvarel.ico"
DEFAULT_PNG_DIR = REPO / "web" / "icons"

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

# The PNGs: (file name, canvas size, pad size, background ink or None for transparent). A mask
# may cut everything outside the circle of radius 0.4 around the centre: the pad's corners stay
# inside it. Home screens round the corners by about a fifth of the side.
PNGS = [
    ("icon-192.png", 192, 192, None),
    ("icon-512.png", 512, 512, None),
    ("icon-maskable-512.png", 512, 320, SLATE),
    ("apple-touch-icon.png", 180, 144, SLATE),
]


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
    margin = size // 16  # 1, 2 or 3 pixels of air around the pad at the .ico's sizes
    if size <= 48:
        border = 1 if size < 32 else 2
        ticks = {16: 4, 32: 6, 48: 8}[size]
        thickness = 1 if size < 48 else 2
    else:  # the 48-pixel drawing, scaled
        border = thickness = round(size / 32)
        ticks = 8
    lo, hi = margin, size - margin
    inner_lo, inner_hi = lo + border, hi - border

    def pad(x, y):
        return lo <= x < hi and lo <= y < hi

    def frame(x, y):
        return pad(x, y) and not (inner_lo <= x < inner_hi and inner_lo <= y < inner_hi)

    # Ticks hang from the left border. Their rows fall on whole pixels so that they stay sharp
    # at every depth.
    short, long_ = round(size * 0.10), round(size * 0.20)
    span = inner_hi - inner_lo
    rows = [inner_lo + span * (i + 1) // (ticks + 1) + thickness / 2 for i in range(ticks)]

    def tick(x, y):
        if not inner_lo <= x < inner_lo + long_:
            return False
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

    # Large pictures draw the wave as a pen would, with round ends: every point within half the
    # width of a fine polyline along it. At the .ico's sizes the ends would be stray pixels.
    if size > 48:
        steps = 96
        step = (wave_hi - wave_lo) / steps
        r = width / 2
        line = [(wave_lo + i * step, wave_y(wave_lo + i * step)) for i in range(steps + 1)]
        segments = [
            (ax, ay, bx - ax, by - ay, min(ay, by) - r, max(ay, by) + r)
            for (ax, ay), (bx, by) in zip(line, line[1:])
        ]

        def wave(x, y):
            if not wave_lo - r <= x <= wave_hi + r:
                return False
            first = max(0, math.floor((x - r - wave_lo) / step))
            last = math.floor((x + r - wave_lo) / step)
            for ax, ay, dx, dy, top, bottom in segments[first : last + 1]:
                if top <= y <= bottom:
                    t = min(1, max(0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
                    if (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= r * r:
                        return True
            return False

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


def render_large(canvas, pad_size, background):
    """Rows of (r, g, b, a) of a PNG: the pad drawn at pad_size in the middle of the canvas.
    A pixel whose four corners fall on one ink takes it whole; only the others are sampled
    4x4, which keeps 512 pixels quick. Every shape is wider than a pixel at these sizes."""
    offset = (canvas - pad_size) // 2
    shapes = pad_shapes(pad_size)

    def ink_at(x, y):
        x, y = x - offset, y - offset
        for ink, contains in reversed(shapes):
            if contains(x, y):
                return ink
        return background

    corners = [[ink_at(x, y) for x in range(canvas + 1)] for y in range(canvas + 1)]
    offsets = [(i + 0.5) / 4 for i in range(4)]
    pixels = []
    for py in range(canvas):
        row = []
        for px in range(canvas):
            ink = corners[py][px]
            if ink is corners[py][px + 1] is corners[py + 1][px] is corners[py + 1][px + 1]:
                row.append((*ink[0], 255) if ink else (0, 0, 0, 0))
                continue
            r = g = b = a = 0
            for oy in offsets:
                for ox in offsets:
                    ink = ink_at(px + ox, py + oy)
                    if ink:
                        r, g, b, a = r + ink[0][0], g + ink[0][1], b + ink[0][2], a + 1
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / 16)))
        pixels.append(row)
    return pixels


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(pixels, opaque):
    """An 8-bit RGB (opaque) or RGBA PNG. Every row is filtered by its left neighbour, which
    turns the flat inks into runs of zeros."""
    channels = 3 if opaque else 4
    raw = bytearray()
    for row in pixels:
        line = b"".join(bytes(p[:channels]) for p in row)
        raw.append(1)  # Sub
        raw += line[:channels]
        raw += bytes((line[i] - line[i - channels]) & 0xFF for i in range(channels, len(line)))
    size = len(pixels)
    header = struct.pack(">IIBBBBB", size, size, 8, 2 if opaque else 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + png_chunk(b"IHDR", header)
        + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + png_chunk(b"IEND", b"")
    )


def png_files():
    return {
        name: png_bytes(render_large(canvas, pad_size, background), background is not None)
        for name, canvas, pad_size, background in PNGS
    }


def png_content(data):
    """The chunks of a PNG with the compressed data replaced by what it decompresses to."""
    chunks, at = [], 8
    try:
        while at < len(data):
            (length,) = struct.unpack(">I", data[at : at + 4])
            kind, body = data[at + 4 : at + 8], data[at + 8 : at + 8 + length]
            chunks.append((kind, zlib.decompress(body) if kind == b"IDAT" else body))
            at += 12 + length
    except (struct.error, zlib.error):
        return None
    return [data[:8]] + chunks


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
    parser.add_argument("--png-dir", type=pathlib.Path, default=DEFAULT_PNG_DIR)
    parser.add_argument(
        "--check",
        action="store_true",
        help="only compare with the existing files; 1 if any differs",
    )
    args = parser.parse_args()
    files = {args.out: ico_bytes()}
    files.update((args.png_dir / name, data) for name, data in png_files().items())
    if args.check:
        stale = []
        for path, data in files.items():
            if not path.is_file():
                stale.append(path)
            elif path.suffix == ".png":
                if png_content(path.read_bytes()) != png_content(data):
                    stale.append(path)
            elif path.read_bytes() != data:
                stale.append(path)
        for path in stale:
            print(f"{path} is out of date: run {sys.argv[0]}", file=sys.stderr)
        return 1 if stale else 0
    args.png_dir.mkdir(parents=True, exist_ok=True)
    for path, data in files.items():
        path.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
