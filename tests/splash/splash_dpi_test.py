#!/usr/bin/python3
"""The splash window at several screen DPIs, under the build's Wine session.

    splash_dpi_test.py BUILD

For each screen DPI (LogPixels of the prefix, put back afterwards):
  * the real launcher (the sample's 420 x 240 picture) and a launcher with a
    301 x 199 picture are started as a user would; their splash windows must
    have the client size of the picture scaled for that DPI and sit centred
    on the monitor's full rectangle;
  * the picture test program checks, inside Wine, that the screen shows the
    window's picture one to one; at 144 DPI it also dumps the decoded picture
    and the client area, and here the client area is compared with Pillow's
    bilinear enlargement of the same decoded picture.
At 96 DPI the picture test also sends its window the system's message for a
change of DPI, for 144, 120 and back to 96 DPI, and dumps the client area
after each; the enlarged ones are compared with Pillow's in the same way.
Changing LogPixels changes it for every program of the prefix, so this test
runs alone.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

BUILD = os.path.abspath(sys.argv[1])
RUN = os.path.join(BUILD, "wine-run.sh")
DESKTOP = r"HKCU\Control Panel\Desktop"

# DPI -> expected client sizes of the two launchers; 110 counts as 96.
CASES = {
    96: {"sample": (420, 240), "odd": (301, 199)},
    110: {"sample": (420, 240), "odd": (301, 199)},
    120: {"sample": (525, 300), "odd": (376, 249)},
    144: {"sample": (630, 360), "odd": (452, 299)},
}
LAUNCHERS = {
    "sample": os.path.join(BUILD, "bin", "sfx-launcher.exe"),
    "odd": os.path.join(BUILD, "tests", "splash", "splash-301x199.exe"),
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def wine(args, log, env=None):
    """Runs a program under Wine; its output goes to a file, never a pipe."""
    with open(log, "wb") as out:
        return subprocess.call([RUN] + args, stdout=out, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, env=env)


def read_dpi(work):
    log = os.path.join(work, "query.txt")
    wine(["reg", "query", DESKTOP, "/v", "LogPixels"], log)
    for line in open(log, errors="replace"):
        parts = line.split()
        if len(parts) == 3 and parts[0] == "LogPixels":
            return int(parts[2], 0)
    return None


def set_dpi(work, dpi):
    log = os.path.join(work, "reg.txt")
    if dpi is None:
        wine(["reg", "delete", DESKTOP, "/v", "LogPixels", "/f"], log)
    else:
        wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
             log)


def watch(work, name, dpi):
    report = os.path.join(work, "%s-%d.txt" % (name, dpi))
    status = wine([os.path.join(BUILD, "bin", "splash-watch.exe"), winpath(LAUNCHERS[name]),
                   winpath(report)], os.path.join(work, "watch.log"))
    check(status == 0, "%d DPI, %s launcher: no splash window seen, or it did not end" % (dpi, name))
    if not os.path.exists(report):
        return None
    fields = {}
    for line in open(report):
        key, *values = line.split()
        fields[key] = [int(v) for v in values]
    return fields


def centred(fields):
    left, top, right, bottom = fields["window"]
    ml, mt, mr, mb = fields["monitor"]
    w, h = right - left, bottom - top
    return left == (ml + mr) // 2 - (w + 1) // 2 and top == (mt + mb) // 2 - (h + 1) // 2


def read_dump(path):
    with open(path, "rb") as f:
        width, height = map(int, f.readline().split(b"x"))
        return Image.frombytes("RGB", (width, height), f.read(), "raw", "BGRX")


def compare_with_pillow(work, screen_dump, what):
    decoded = read_dump(os.path.join(work, "decoded.bgra"))
    screen = read_dump(os.path.join(work, screen_dump))
    reference = decoded.resize(screen.size, Image.BILINEAR)
    diffs = sorted(abs(a - b) for p, q in zip(screen.getdata(), reference.getdata())
                   for a, b in zip(p, q))
    mean = sum(diffs) / len(diffs)
    p99 = diffs[int(len(diffs) * 0.99)]
    print("%s: client %dx%d against Pillow's bilinear enlargement of %dx%d: "
          "mean absolute difference %.2f, 99th percentile %d" %
          ((what,) + screen.size + decoded.size + (mean, p99)))
    check(mean <= 2.0, "%s: mean difference %.2f above 2" % (what, mean))
    check(p99 <= 16, "%s: 99th percentile %d above 16" % (what, p99))


def picture_test(work, name, dpi, test):
    """Runs one test of the picture test program, dumping into work."""
    env = dict(os.environ, QLN_PICTURE_DUMP=winpath(work), GTEST_FILTER="SplashPicture." + test)
    log = os.path.join(work, "%s-%d.log" % (name, dpi))
    status = wine([os.path.join(BUILD, "tests", "splash_picture_test.exe")], log, env)
    check(status == 0, "%d DPI: the picture test %s failed (%s)" % (dpi, test, log))
    return status == 0


def main():
    work = tempfile.mkdtemp(prefix="splash-dpi-", dir=os.path.join(BUILD, "tests"))
    original = read_dpi(work)
    try:
        for dpi, expected in CASES.items():
            set_dpi(work, dpi)
            for name in LAUNCHERS:
                fields = watch(work, name, dpi)
                if not fields:
                    continue
                client = tuple(fields["client"])
                print("%d DPI, %s launcher: client %dx%d" % ((dpi, name) + client))
                check(client == expected[name], "%d DPI, %s launcher: client %s, expected %s" %
                      (dpi, name, client, expected[name]))
                check(centred(fields), "%d DPI, %s launcher: not centred on the monitor: %s" %
                      (dpi, name, fields))
            if picture_test(work, "picture", dpi, "ClientIsThePictureAtTheScreenDpi") and dpi == 144:
                compare_with_pillow(work, "screen.bgra", "144 DPI")
            if dpi == 96 and picture_test(work, "dpi-change", dpi,
                                          "DpiChangeRemakesThePictureFromTheDecodedOne"):
                for new_dpi in (144, 120):
                    compare_with_pillow(work, "screen-%d.bgra" % new_dpi,
                                        "told of %d DPI" % new_dpi)
    finally:
        set_dpi(work, original)
    if failures:
        print("%d failure(s); the files are in %s" % (len(failures), work))
        return 1
    shutil.rmtree(work)
    print("all DPI cases passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
