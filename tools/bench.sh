#!/bin/sh
# bench.sh BUILD: runs every benchmark program the build made; each prints
# its own figures.
set -e
BUILD=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/tools/wine-session.sh" start "$BUILD"
trap '"$ROOT/tools/wine-session.sh" stop "$BUILD"' EXIT
found=0
for b in "$BUILD"/bench/*.exe; do
  [ -f "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$BUILD/wine-run.sh" "$b"
done
for b in "$BUILD"/bench/*.sh; do
  [ -f "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  sh "$b"
done
[ $found -eq 1 ] || echo "no benchmarks built"
