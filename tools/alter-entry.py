#!/usr/bin/env python3
"""alter-entry.py IN OUT --damage NAME | --rename NAME NEW

Copies a launcher (or any file holding a ZIP archive) and changes one entry
of the archive inside it, for tests of the launcher's failure roads:
--damage flips a byte in the middle of the entry's stored data, so that it
no longer inflates or no longer matches its CRC-32; --rename gives the entry
another name of the same length, in its local and its central header, so
that the archive stays whole but the entry is found under the new name.
"""
import struct
import sys


def local_headers(data, name):
    at = data.find(b'PK\x03\x04')
    while at >= 0:
        n, extra = struct.unpack_from('<HH', data, at + 26)
        if data[at + 30:at + 30 + n] == name:
            yield at, n, extra
        at = data.find(b'PK\x03\x04', at + 4)


def central_headers(data, name):
    at = data.find(b'PK\x01\x02')
    while at >= 0:
        n = struct.unpack_from('<H', data, at + 28)[0]
        if data[at + 46:at + 46 + n] == name:
            yield at
        at = data.find(b'PK\x01\x02', at + 4)


def main():
    src, dst, action = sys.argv[1], sys.argv[2], sys.argv[3]
    name = sys.argv[4].encode('utf-8')
    data = bytearray(open(src, 'rb').read())
    found = list(local_headers(data, name))
    if len(found) != 1:
        sys.exit('alter-entry: %d local headers named %s' % (len(found), sys.argv[4]))
    at, n, extra = found[0]
    if action == '--damage':
        size = struct.unpack_from('<I', data, at + 18)[0]
        if size == 0:
            sys.exit('alter-entry: the entry has no data to damage')
        data[at + 30 + n + extra + size // 2] ^= 0xFF
    elif action == '--rename':
        new = sys.argv[5].encode('utf-8')
        if len(new) != len(name):
            sys.exit('alter-entry: the new name must be as long as the old one')
        data[at + 30:at + 30 + n] = new
        central = list(central_headers(data, name))
        if len(central) != 1:
            sys.exit('alter-entry: %d central headers named %s' % (len(central), sys.argv[4]))
        data[central[0] + 46:central[0] + 46 + n] = new
    else:
        sys.exit(__doc__)
    with open(dst + '.tmp', 'wb') as f:
        f.write(data)
    import os
    os.replace(dst + '.tmp', dst)


if __name__ == '__main__':
    main()
