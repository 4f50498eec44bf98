#!/usr/bin/env python3
"""Writes the launcher's icon: one 32x32 32-bit image, a quill-blue disc."""
import struct
import sys

N = 32
pixels = bytearray()
for y in range(N - 1, -1, -1):          # bottom-up rows
    for x in range(N):
        dx, dy = x - 15.5, y - 15.5
        inside = dx * dx + dy * dy <= 15 * 15
        pixels += bytes((0xB0, 0x60, 0x20, 0xFF)) if inside else bytes(4)
mask = bytes(N * 4)                      # 1-bit AND mask, rows padded to 32 bits
bmp = struct.pack('<IiiHHIIiiII', 40, N, N * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
image = bmp + pixels + mask
ico = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', N, N, 0, 0, 1, 32, len(image), 22) + image
with open(sys.argv[1], 'wb') as f:
    f.write(ico)
