"""Reads the figures of the resampling benchmark's programs (lines
"wine|native <sse2|scalar> <plain|hq> [<method>] <case> <Mpx/s> ..." and
"pillow <filter> <case> <Mpx/s>") from the files given, keeps the best
figure of each kind, and prints the table with its ratios against the
targets: bilinear >= 3 x Pillow BILINEAR, bicubic >= 2 x Pillow BICUBIC,
every SSE2 path >= 3 x its scalar reference, and the 144-DPI splash
enlargement (400x300->600x450) well under one frame of 16 ms."""
import sys

CASES = ["400x300->500x375", "400x300->600x450", "1000x750->1500x1125",
         "4000x3000->1000x750", "4000x3000->3200x2400"]
SPLASH_CASE = "400x300->600x450"


def method_of(case, quality):
    (sw, sh), (dw, dh) = [tuple(int(v) for v in side.split("x")) for side in case.split("->")]
    not_enlarging = sw >= dw and sh >= dh
    if quality == "plain":
        return "four-point" if not_enlarging else "bilinear"
    if not_enlarging and (sw >= 2 * dw or sh >= 2 * dh):
        return "area"
    return "bicubic"


def read(paths):
    best = {}
    ms = {}
    for path in paths:
        try:
            lines = open(path).read().splitlines()
        except OSError:
            continue
        for line in lines:
            f = line.split()
            try:
                if f[0] == "pillow" and len(f) == 4:
                    key, value = ("pillow", f[1], f[2]), float(f[3])
                elif f[0] == "native" and len(f) == 6:
                    key, value = ("native", f[1], f[2], f[4]), float(f[5])
                elif f[0] == "wine" and len(f) == 6:
                    key, value = ("wine", f[1], f[2], f[3]), float(f[4])
                    ms[key] = min(ms.get(key, 1e30), float(f[5]))
                else:
                    continue
            except (ValueError, IndexError):
                continue
            best[key] = max(best.get(key, 0.0), value)
    return best, ms


def cell(value):
    return "%9.1f" % value if value else "        -"


def ratio(a, b):
    return "%6.1fx" % (a / b) if a and b else "      -"


def main(paths):
    best, ms = read(paths)
    print("Output megapixels per second (best round); x = ratio.")
    print("wine = ResizeImage under Wine (the user's road, wall time); native = maps + kernel,")
    print("Linux x86-64, and Pillow: processor time of the process.")
    for quality, title, peers in (("plain", "ResizeImage (no flags)", ["BILINEAR", "BOX"]),
                                  ("hq", "ResampleHighQuality", ["BICUBIC", "BOX"])):
        print()
        print("%s:" % title)
        header = "%-21s %-10s %9s %9s %7s %9s %9s %7s" % (
            "case", "method", "wine sse2", "scalar", "sse2/sc", "nat sse2", "scalar", "sse2/sc")
        for peer in peers:
            header += " %9s %7s %7s" % ("Pil " + peer[:4], "win/Pil", "nat/Pil")
        print(header)
        for case in CASES:
            method = method_of(case, quality)
            ws = best.get(("wine", "sse2", quality, case), 0)
            wr = best.get(("wine", "scalar", quality, case), 0)
            ns = best.get(("native", "sse2", quality, case), 0)
            nr = best.get(("native", "scalar", quality, case), 0)
            row = "%-21s %-10s %s %s %s %s %s %s" % (case, method, cell(ws), cell(wr), ratio(ws, wr),
                                                     cell(ns), cell(nr), ratio(ns, nr))
            for peer in peers:
                p = best.get(("pillow", peer, case), 0)
                row += " %s %s %s" % (cell(p), ratio(ws, p), ratio(ns, p))
            print(row)
    splash = ms.get(("wine", "sse2", "plain", SPLASH_CASE))
    if splash is not None:
        print()
        print("144-DPI splash enlargement %s under Wine: %.2f ms (one frame: 16 ms)" % (SPLASH_CASE, splash))


if __name__ == "__main__":
    main(sys.argv[1:])
