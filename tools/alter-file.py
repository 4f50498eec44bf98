#!/usr/bin/env python3
"""alter-file.py IN OUT: copies IN to OUT with one byte in the middle of
the file flipped, so that a signature made over IN no longer matches."""
import sys

data = bytearray(open(sys.argv[1], 'rb').read())
data[len(data) // 3] ^= 0xFF
with open(sys.argv[2], 'wb') as f:
    f.write(data)
