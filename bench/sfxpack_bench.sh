#!/bin/sh
# Packs a folder of about 500 MB of mixed files with sfxpack (the real
# program, onto the real stub, every core) and with `zip -r` at the same
# deflate level, taking turns on the same files, and prints the wall time,
# processor time and peak memory (maximum resident set size) of each, with
# the ratios against the targets: wall time at most 0.6 of zip's, peak
# memory a few deflate blocks per thread. Then lists the launcher it made
# (`sfxpack --list`, which checks every entry) and packs zip's archive as an
# existing payload (copied, then every entry checked in the copy), and
# prints each run's peak memory beside the size it read: reading at
# offsets, neither should grow with it. The folder is made once, in the
# build tree.
set -e
BUILD="@CMAKE_BINARY_DIR@"
ROOT="@PROJECT_SOURCE_DIR@"
DATA=$BUILD/bench/sfxpack-data
WORK=$BUILD/bench/sfxpack-out
LEVEL=6
RUNS=3
python3 "$ROOT/tools/make-bench-folder.py" "$DATA" 500
cp "$BUILD/tests/fixtures/signed.exe" "$DATA/Setup.exe"
rm -rf "$WORK"
mkdir -p "$WORK"
# A first pass puts the files into the page cache for both contenders.
find "$DATA" -type f -exec cat {} + > /dev/null

# One timed run: appends "seconds cpu_seconds maxrss_kb" to WORK/<label>.
run() {
  label=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$WORK/time.txt" "$@" > /dev/null
  awk '{ print $1, $2 + $3, $4 }' "$WORK/time.txt" >> "$WORK/$label"
}

# Other people's builds may share the machine: the contenders take turns,
# and the best wall and processor times of each count (peak memory: the
# largest).
best() { sort -n -k"$2" "$WORK/$1" | head -1 | cut -d' ' -f"$2"; }
most() { sort -n -k"$2" "$WORK/$1" | tail -1 | cut -d' ' -f"$2"; }

cores=$(nproc)
size=$(du -sb "$DATA" | cut -f1)
printf 'folder: %s bytes in %s files; deflate level %s; %s cores; best of %s runs each\n' "$size" \
  "$(find "$DATA" -type f | wc -l)" "$LEVEL" "$cores" "$RUNS"
i=0
while [ $i -lt $RUNS ]; do
  run sfxpack "$BUILD/bin/sfxpack" --payload "$DATA" --stub "$BUILD/bin/sfx-stub.exe" --level $LEVEL \
    -o "$WORK/launcher.exe"
  rm -f "$WORK/data.zip"
  (cd "$DATA" && run zip zip -r -q -$LEVEL "$WORK/data.zip" .)
  i=$((i + 1))
done
for label in sfxpack zip; do
  printf '%-8s %7.2f s wall  %7.2f s processor  peak memory %6.1f MB\n' "$label" \
    "$(best $label 1)" "$(best $label 2)" "$(awk "BEGIN { print $(most $label 3) / 1024 }")"
done
printf 'sizes: launcher %s bytes, zip archive %s bytes\n' "$(stat -c %s "$WORK/launcher.exe")" \
  "$(stat -c %s "$WORK/data.zip")"
# Memory target: the deflate blocks in flight (two per thread and two more,
# each 1 MiB in, up to 1 MiB out and zlib's 256 KiB of state per thread) on
# top of what the program holds without them.
awk -v ours="$(best sfxpack 1)" -v theirs="$(best zip 1)" -v cpu="$(best sfxpack 2)" \
    -v theirsCpu="$(best zip 2)" -v rss="$(most sfxpack 3)" -v cores="$cores" 'BEGIN {
  printf "sfxpack / zip -r -%d: %.2f wall (target at most 0.60), %.2f processor\n", '"$LEVEL"', ours / theirs, cpu / theirsCpu
  limit = (2 * cores + 2) * 2.1 + cores * 0.3 + 16
  printf "sfxpack peak memory: %.1f MB, %.1f MB per core (target at most %.1f MB: the blocks in flight and 16 MB)\n", rss / 1024, rss / 1024 / cores, limit
}'
run list "$BUILD/bin/sfxpack" --list "$WORK/launcher.exe"
awk -v rss="$(most list 3)" -v secs="$(best list 1)" -v size="$(stat -c %s "$WORK/launcher.exe")" 'BEGIN {
  printf "sfxpack --list of the %.1f MB launcher: %.2f s wall, peak memory %.1f MB (%.2f x the launcher; target: a few MB, whatever its size)\n", size / 1048576, secs, rss / 1024, rss / 1024 / (size / 1048576)
}'
run archive "$BUILD/bin/sfxpack" --payload "$WORK/data.zip" --stub "$BUILD/bin/sfx-stub.exe" -o "$WORK/from-zip.exe"
awk -v rss="$(most archive 3)" -v secs="$(best archive 1)" -v size="$(stat -c %s "$WORK/data.zip")" 'BEGIN {
  printf "sfxpack --payload of the %.1f MB zip archive: %.2f s wall, peak memory %.1f MB (%.2f x the archive; target: a few MB, whatever its size)\n", size / 1048576, secs, rss / 1024, rss / 1024 / (size / 1048576)
}'
rm -rf "$WORK"
