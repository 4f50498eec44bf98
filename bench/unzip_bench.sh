#!/bin/sh
# Times native `unzip -q` on the archive that extract_bench.exe left beside
# this script, and compares it with that program's own extraction time.
set -e
B=$(cd "$(dirname "$0")" && pwd)
ZIP=$B/extract_bench.zip
[ -f "$ZIP" ] || { echo "no archive: run extract_bench.exe first"; exit 0; }
OUT=$B/out_unzip
times=""
for i in 1 2 3 4 5; do
  rm -rf "$OUT"
  mkdir -p "$OUT"
  s=$(date +%s.%N)
  unzip -q -o "$ZIP" -d "$OUT"
  e=$(date +%s.%N)
  times="$times $(awk "BEGIN { print $e - $s }")"
done
rm -rf "$OUT"
best=$(echo $times | tr ' ' '\n' | sort -n | sed -n 1p)
printf 'native unzip -q (best of 5): %.3f s\n' "$best"
if [ -f "$B/extract_bench.seconds" ]; then
  ours=$(cat "$B/extract_bench.seconds")
  printf 'extraction / native unzip -q: %.3f\n' "$(awk "BEGIN { print $ours / $best }")"
fi
