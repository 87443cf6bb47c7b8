#!/usr/bin/env python3
"""Draws the program icon (213: 32x32 and 16x16, 16 colours) and the About
bitmap (227: 64x51, 8 bits per pixel) and writes them into resources/.
Run it again after changing the drawing; the outputs are committed."""
import struct, sys, os

# 16-colour VGA palette (B, G, R, 0).
PALETTE16 = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),
             (192,192,192),(128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),
             (255,0,255),(0,255,255),(255,255,255)]  # as (R,G,B)
BLACK, NAVY, GREY, SILVER, BLUE, RED, WHITE, YELLOW = 0, 4, 8, 7, 12, 9, 15, 11

def gauge(size):
    """A monitor face: white dial in a navy case, a red limit mark, a blue trace."""
    px = [[NAVY]*size for _ in range(size)]
    m = max(1, size//16)
    for y in range(m*2, size-m*2):
        for x in range(m*2, size-m*2):
            px[y][x] = WHITE
    # the red limit line across the dial
    ly = size*2//5
    for x in range(m*2, size-m*2):
        px[ly][x] = RED
    # a blue load curve rising and falling
    import math
    prev = None
    for x in range(m*3, size-m*3):
        t = (x - m*3) / max(1, size-m*6-1)
        y = int(size - m*4 - (size-m*9) * (0.5 + 0.45*math.sin(t*math.pi*2.2)))
        y = max(m*3, min(size-m*4, y))
        lo, hi = (y, y) if prev is None else (min(prev, y), max(prev, y))
        for yy in range(lo, hi+1):
            px[yy][x] = BLUE
        prev = y
    return px

def icon_image(size):
    px = gauge(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size*2, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE16)
    row_bytes = ((size*4 + 31)//32)*4
    xor = b''
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(0, size, 2):
            row.append((px[y][x] << 4) | px[y][x+1])
        xor += bytes(row) + b'\0'*(row_bytes-len(row))
    and_row = ((size + 31)//32)*4
    mask = b'\0' * (and_row*size)  # fully opaque
    return header + pal + xor + mask

def write_ico(path):
    images = [icon_image(32), icon_image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16*len(images)
    for size, img in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    open(path, 'wb').write(out + b''.join(images))

def write_bmp(path, w=64, h=51):
    # 8 bits per pixel: the 16 gauge colours, the rest panel grey.
    palette = [PALETTE16[i] for i in range(16)] + [(210,210,210)]*240
    face = gauge(64)
    rows = []
    for y in reversed(range(h)):
        row = bytearray()
        for x in range(w):
            row.append(face[y + 6][x])  # the dial's middle 51 rows
        rows.append(bytes(row) + b'\0'*((-w) % 4))
    pixels = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    off = 14 + len(info) + len(pal)
    head = struct.pack('<2sIHHI', b'BM', off + len(pixels), 0, 0, off)
    open(path, 'wb').write(head + info + pal + pixels)

if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..', 'resources')
    write_ico(os.path.join(out, 'elq770.ico'))
    write_bmp(os.path.join(out, 'about.bmp'))
