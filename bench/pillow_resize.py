"""Pillow's resize on the resampling benchmark's sizes, in mode "RGBa" (four
8-bit channels, no premultiplication round trip: the same work as the
launcher's resampler). Prints one line per case and filter:
    pillow <filter> <source>-><destination> <output megapixels per second>
Run it with Debian's python3, whose python3-pil this is."""
import os
import sys
import time

from PIL import Image

CASES = [(400, 300, 500, 375), (400, 300, 600, 450), (1000, 750, 1500, 1125),
         (4000, 3000, 1000, 750), (4000, 3000, 3200, 2400)]
FILTERS = [("BILINEAR", Image.Resampling.BILINEAR), ("BICUBIC", Image.Resampling.BICUBIC),
           ("BOX", Image.Resampling.BOX)]
# Best of at least MIN_ROUNDS rounds and about MIN_SECONDS of work, in the
# process's own processor time: other work on a loaded machine only ever
# adds time, and the time spent waiting for a processor is not ours.
MIN_ROUNDS = 3
MIN_SECONDS = 0.6


def best_seconds(run):
    best = float("inf")
    rounds = 0
    started = time.perf_counter()
    while rounds < MIN_ROUNDS or time.perf_counter() - started < MIN_SECONDS:
        t0 = time.process_time()
        run()
        best = min(best, time.process_time() - t0)
        rounds += 1
    return best


def main():
    print("pillow version %s" % Image.__version__ if hasattr(Image, "__version__") else "pillow")
    for sw, sh, dw, dh in CASES:
        picture = Image.frombytes("RGBa", (sw, sh), os.urandom(sw * sh * 4))
        for name, method in FILTERS:
            seconds = best_seconds(lambda: picture.resize((dw, dh), method))
            print("pillow %s %dx%d->%dx%d %.2f" % (name, sw, sh, dw, dh, dw * dh / seconds / 1e6))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
