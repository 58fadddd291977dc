#!/usr/bin/python3
"""Draws the tree's check-image strips and expand buttons (our own artwork)
and writes them as 24-bit BMP files plus the resource script naming them.

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
    with open(os.path.join(out, "TreeImages.rc"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
