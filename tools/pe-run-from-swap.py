#!/usr/bin/env python3
"""pe-run-from-swap.py IMAGE...

Marks each Windows image so that the loader copies it to the swap file
before running it when it is started from a network share or a removable
drive (IMAGE_FILE_NET_RUN_FROM_SWAP | IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP in
the file header), then writes the header checksum anew. Without the flags
the image is paged from where it was started for the whole run: a share
that drops, or a stick pulled while the installer runs, kills the launcher
with an in-page error and leaves its workspace behind.

The GNU linker has no switch for these flags, so the build applies this
after every link of a launcher. A file that is not a PE image is refused
and left as it was; the file is replaced in one rename, never half written.
"""
import os
import struct
import sys

IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP = 0x0400
IMAGE_FILE_NET_RUN_FROM_SWAP = 0x0800
RUN_FROM_SWAP = IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP

# Offsets inside the image: e_lfanew in the DOS header; inside the NT
# headers, the file header's Characteristics after "PE\0\0" and five fields
# (Machine, NumberOfSections, TimeDateStamp, PointerToSymbolTable,
# NumberOfSymbols, SizeOfOptionalHeader = 2+2+4+4+4+2 bytes), and the
# optional header's CheckSum, 64 bytes into it in both PE32 and PE32+.
DOS_LFANEW = 0x3C
FILE_HEADER = 4
CHARACTERISTICS = FILE_HEADER + 18
OPTIONAL_HEADER = FILE_HEADER + 20
CHECKSUM = OPTIONAL_HEADER + 64


def locate(image):
    """Returns (characteristics offset, checksum offset) or raises ValueError."""
    if len(image) < DOS_LFANEW + 4 or image[:2] != b"MZ":
        raise ValueError("no DOS header")
    nt = struct.unpack_from("<I", image, DOS_LFANEW)[0]
    if nt + CHECKSUM + 4 > len(image) or image[nt:nt + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    optional_size = struct.unpack_from("<H", image, nt + FILE_HEADER + 16)[0]
    magic = struct.unpack_from("<H", image, nt + OPTIONAL_HEADER)[0]
    if magic not in (0x10B, 0x20B) or optional_size < 68:
        raise ValueError("no PE32 or PE32+ optional header")
    return nt + CHARACTERISTICS, nt + CHECKSUM


def pe_checksum(image, checksum_offset):
    """The loader's image checksum: the 16-bit one's-complement-style sum of
    the file with the checksum field taken as zero, plus the file's length."""
    data = bytearray(image)
    data[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def mark(path):
    with open(path, "rb") as f:
        image = bytearray(f.read())
    characteristics, checksum = locate(image)
    flags = struct.unpack_from("<H", image, characteristics)[0]
    struct.pack_into("<H", image, characteristics, flags | RUN_FROM_SWAP)
    struct.pack_into("<I", image, checksum, pe_checksum(image, checksum))
    temporary = path + ".swap.tmp"
    with open(temporary, "wb") as f:
        f.write(image)
    os.chmod(temporary, os.stat(path).st_mode)
    os.replace(temporary, path)


def main(paths):
    if not paths:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    for path in paths:
        try:
            mark(path)
        except (OSError, ValueError) as error:
            print(f"pe-run-from-swap: {path}: {error}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
