#!/usr/bin/env python3
"""make-bench-folder.py FOLDER MEGABYTES: makes (once) a folder of about
that many megabytes that looks like a product's installation files: a few
large files that deflate well, large ones that do not (already compressed
data), mixed ones, and many small text files in nested folders. The same
arguments always give the same files."""
import os
import random
import sys

from sample_text import numbered_lines


WORDS = [b'quill', b'ink', b'page', b'setup', b'folder', b'install', b'window', b'Quillane', b'release',
         b'library', b'resource', b'document']


def text_block(rng, size):
    return numbered_lines(rng, size, WORDS, 8, 12)


def main():
    folder, megabytes = sys.argv[1], int(sys.argv[2])
    stamp = folder.rstrip('/') + '.made-%d' % megabytes
    if os.path.exists(stamp):
        return
    rng = random.Random(5)
    mb = 1 << 20
    total = megabytes * mb
    plan = [('app/quillane.dll', 0.30, 'text'), ('app/data/packed.cab', 0.20, 'random'),
            ('app/data/mixed1.bin', 0.10, 'mixed'), ('app/data/mixed2.bin', 0.10, 'mixed'),
            ('app/help/manual.pdf', 0.10, 'random')]
    for name, share, kind in plan:
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            left = int(total * share)
            while left > 0:
                n = min(left, 4 * mb)
                if kind == 'text':
                    f.write(text_block(rng, n))
                elif kind == 'random':
                    f.write(rng.randbytes(n))
                else:
                    f.write(rng.randbytes(n // 2) + text_block(rng, n - n // 2))
                left -= n
    small = int(total * 0.20)
    i = 0
    while small > 0:
        n = rng.randint(1000, 60000)
        path = os.path.join(folder, 'app/resources/%02d/%03d/item%05d.txt' % (i % 7, i % 97, i))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(text_block(rng, n))
        small -= n
        i += 1
    open(stamp, 'w').close()


if __name__ == '__main__':
    main()
