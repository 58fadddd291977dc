#!/usr/bin/python3
"""Draws the tree's check-image strips and expand buttons (our own artwork)
and writes them as 24-bit BMP files, draws the cursors of wheel panning and
of the header's column splitter as monochrome 32 x 32 CUR files, and writes
the resource script naming them all.

Usage: make_check_images.py OUTDIR

Every strip is 25 square images of 16 x 16 pixels: 0 empty, 1-4 radio
unchecked, 5-8 radio checked, 9-12 box unchecked, 13-16 box checked, 17-20
box mixed, 21-24 push button; in each group normal, hot, pressed, disabled.
The top-left pixel of each image is the transparent colour (magenta). White,
silver and grey are mapped to the window, face and shadow colours when the
tree loads a strip (except the XP strip), so only those three stand for
system colours. The output depends on nothing but this file.
"""
import math
import os
import struct
import sys

SIZE = 16
MAGENTA = (255, 0, 255)
WHITE = (255, 255, 255)
SILVER = (192, 192, 192)
GREY = (128, 128, 128)
BLACK = (0, 0, 0)
DARK = (64, 64, 64)
HOT = (0, 102, 204)

NORMAL, HOTV, PRESSED, DISABLED = range(4)


class Image:
    def __init__(self, w=SIZE, h=SIZE, fill=MAGENTA):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x1, y1, x2, y2, c):
        for y in range(y1, y2 + 1):
            for x in range(x1, x2 + 1):
                self.set(x, y, c)


# A style says how frames, faces and marks look.
class Style:
    def __init__(self, frame, inner, face, mark, thick, hot, pressed_face, disabled):
        self.frame, self.inner, self.face, self.mark = frame, inner, face, mark
        self.thick, self.hot, self.pressed_face, self.disabled = thick, hot, pressed_face, disabled

    def colours(self, variant):
        frame, face, mark = self.frame, self.face, self.mark
        if variant == HOTV:
            frame = self.hot
        elif variant == PRESSED:
            face = self.pressed_face
        elif variant == DISABLED:
            frame, face, mark = self.disabled, self.pressed_face, self.disabled
        return frame, face, mark


def box(img, st, variant, face_fn=None):
    frame, face, _ = st.colours(variant)
    img.rect(2, 2, 14, 14, frame)
    if st.inner and variant != DISABLED:
        img.rect(3, 3, 13, 3, st.inner)
        img.rect(3, 3, 3, 13, st.inner)
    x0 = 4 if st.inner and variant != DISABLED else 3
    for y in range(x0, 14):
        for x in range(x0, 14):
            img.set(x, y, face_fn(y) if face_fn and variant not in (PRESSED, DISABLED) else face)


def check_mark(img, colour, thick):
    # A tick: down-right from (5,8) to (7,10), then up-right to (11,6).
    points = [(5, 8), (6, 9), (7, 10), (8, 9), (9, 8), (10, 7), (11, 6)]
    rows = 3 if thick else 2
    for x, y in points:
        for d in range(rows):
            img.set(x, y + d - (1 if thick else 0), colour)


def mixed_mark(img, colour):
    img.rect(6, 6, 10, 10, colour)


def radio(img, st, variant, checked, face_fn=None):
    frame, face, mark = st.colours(variant)
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x - 8, y - 8)
            if d <= 6.2:
                if d > 5.2:
                    img.set(x, y, frame)
                else:
                    img.set(x, y, face_fn(y) if face_fn and variant not in (PRESSED, DISABLED) else face)
                if checked and d <= 2.3:
                    img.set(x, y, mark)


def push_button(img, st, variant):
    light, shadow, outer, face = WHITE, GREY, DARK, SILVER
    if variant == PRESSED:
        light, shadow = shadow, light
    if variant == DISABLED:
        light, shadow, outer = SILVER, GREY, GREY
    img.rect(1, 1, 14, 14, face)
    img.rect(1, 1, 14, 1, light)
    img.rect(1, 1, 1, 14, light)
    img.rect(1, 14, 14, 14, outer)
    img.rect(14, 1, 14, 14, outer)
    img.rect(2, 13, 13, 13, shadow)
    img.rect(13, 2, 13, 13, shadow)
    if variant == HOTV:
        img.rect(0, 0, 15, 0, st.hot)
        img.rect(0, 15, 15, 15, st.hot)
        img.rect(0, 0, 0, 15, st.hot)
        img.rect(15, 0, 15, 15, st.hot)
        img.set(0, 0, MAGENTA)   # keeps the transparent colour in the corner


def strip(st, face_fn=None):
    images = [Image()]
    for group in range(6):
        for variant in range(4):
            img = Image()
            if group in (0, 1):
                radio(img, st, variant, group == 1, face_fn)
            elif group in (2, 3, 4):
                box(img, st, variant, face_fn)
                mark = st.colours(variant)[2]
                if group == 3:
                    check_mark(img, mark, st.thick)
                elif group == 4:
                    mixed_mark(img, mark)
            else:
                push_button(img, st, variant)
            images.append(img)
    out = Image(SIZE * len(images), SIZE)
    for i, img in enumerate(images):
        for y in range(SIZE):
            out.px[y][i * SIZE:(i + 1) * SIZE] = img.px[y]
    return out


def xp_face(y):
    t = (y - 3) / 10.0
    return tuple(int(round(a + (b - a) * t)) for a, b in zip((221, 219, 207), (252, 252, 250)))


def expand_button(plus):
    img = Image(9, 9)
    img.rect(0, 0, 8, 8, (120, 152, 181))
    for y in range(1, 8):
        c = tuple(int(round(a + (b - a) * (y - 1) / 6.0)) for a, b in zip((255, 255, 255), (198, 198, 189)))
        img.rect(1, y, 7, y, c)
    for x, y in ((0, 0), (8, 0), (0, 8), (8, 8)):
        img.set(x, y, MAGENTA)
    img.rect(2, 4, 6, 4, BLACK)
    if plus:
        img.rect(4, 2, 4, 6, BLACK)
    return img


def write_bmp(path, img):
    row = (img.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(img.h - 1, -1, -1):
        line = bytearray()
        for r, g, b in img.px[y]:
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, img.w, img.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


STYLES = {
    "LT_CHECK_LIGHT": (Style(GREY, None, WHITE, DARK, True, HOT, SILVER, GREY), None),
    "LT_CHECK_DARK": (Style(BLACK, GREY, WHITE, BLACK, True, HOT, SILVER, GREY), None),
    "LT_TICK_LIGHT": (Style(GREY, None, WHITE, DARK, False, HOT, SILVER, GREY), None),
    "LT_TICK_DARK": (Style(BLACK, GREY, WHITE, BLACK, False, HOT, SILVER, GREY), None),
    "LT_FLAT": (Style(DARK, None, WHITE, BLACK, True, HOT, SILVER, GREY), None),
    "LT_XP": (Style((28, 81, 128), None, (244, 244, 240), (33, 161, 33), True, (255, 183, 0),
                    (176, 176, 167), (202, 200, 187)), xp_face),
}


# ---- cursors ----------------------------------------------------------------

CURSOR = 32
CENTRE = 15.5

# The pan cursors: an anchor dot with an arrow for each way the view may go.
# Directions are unit steps in screen terms (y grows downwards).
PAN_CURSORS = {
    "LT_MOVEALL": [(0, -1), (0, 1), (-1, 0), (1, 0)],
    "LT_MOVENS": [(0, -1), (0, 1)],
    "LT_MOVEEW": [(-1, 0), (1, 0)],
    "LT_MOVEN": [(0, -1)],
    "LT_MOVES": [(0, 1)],
    "LT_MOVEW": [(-1, 0)],
    "LT_MOVEE": [(1, 0)],
    "LT_MOVENW": [(-1, -1)],
    "LT_MOVENE": [(1, -1)],
    "LT_MOVESW": [(-1, 1)],
    "LT_MOVESE": [(1, 1)],
}


def in_arrow(x, y, dx, dy):
    """Whether a pixel centre lies in the arrow head pointing along (dx, dy)."""
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length
    px, py = x + 0.5 - (CENTRE + 0.5), y + 0.5 - (CENTRE + 0.5)
    along = px * ux + py * uy
    across = abs(-px * uy + py * ux)
    # Tip 14 pixels out, base 7 pixels out, 6 pixels wide on each side at the base.
    return 7 <= along <= 14 and across <= (14 - along) * 6 / 7.0


def pan_shape(directions):
    shape = set()
    for y in range(CURSOR):
        for x in range(CURSOR):
            if math.hypot(x - CENTRE, y - CENTRE) <= 2.6:
                shape.add((x, y))
            elif any(in_arrow(x, y, dx, dy) for dx, dy in directions):
                shape.add((x, y))
    return shape


def split_shape():
    """Two upright bars with an arrow out of each side: the column splitter."""
    shape = set()
    for y in range(8, 24):
        for x in (14, 17):
            shape.add((x, y))
    for x in range(5, 27):
        if x not in (14, 17):
            shape.add((x, 15))
            shape.add((x, 16))
    for d in range(1, 5):
        for y in range(15 - d, 17 + d):
            shape.add((4 + d, y))
            shape.add((27 - d, y))
    return shape


def cursor_pixels(shape):
    """Black shape inside a white outline; everything else transparent.
    Answers rows of 'k' (black), 'w' (white) and '.' (transparent)."""
    rows = []
    for y in range(CURSOR):
        row = ""
        for x in range(CURSOR):
            if (x, y) in shape:
                row += "k"
            elif any((x + i, y + j) in shape for i in (-1, 0, 1) for j in (-1, 0, 1)):
                row += "w"
            else:
                row += "."
        rows.append(row)
    return rows


def write_cur(path, rows, hotspot):
    def mask(bit_of):
        data = bytearray()
        for y in range(CURSOR - 1, -1, -1):   # bottom row first
            for byte in range(CURSOR // 8):
                v = 0
                for b in range(8):
                    if bit_of(rows[y][byte * 8 + b]):
                        v |= 0x80 >> b
                data.append(v)
        return bytes(data)
    xor = mask(lambda c: c == "w")
    and_ = mask(lambda c: c == ".")
    info = struct.pack("<IiiHHIIiiII", 40, CURSOR, CURSOR * 2, 1, 1, 0, len(xor) + len(and_), 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    image = info + palette + xor + and_
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", CURSOR, CURSOR, 2, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


def cursors():
    out = [(name, cursor_pixels(pan_shape(dirs))) for name, dirs in PAN_CURSORS.items()]
    out.append(("LT_HEADERSPLIT", cursor_pixels(split_shape())))
    return out


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    lines = ["// Made by tree/res/make_check_images.py; do not edit."]
    for name, (st, face_fn) in STYLES.items():
        fname = name.lower() + ".bmp"
        write_bmp(os.path.join(out, fname), strip(st, face_fn))
        lines.append('%s BITMAP "%s"' % (name, fname))
    for name, plus in (("LT_XPBUTTONPLUS", True), ("LT_XPBUTTONMINUS", False)):
        fname = name.lower() + ".bmp"
        write_bmp(os.path.join(out, fname), expand_button(plus))
        lines.append('%s BITMAP "%s"' % (name, fname))
    for name, rows in cursors():
        fname = name.lower() + ".cur"
        write_cur(os.path.join(out, fname), rows, (15, 15))
        lines.append('%s CURSOR "%s"' % (name, fname))
    with open(os.path.join(out, "TreeImages.rc"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
