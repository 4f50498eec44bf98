#!/usr/bin/env python3
"""make-splash-picture.py WIDTH HEIGHT OUT.ppm

Writes a binary PPM picture for the splash window: a diagonal colour
gradient with a fine checker band and a few solid blocks, so that any
misplaced, stretched or filtered pixel shows. Encode it with cjpeg."""
import sys


def pixel(x, y, w, h):
    r = (x * 255) // max(w - 1, 1)
    g = (y * 255) // max(h - 1, 1)
    b = ((x + y) * 255) // max(w + h - 2, 1)
    if h // 3 <= y < h // 3 + 8:  # a fine checker band
        v = 230 if (x // 2 + y // 2) % 2 else 25
        return v, v, v
    for i, colour in enumerate(((200, 40, 40), (40, 160, 60), (40, 70, 200))):
        left = w // 8 + i * (w // 4)
        if left <= x < left + w // 6 and 2 * h // 3 <= y < 2 * h // 3 + h // 6:
            return colour
    return r, g, b


def main():
    w, h, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    rows = bytearray()
    for y in range(h):
        for x in range(w):
            rows.extend(pixel(x, y, w, h))
    with open(out, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        f.write(rows)


if __name__ == "__main__":
    main()
