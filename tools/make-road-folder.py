#!/usr/bin/env python3
"""make-road-folder.py FOLDER: makes (once) the product folder of the
end-to-end packing test: nested folders, an empty folder, empty files,
names outside ASCII, a read-only file and one file of 200 MiB (sparse:
zeros with a stretch of text every 8 MiB, quick to make and to deflate).
No dot-files: Wine shows them hidden, Linux has no such bit, and the folder
must pack into the same bytes on both. The installer Setup.exe is copied in
by the test itself.

make-road-folder.py --expect FOLDER: prints the lines the sample installer
must report for that folder once unpacked ("dir <path>" and
"file <path> size=<n> crc32=<hex>", Windows separators), sorted."""
import os
import random
import stat
import sys
import zlib

from sample_text import numbered_lines

BIG = 200 << 20


WORDS = [b'quill', b'ink', b'page', b'setup', b'folder', b'Quillane', b'release', b'resource']


def text(rng, size):
    return numbered_lines(rng, size, WORDS, 9, 10)


def make(folder):
    stamp = folder.rstrip('/') + '.made'
    if os.path.exists(stamp):
        return
    rng = random.Random(11)
    files = {
        'ReadMe.txt': b'Quillane: read me first.\r\n',
        'docs/License.txt': text(rng, 30000),
        'docs/empty.txt': b'',
        'nested/a/b/c/deep.txt': b'deep down\n',
        'nested/a/empty.dat': b'',
        '\u00dcbersicht/\u65e5\u672c\u8a9e \u30d5\u30a1\u30a4\u30eb.txt': '\u3053\u3093\u306b\u3061\u306f'.encode(),
        'caf\u00e9 cr\u00e8me.txt': b'caf\xc3\xa9\n',
        '\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac/\u0434\u0430\u043d\u043d\u044b\u0435.bin': rng.randbytes(100000),
        'locked.txt': b'read only\n',
    }
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
    os.makedirs(os.path.join(folder, 'empty folder'), exist_ok=True)
    os.chmod(os.path.join(folder, 'locked.txt'), stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    os.makedirs(os.path.join(folder, 'big'), exist_ok=True)
    with open(os.path.join(folder, 'big', 'payload-200mb.bin'), 'wb') as f:
        f.truncate(BIG)
        for at in range(0, BIG, 8 << 20):
            f.seek(at + (at >> 20) * 4099 % (1 << 20))
            f.write(text(rng, 64 << 10))
    open(stamp, 'w').close()


def expect(folder):
    lines = []
    for root, dirs, names in os.walk(folder):
        rel = os.path.relpath(root, folder)
        for d in dirs:
            lines.append('dir ' + os.path.normpath(os.path.join(rel, d)).replace('/', '\\'))
        for n in names:
            path = os.path.join(root, n)
            crc = 0
            with open(path, 'rb') as f:
                for piece in iter(lambda: f.read(1 << 20), b''):
                    crc = zlib.crc32(piece, crc)
            lines.append('file %s size=%d crc32=%08x' % (
                os.path.normpath(os.path.join(rel, n)).replace('/', '\\'), os.path.getsize(path), crc))
    print('\n'.join(sorted(lines)))


if __name__ == '__main__':
    if sys.argv[1] == '--expect':
        expect(sys.argv[2])
    else:
        make(sys.argv[1])
