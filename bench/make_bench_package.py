#!/usr/bin/env python3
"""Writes the ZIP archive of one extraction benchmark package, the same
bytes on every run.

  make_bench_package.py --kind mixed|small --installer SETUP.EXE --out ARCHIVE.zip

mixed: about 400 entries and 40 MB in 48 nested folders: prose and records
       that deflate well, and incompressible blobs (some stored, as an
       archiver stores what deflate cannot shrink), a few hidden files.
small: 5,000 files of 100 bytes to 3 KB in 50 folders, where the cost per
       entry outweighs the cost per byte.
Both carry the signed installer as Setup.exe, so that the launcher walks its
whole road, and folder entries before the files they hold.
"""
import argparse
import io
import os
import random
import sys
import zipfile

WORDS = ('the installer copies files into program folder and registers its components with '
         'system settings for every user of this machine Quillane document editor template '
         'page style font table image export').split()
STAMP = (2024, 1, 2, 3, 4, 6)


def prose(rng, size):
    words = rng.choices(WORDS, k=size // 5 + 16)
    ends = rng.choices(('.\r\n', ' '), weights=(1, 11), k=len(words))
    return ''.join(w + e for w, e in zip(words, ends)).encode('ascii')[:size]


def records(rng, size):
    out = bytearray()
    for i in range(size // 32 + 1):
        out += i.to_bytes(4, 'little') + (i * 3 + 7).to_bytes(4, 'little')
        out += bytes((rng.randrange(5), 0, 0, 0, rng.randrange(256), 0, 0, 0))
        out += b'item%05u\0\0\0\0\0\0\0' % (i % 100000)
    return bytes(out[:size])


def noise(rng, size):
    return rng.randbytes(size)


def folder_tree(count):
    """count folder names, each after its parent, up to four levels deep."""
    top = ['app/', 'data/', 'docs/', 'res/', 'plugins/', 'r\u00e9gion/']
    names = list(top)
    level = list(top)
    while len(names) < count:
        nxt = []
        for parent in level:
            for k in range(3):
                if len(names) >= count:
                    break
                name = '%ssub%d/' % (parent, k) if k != 1 else '%s\u65e5\u672c%d/' % (parent, len(names))
                names.append(name)
                nxt.append(name)
        level = nxt
    return names


def add(zf, name, data, attributes=0x20, stored=False):
    info = zipfile.ZipInfo(name, STAMP)
    info.external_attr = attributes
    info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
    zf.writestr(info, data)


def add_folder(zf, name):
    info = zipfile.ZipInfo(name, STAMP)
    info.external_attr = 0x10
    zf.writestr(info, b'')


def mixed(zf, rng):
    folders = folder_tree(48)
    files = {f: [] for f in folders}
    for i in range(350):
        f = folders[i * len(folders) // 350]
        kind = i % 4
        if kind == 0:
            files[f].append(('readme-%03d.txt' % i, prose(rng, rng.randrange(10000, 150000)), 0x20, False))
        elif kind == 1:
            files[f].append(('table-%03d.bin' % i, records(rng, rng.randrange(10000, 150000)), 0x20, False))
        elif kind == 2:
            attributes = 0x22 if i % 40 == 2 else 0x20
            files[f].append(('blob-%03d.\u00f8' % i, noise(rng, rng.randrange(5000, 60000)), attributes,
                             i % 8 == 2))
        else:
            files[f].append(('module-%03d.dll' % i, records(rng, 20000) + noise(rng, 20000) +
                             prose(rng, rng.randrange(10000, 80000)), 0x20, False))
    files['data/'].append(('bundle.dat', prose(rng, 5 << 20) + records(rng, 5 << 20), 0x20, False))
    files['res/'].append(('media.pak', noise(rng, 4 << 20), 0x20, True))
    return folders, files


def small(zf, rng):
    folders = folder_tree(50)
    files = {f: [] for f in folders}
    for i in range(5000):
        f = folders[i * len(folders) // 5000]
        size = rng.randrange(100, 3000)
        data = prose(rng, size) if i % 3 else records(rng, size)
        files[f].append(('item-%04d.%s' % (i, 'txt' if i % 3 else 'dat'), data, 0x20, False))
    return folders, files


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--kind', choices=('mixed', 'small'), required=True)
    ap.add_argument('--installer', required=True)
    ap.add_argument('--out', required=True)
    args = ap.parse_args()
    rng = random.Random(20240102 if args.kind == 'mixed' else 5000)
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w') as zf:
        folders, files = (mixed if args.kind == 'mixed' else small)(zf, rng)
        with open(args.installer, 'rb') as f:
            add(zf, 'Setup.exe', f.read())
        for folder in folders:
            add_folder(zf, folder)
            for name, data, attributes, stored in files[folder]:
                add(zf, folder + name, data, attributes, stored)
    tmp = args.out + '.tmp'
    with open(tmp, 'wb') as f:
        f.write(buf.getvalue())
    os.replace(tmp, args.out)


if __name__ == '__main__':
    sys.exit(main())
