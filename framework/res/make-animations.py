#!/usr/bin/python3
"""Draws the program's own file-copy and delete clips as uncompressed 8-bit
AVI files (the form the common animation control plays without a codec).
The .avi files are committed; run this only to change them."""
import struct, os

W, H, FRAMES, FPS = 96, 48, 16, 12
# Palette index -> (r, g, b). Index 0 is the background: the control makes
# the top-left pixel's colour transparent.
PAL = [(255, 0, 255), (0, 0, 0), (255, 255, 255), (242, 193, 78), (184, 134, 11),
       (63, 136, 197), (22, 50, 79), (160, 160, 160), (200, 60, 50)]
BG, BLACK, WHITE, FOLDER, FOLDER_DARK, BLUE, NAVY, GREY, RED = range(9)

def canvas():
    return [[BG] * W for _ in range(H)]

def rect(img, x0, y0, x1, y1, c):
    for y in range(max(0, y0), min(H, y1)):
        for x in range(max(0, x0), min(W, x1)):
            img[y][x] = c

def frame_rect(img, x0, y0, x1, y1, fill, line):
    rect(img, x0, y0, x1, y1, line)
    rect(img, x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)

def folder(img, x, y):
    frame_rect(img, x, y, x + 10, y + 4, FOLDER_DARK, FOLDER_DARK)
    frame_rect(img, x, y + 3, x + 24, y + 21, FOLDER, FOLDER_DARK)

def sheet(img, x, y):
    frame_rect(img, x, y, x + 12, y + 15, WHITE, NAVY)
    for k in range(3):
        rect(img, x + 3, y + 4 + 3 * k, x + 9, y + 5 + 3 * k, BLUE)

def bin_(img, x, y):
    frame_rect(img, x - 2, y, x + 22, y + 3, GREY, BLACK)
    frame_rect(img, x, y + 3, x + 20, y + 24, GREY, BLACK)
    for k in range(3):
        rect(img, x + 5 + 5 * k, y + 7, x + 6 + 5 * k, y + 21, BLACK)

def arc(t, x0, x1, top, base):
    x = int(x0 + (x1 - x0) * t)
    y = int(base - (base - top) * 4 * t * (1 - t))
    return x, y

def copy_frames():
    out = []
    for i in range(FRAMES):
        img = canvas()
        folder(img, 4, 22)
        folder(img, 68, 22)
        x, y = arc(i / (FRAMES - 1), 10, 74, 2, 16)
        sheet(img, x, y)
        out.append(img)
    return out

def delete_frames():
    out = []
    for i in range(FRAMES):
        img = canvas()
        folder(img, 4, 22)
        bin_(img, 70, 21)
        t = i / (FRAMES - 1)
        x, y = arc(t, 10, 74, 0, 14)
        if t < 0.85:
            sheet(img, x, y)
        else:
            rect(img, 74, 18, 86, 21, RED)   # the sheet gone into the bin
        out.append(img)
    return out

def chunk(fourcc, data):
    pad = b'\0' if len(data) % 2 else b''
    return fourcc + struct.pack('<I', len(data)) + data + pad

def lst(kind, data):
    return chunk(b'LIST', kind + data)

def avi(frames):
    size = W * H
    avih = struct.pack('<IIIIIIIIII4I', 1000000 // FPS, size * FPS, 0, 0x10, len(frames), 0, 1, size, W, H, 0, 0, 0, 0)
    strh = struct.pack('<4s4sIHHIIIIIIIIhhhh', b'vids', b'DIB ', 0, 0, 0, 0, 1, FPS, 0, len(frames), size,
                       0xFFFFFFFF, 0, 0, 0, W, H)
    bih = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 8, 0, size, 0, 0, 256, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PAL + [(0, 0, 0)] * (256 - len(PAL)))
    hdrl = lst(b'hdrl', chunk(b'avih', avih) + lst(b'strl', chunk(b'strh', strh) + chunk(b'strf', bih + pal)))
    movi_data = b''
    index = b''
    for img in frames:
        # Bottom-up rows, as a DIB keeps them.
        pixels = bytes(v for row in reversed(img) for v in row)
        index += struct.pack('<4sIII', b'00db', 0x10, 4 + len(movi_data), len(pixels))
        movi_data += chunk(b'00db', pixels)
    body = b'AVI ' + hdrl + lst(b'movi', movi_data) + chunk(b'idx1', index)
    return b'RIFF' + struct.pack('<I', len(body)) + body

here = os.path.dirname(os.path.abspath(__file__))
for name, frames in (('copy_files.avi', copy_frames()), ('delete_file.avi', delete_frames())):
    with open(os.path.join(here, name), 'wb') as f:
        f.write(avi(frames))
