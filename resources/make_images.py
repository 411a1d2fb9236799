#!/usr/bin/env python3
"""Draws the window's logo (logo.gif) and the program icon (brelvin.ico).

Standard library only: the GIF LZW encoder and the ICO/BMP writer are here.
Run from anywhere:  python3 resources/make_images.py
The outputs are committed next to this script; run it again after changing a picture.

logo.gif    GIF89a, 89 x 32, global colour table of 256 entries, 5 frames of 200 ms,
            every frame the full image at 0,0, not interlaced, disposal 0, frame 1 with
            transparent colour index 255, frames 2-5 without transparency, NETSCAPE2.0
            loop count 0. The picture: a small green board with a chip, traces and a
            status LED; a bright pulse runs along the data trace from frame to frame.
brelvin.ico 48, 32 and 16 pixels, each in 256 and in 16 colours (six images): a chip
            with pins on all four sides and a green "B".
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# --- Colours ------------------------------------------------------------------------------
# Logo palette indices. 255 is the background: transparent in frame 1, and in frames 2-5
# the same grey as the window's face so the frames look alike.
BLACK, PCB_DARK, PCB, COPPER, GOLD, CHIP, CHIP_EDGE, WHITE = range(8)
PULSE, PULSE_GLOW, LED_ON, LED_OFF, SILK, HOLE = range(8, 14)
BACKGROUND = 255

LOGO_COLOURS = {
    BLACK: (0, 0, 0),
    PCB_DARK: (0, 80, 30),
    PCB: (0, 128, 56),
    COPPER: (184, 115, 51),
    GOLD: (212, 175, 55),
    CHIP: (40, 40, 48),
    CHIP_EDGE: (90, 90, 104),
    WHITE: (255, 255, 255),
    PULSE: (255, 255, 120),
    PULSE_GLOW: (240, 200, 80),
    LED_ON: (255, 40, 40),
    LED_OFF: (110, 20, 20),
    SILK: (230, 240, 230),
    HOLE: (200, 200, 200),
    BACKGROUND: (240, 240, 240),
}

LOGO_W, LOGO_H = 89, 32
FRAMES = 5
DELAY_CS = 20  # hundredths of a second

# Small pixel letters (5 rows) for the silk-screen text.
FONT = {
    "B": ["110", "101", "110", "101", "110"],
    "W": ["10001", "10001", "10101", "10101", "01010"],
    "S": ["011", "100", "010", "001", "110"],
}


def logo_palette():
    pal = []
    for i in range(256):
        if i in LOGO_COLOURS:
            pal.append(LOGO_COLOURS[i])
        else:
            # Unused entries: a neutral grey ramp, so the table is a full 256 entries.
            g = i
            pal.append((g, g, g))
    return pal


def draw_logo_frame(k):
    """Frame k (0-based) as rows of palette indices."""
    px = [[BACKGROUND] * LOGO_W for _ in range(LOGO_H)]

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(LOGO_H, y1 + 1)):
            for x in range(max(0, x0), min(LOGO_W, x1 + 1)):
                px[y][x] = c

    def put(x, y, c):
        if 0 <= x < LOGO_W and 0 <= y < LOGO_H:
            px[y][x] = c

    # The board: a dark outline, rounded corners, mounting holes.
    rect(1, 2, 87, 29, PCB_DARK)
    rect(2, 3, 86, 28, PCB)
    for (x, y) in ((1, 2), (87, 2), (1, 29), (87, 29)):
        put(x, y, BACKGROUND)
    for (x, y) in ((4, 5), (84, 5), (4, 26), (84, 26)):
        rect(x - 1, y - 1, x + 1, y + 1, GOLD)
        put(x, y, HOLE)

    # The chip with its pins (8 on top, 8 below).
    cx0, cy0, cx1, cy1 = 30, 10, 58, 21
    for i in range(8):
        x = cx0 + 2 + i * 3 + (1 if i > 3 else 0)
        rect(x, cy0 - 2, x + 1, cy0 - 1, GOLD)
        rect(x, cy1 + 1, x + 1, cy1 + 2, GOLD)
    rect(cx0, cy0, cx1, cy1, CHIP_EDGE)
    rect(cx0 + 1, cy0 + 1, cx1 - 1, cy1 - 1, CHIP)
    put(cx0 + 2, cy0 + 2, CHIP_EDGE)  # pin-1 mark
    # "BWS" on the chip.
    x = cx0 + 8
    for ch in "BWS":
        for r, row in enumerate(FONT[ch]):
            for c, bit in enumerate(row):
                if bit == "1":
                    put(x + c, cy0 + 3 + r, SILK)
        x += len(FONT[ch][0]) + 2

    # Connector on the left, the data trace from it to the chip, and traces to the LED.
    rect(6, 11, 11, 20, GOLD)
    rect(7, 12, 10, 19, COPPER)
    trace_y = 15
    rect(12, trace_y, cx0 - 1, trace_y, COPPER)
    rect(12, trace_y + 1, cx0 - 1, trace_y + 1, COPPER)
    rect(cx1 + 1, trace_y, 74, trace_y, COPPER)
    rect(74, 8, 74, trace_y, COPPER)
    rect(cx1 + 1, 18, 68, 18, COPPER)
    rect(68, 18, 68, 23, COPPER)
    rect(62, 23, 80, 23, COPPER)

    # The status LED: lit in every other frame.
    rect(72, 6, 76, 9, BLACK)
    rect(73, 7, 75, 8, LED_ON if k % 2 == 0 else LED_OFF)

    # The moving highlight: a pulse running along the data trace, one step per frame.
    positions = [12, 15, 19, 23, 27]
    p = positions[k]
    rect(p - 1, trace_y - 1, p + 2, trace_y + 2, PULSE_GLOW)
    rect(p, trace_y, p + 1, trace_y + 1, PULSE)
    return px


# --- GIF ------------------------------------------------------------------------------------
def lzw_encode(indices, min_code_size=8):
    """GIF variable-length LZW: clear code first, codes packed LSB first."""
    clear = 1 << min_code_size
    end = clear + 1
    out_bits = []  # (code, width)

    def reset():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    out_bits.append((clear, width))
    w = b""
    for value in indices:
        wc = w + bytes([value])
        if wc in table:
            w = wc
            continue
        out_bits.append((table[w], width))
        if next_code < 4096:
            table[wc] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            out_bits.append((clear, width))
            table, next_code, width = reset()
        w = bytes([value])
    if w:
        out_bits.append((table[w], width))
    out_bits.append((end, width))

    acc = 0
    nbits = 0
    data = bytearray()
    for code, wdt in out_bits:
        acc |= code << nbits
        nbits += wdt
        while nbits >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        data.append(acc & 0xFF)
    return bytes(data)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def write_gif(path):
    pal = logo_palette()
    out = bytearray(b"GIF89a")
    # Logical screen: global table present, 8 bits colour resolution, 256 entries.
    out += struct.pack("<HHBBB", LOGO_W, LOGO_H, 0xF7, BACKGROUND, 0)
    for r, g, b in pal:
        out += bytes((r, g, b))
    # NETSCAPE2.0: loop count 0 (repeat without end).
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    for k in range(FRAMES):
        transparent = k == 0
        packed = (0 << 2) | (1 if transparent else 0)  # disposal 0, no user input
        out += b"\x21\xF9\x04" + struct.pack("<BHB", packed, DELAY_CS,
                                             BACKGROUND if transparent else 0) + b"\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, LOGO_W, LOGO_H, 0)
        flat = [v for row in draw_logo_frame(k) for v in row]
        out.append(8)
        out += sub_blocks(lzw_encode(flat, 8))
    out += b"\x3B"
    with open(path, "wb") as f:
        f.write(out)


# --- ICO ------------------------------------------------------------------------------------
# The 16 standard colours of the 4-bit icons.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

ICON_COLOURS = {
    "body": (40, 40, 48),
    "edge": (96, 96, 112),
    "pin": (212, 175, 55),
    "letter": (0, 200, 80),
    "shine": (150, 150, 170),
}


def draw_icon(size):
    """RGB rows, None where the icon is transparent."""
    px = [[None] * size for _ in range(size)]
    s = size / 48.0

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, int(y0)), min(size, int(y1) + 1)):
            for x in range(max(0, int(x0)), min(size, int(x1) + 1)):
                px[y][x] = ICON_COLOURS[c]

    m0, m1 = round(8 * s), size - 1 - round(8 * s)
    # Pins on every side.
    npins = 5 if size >= 32 else 3
    span = m1 - m0
    for i in range(npins):
        c = m0 + int((i + 0.5) * span / npins + 0.5)
        w = max(1, round(2 * s))
        rect(c - w // 2, m0 - round(6 * s), c - w // 2 + w - 1, m0 - 1, "pin")
        rect(c - w // 2, m1 + 1, c - w // 2 + w - 1, m1 + round(6 * s), "pin")
        rect(m0 - round(6 * s), c - w // 2, m0 - 1, c - w // 2 + w - 1, "pin")
        rect(m1 + 1, c - w // 2, m1 + round(6 * s), c - w // 2 + w - 1, "pin")
    rect(m0, m0, m1, m1, "edge")
    rect(m0 + 1, m0 + 1, m1 - 1, m1 - 1, "body")
    shine = max(1, round(2 * s))
    rect(m0 + 1, m0 + 1, m1 - 1, m0 + shine, "shine")
    # A "B" drawn on a 5 x 7 grid, scaled into the chip.
    glyph = ["11110", "10001", "10001", "11110", "10001", "10001", "11110"]
    inner = m1 - m0 - 1
    cell = max(1, inner // 9)
    gx = m0 + 1 + (inner - 5 * cell) // 2
    gy = max(m0 + 1 + shine, m0 + 1 + (inner - 7 * cell) // 2 + (1 if size >= 32 else 0))
    for r, row in enumerate(glyph):
        for c, bit in enumerate(row):
            if bit == "1":
                rect(gx + c * cell, gy + r * cell, gx + c * cell + cell - 1,
                     gy + r * cell + cell - 1, "letter")
    return px


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], rgb)))


def icon_palette256():
    pal = list(VGA16)
    for rgb in ICON_COLOURS.values():
        if rgb not in pal:
            pal.append(rgb)
    while len(pal) < 256:
        g = len(pal)
        pal.append((g, g, g))
    return pal


def bmp_image(size, bits):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask (bottom-up)."""
    rgb = draw_icon(size)
    palette = icon_palette256() if bits == 8 else VGA16
    ncolours = 1 << bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, ncolours, 0)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    xor_stride = ((size * bits + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = rgb[y]
        idx = [0 if c is None else nearest(palette, c) for c in row]
        line = bytearray()
        if bits == 8:
            line += bytes(idx)
        else:
            for x in range(0, size, 2):
                hi = idx[x]
                lo = idx[x + 1] if x + 1 < size else 0
                line.append((hi << 4) | lo)
        line += b"\x00" * (xor_stride - len(line))
        xor += line
        m = bytearray(and_stride)
        for x, c in enumerate(row):
            if c is None:
                m[x // 8] |= 0x80 >> (x % 8)
        mask += m
    return header + pal + bytes(xor) + bytes(mask)


def write_ico(path):
    images = []
    for size in (48, 32, 16):
        for bits in (8, 4):
            images.append((size, bits, bmp_image(size, bits)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colours = 0 if bits == 8 else 16
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    write_gif(os.path.join(HERE, "logo.gif"))
    write_ico(os.path.join(HERE, "brelvin.ico"))
