#!/usr/bin/env python3
"""make-broken-pictures.py PICTURE.jpg OUTDIR: writes three "pictures" that
no picture loader can read, for launchers that must fail to make a window:
  short.jpg      3 bytes, the start of a JPEG and nothing more
  random.jpg     4 KiB of random bytes (a fixed seed: the same every build)
  truncated.jpg  the first 60 % of PICTURE.jpg"""
import os
import random
import sys

picture, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
whole = open(picture, 'rb').read()
noise = random.Random(20211030)
pictures = {
    'short.jpg': b'\xFF\xD8\xFF',
    # Anything but a known picture signature at the start.
    'random.jpg': bytes([0x5A]) + bytes(noise.randrange(256) for _ in range(4095)),
    'truncated.jpg': whole[:len(whole) * 6 // 10],
}
for name, data in pictures.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
