#!/bin/sh
# run-fuzz.sh FUZZER SEEDS SCRATCH LIMIT: runs a libFuzzer program for a
# bounded time on a fresh copy of its seed corpus (SEEDS/*.zip, with the
# dictionary SEEDS/zip.dict). A crash, leak or sanitizer report makes the
# fuzzer, and so this script, exit non-zero; the crashing input is left in
# SCRATCH.
set -e
FUZZER=$1 SEEDS=$2 SCRATCH=$3 LIMIT=$4
rm -rf "$SCRATCH"
mkdir -p "$SCRATCH/corpus"
cp "$SEEDS"/*.zip "$SCRATCH/corpus/"
exec "$FUZZER" -max_total_time="$LIMIT" -dict="$SEEDS/zip.dict" \
  -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$SCRATCH/" "$SCRATCH/corpus"
