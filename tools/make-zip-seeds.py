#!/usr/bin/env python3
"""make-zip-seeds.py DIR: writes a handful of tiny ZIP archives (stored,
deflated, data descriptors, ZIP64 fields and end records, comment, empty)
made by Python's zipfile and, when it is installed, by Info-ZIP's zip, and
a libFuzzer dictionary of ZIP signatures into DIR. They seed the ZIP
reader's fuzzer and show that the reader accepts what these tools write."""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile


class Unseekable(io.RawIOBase):
    """A write-only stream without seek, so zipfile writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def archive(entries, compression, comment=b"", force_zip64=False, stream=False):
    out = Unseekable() if stream else io.BytesIO()
    with zipfile.ZipFile(out, "w", compression) as z:
        z.comment = comment
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = compression
            if name.endswith("/"):
                info.external_attr = 0x10
            with z.open(info, "w", force_zip64=force_zip64) as f:
                f.write(data)
    return bytes(out.data if stream else out.getvalue())


def with_zip64_end(data):
    """Rewrites the classic end record as ZIP64 end record, locator and a
    classic record with every field saturated."""
    end = data.rindex(b"PK\x05\x06")
    _, _, _, count, _, size, offset, _ = struct.unpack("<IHHHHIIH", data[end:end + 22])
    z64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<IIQI", 0x07064B50, 0, end, 1)
    classic = struct.pack("<IHHHHIIH", 0x06054B50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                          0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:end] + z64 + locator + classic


def infozip_seeds(files):
    """Archives written by Info-ZIP's zip: from a folder, with forced ZIP64,
    and from standard input, once into a pipe (which makes it write data
    descriptors) and once with forced ZIP64 into a file. (Forced ZIP64 into
    a pipe gives an archive that even unzip calls damaged.)"""
    if not shutil.which("zip"):
        return {}
    seeds = {}
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src")
        for name, data in files:
            path = os.path.join(src, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if not name.endswith("/"):
                with open(path, "wb") as f:
                    f.write(data)
        out = os.path.join(tmp, "out.zip")
        runs = {
            "infozip.zip": (["zip", "-q", "-r", out, "."], None),
            "infozip-zip64.zip": (["zip", "-q", "-r", "-X", "-fz", out, "."], None),
            "infozip-stream.zip": (["zip", "-q", "-", "-"], files[1][1]),
            "infozip-stdin64.zip": (["zip", "-q", "-fz", out, "-"], files[1][1]),
        }
        for name, (cmd, stdin) in runs.items():
            if os.path.exists(out):
                os.remove(out)
            piped = subprocess.run(cmd, cwd=src, input=stdin or b"", check=True,
                                   stdout=subprocess.PIPE).stdout
            if out in cmd:
                with open(out, "rb") as f:
                    piped = f.read()
            seeds[name] = piped
    return seeds


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.endswith(".zip"):
            os.remove(os.path.join(out, old))
    text = b"the quick brown fox jumps over the lazy dog\n" * 8
    files = [("dir/", b""), ("dir/a.txt", text), ("\u00fcber.bin", bytes(range(64)))]
    seeds = {
        "stored.zip": archive(files, zipfile.ZIP_STORED),
        "deflated.zip": archive(files, zipfile.ZIP_DEFLATED),
        "descriptor.zip": archive(files, zipfile.ZIP_DEFLATED, stream=True),
        "zip64.zip": archive(files[1:], zipfile.ZIP_DEFLATED, force_zip64=True),
        "zip64-end.zip": with_zip64_end(archive(files[1:], zipfile.ZIP_STORED)),
        "comment.zip": archive(files[1:2], zipfile.ZIP_STORED, comment=b"a comment"),
        "empty.zip": archive([], zipfile.ZIP_STORED),
    }
    seeds.update(infozip_seeds(files))
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    words = [b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x06\x06", b"PK\x06\x07",
             b"PK\x07\x08", b"\xff\xff\xff\xff", b"\xff\xff", b"\x01\x00\x08\x00"]
    with open(os.path.join(out, "zip.dict"), "w") as f:
        for w in words:
            f.write('"' + "".join("\\x%02x" % b for b in w) + '"\n')


if __name__ == "__main__":
    main()
