#!/usr/bin/env python3
"""Draws the program's icon (app.ico, 32 x 32) and badge (badge.bmp, 72 x 26, 256 colours).

Run it after changing the drawing; the generated files are kept in the repo so that the
build needs no Python.
"""
import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent

# A 3 x 5 pixel font, just the letters the badge needs.
FONT = {
    "P": ["111", "101", "111", "100", "100"],
    "O": ["111", "101", "101", "101", "111"],
    "W": ["101", "101", "101", "111", "101"],
    "E": ["111", "100", "110", "100", "111"],
    "R": ["110", "101", "110", "101", "101"],
    "D": ["110", "101", "101", "101", "110"],
    "B": ["110", "101", "110", "101", "110"],
    "Y": ["101", "101", "010", "010", "010"],
    "Z": ["111", "001", "010", "100", "111"],
    "L": ["100", "100", "100", "100", "111"],
    "I": ["111", "010", "010", "010", "111"],
    " ": ["000", "000", "000", "000", "000"],
}


def text_pixels(text, scale):
    """Yields (x, y) of the set pixels of `text`, letters 1 px apart (scaled)."""
    for i, ch in enumerate(text):
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            yield (i * 4 * scale + col * scale + dx, row * scale + dy)


def text_width(text, scale):
    return (len(text) * 4 - 1) * scale


def badge():
    width, height = 72, 26
    # Palette: 0 border, 1-64 a blue gradient, 65 white text, 66 gold text.
    palette = [(40, 40, 48)]
    for i in range(64):
        palette.append((30 + i, 60 + i, 120 + i))
    palette += [(255, 255, 255), (250, 200, 60)]
    palette += [(0, 0, 0)] * (256 - len(palette))
    pixels = [[1 + min(63, y * 64 // height) for _ in range(width)] for y in range(height)]
    for x in range(width):
        pixels[0][x] = pixels[height - 1][x] = 0
    for y in range(height):
        pixels[y][0] = pixels[y][width - 1] = 0
    top = "POWERED BY"
    ox = (width - text_width(top, 1)) // 2
    for x, y in text_pixels(top, 1):
        pixels[4 + y][ox + x] = 65
    name = "ZLIB"
    ox = (width - text_width(name, 2)) // 2
    for x, y in text_pixels(name, 2):
        pixels[12 + y][ox + x] = 66
    rows = b"".join(bytes(pixels[y]) for y in range(height - 1, -1, -1))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(info) + len(colours)
    head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    (HERE / "badge.bmp").write_bytes(head + info + colours + rows)


def icon():
    size = 32
    clear = (0, 0, 0, 0)
    image = [[clear for _ in range(size)] for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                image[y][x] = colour

    # A crate seen from the front, with a down arrow: "unpack".
    fill(3, 8, 29, 30, (90, 55, 25, 255))       # outline
    fill(4, 9, 28, 29, (170, 110, 50, 255))     # wood
    for y in (14, 20):
        fill(4, y, 28, y + 1, (120, 75, 35, 255))  # planks
    fill(3, 5, 29, 9, (90, 55, 25, 255))        # open lid
    fill(4, 6, 28, 8, (200, 140, 70, 255))
    # Arrow, white with a dark edge.
    fill(13, 1, 19, 16, (30, 30, 60, 255))
    fill(14, 1, 18, 16, (250, 250, 250, 255))
    for i in range(7):
        fill(9 + i, 15 + i, 23 - i, 16 + i, (30, 30, 60, 255))
        if 10 + i < 22 - i:
            fill(10 + i, 15 + i, 22 - i, 16 + i, (250, 250, 250, 255))

    xor = b"".join(
        struct.pack("BBBB", b, g, r, a) for y in range(size - 1, -1, -1) for (r, g, b, a) in image[y]
    )
    mask_rows = []
    for y in range(size - 1, -1, -1):
        bits = 0
        for x in range(size):
            if image[y][x][3] == 0:
                bits |= 1 << (31 - x)
        mask_rows.append(struct.pack(">I", bits))
    mask = b"".join(mask_rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    data = info + xor + mask
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), 6 + 16)
    (HERE / "app.ico").write_bytes(head + entry + data)


if __name__ == "__main__":
    badge()
    icon()
