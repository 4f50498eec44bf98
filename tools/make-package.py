#!/usr/bin/env python3
"""Builds the launcher's payload resource: a 16-byte header (archive offset,
archive length, 8 zero bytes) followed by a ZIP archive with UTF-8 names.

  make-package.py --out payload.bin [--dir FOLDER]... [--file NAME=PATH]...
                  [--raw-zip ZIP] [--zip-out ZIP]

--dir adds a folder's contents (relative names, folder entries included),
--file adds one file under the given archive name, --raw-zip wraps an
existing archive unchanged (for damaged-package tests).
"""
import argparse
import io
import os
import struct
import sys
import zipfile

HEADER = 16


def add_folder(zf, root):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        rel = os.path.relpath(dirpath, root)
        if rel != '.':
            info = zipfile.ZipInfo(rel.replace(os.sep, '/') + '/')
            info.external_attr = 0x10
            zf.writestr(info, b'')
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            add_file(zf, os.path.relpath(path, root).replace(os.sep, '/'), path)


def add_file(zf, name, path):
    """Adds one file, deflated, as a plain archived file (attribute 0x20)."""
    with open(path, 'rb') as f:
        data = f.read()
    info = zipfile.ZipInfo(name)
    info.external_attr = 0x20
    info.compress_type = zipfile.ZIP_DEFLATED
    zf.writestr(info, data)


def wrap(archive):
    return struct.pack('<II8x', HEADER, len(archive)) + archive


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--out', required=True)
    ap.add_argument('--dir', action='append', default=[])
    ap.add_argument('--file', action='append', default=[])
    ap.add_argument('--raw-zip')
    ap.add_argument('--zip-out')
    args = ap.parse_args()
    if args.raw_zip:
        with open(args.raw_zip, 'rb') as f:
            archive = f.read()
    else:
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, 'w') as zf:
            for d in args.dir:
                add_folder(zf, d)
            for item in args.file:
                name, path = item.split('=', 1)
                add_file(zf, name, path)
        archive = buf.getvalue()
    if args.zip_out:
        with open(args.zip_out, 'wb') as f:
            f.write(archive)
    tmp = args.out + '.tmp'
    with open(tmp, 'wb') as f:
        f.write(wrap(archive))
    os.replace(tmp, args.out)


if __name__ == '__main__':
    sys.exit(main())
