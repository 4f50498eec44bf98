#!/bin/sh
# output_road_test.sh BUILD: the native sfxpack's output is written whole or
# not at all, by the real program and real signals. A run ended by SIGTERM
# or SIGINT while it writes leaves nothing, not even its temporary file, and
# an existing launcher stays as it was; two runs aimed at one output at once
# leave the whole bytes of one of them; a new output is 0777 less the umask
# and an existing one keeps its mode; the payload folder is found by
# identity however the output is spelled.
set -e
BUILD=$1
SFXPACK=$BUILD/bin/sfxpack
STUB=$BUILD/bin/sfx-stub.exe
D=$BUILD/tests/sfxpack/output-road
fail() { echo "FAILED: $*"; exit 1; }
rm -rf "$D"
mkdir -p "$D/a" "$D/b" "$D/out"
cp "$BUILD/tests/fixtures/signed.exe" "$D/a/Setup.exe"
cp "$BUILD/tests/fixtures/signed.exe" "$D/b/Setup.exe"
# Text takes long enough to deflate that a signal finds the run writing.
python3 - "$D/a/big.txt" "$D/b/big.txt" <<'PY'
import random, sys
for n, path in enumerate(sys.argv[1:]):
    rng = random.Random(n)
    words = ["quillane", "setup", "launcher", "payload", "window", "signature", "folder", "%d" % n]
    with open(path, "w") as f:
        for _ in range(400000):
            f.write(" ".join(rng.choice(words) for _ in range(12)) + "\n")
PY
pack() { "$SFXPACK" --payload "$1" --stub "$STUB" --threads 1 -o "$2" > /dev/null; }
leftovers() { find "$D/out" -name '*.sfxpack-tmp' | wc -l; }

pack "$D/a" "$D/out/a.exe"
pack "$D/b" "$D/out/b.exe"

# Ended by a signal while writing: the previous launcher stays, no file is
# added. The temporary file's appearance says the run is writing.
for signal in TERM INT; do
  cp "$D/out/a.exe" "$D/out/target.exe"
  # A background job of a non-interactive shell ignores SIGINT; the packer
  # then keeps ignoring it, as it should, so SIGINT gets a job started
  # through a program that resets it.
  python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])' \
    "$SFXPACK" --payload "$D/b" --stub "$STUB" --threads 1 -o "$D/out/target.exe" > /dev/null &
  pid=$!
  n=0
  while [ "$(leftovers)" -eq 0 ]; do
    n=$((n + 1))
    [ $n -lt 2000 ] || fail "no temporary file appeared"
    sleep 0.01
  done
  kill -$signal $pid
  status=0
  wait $pid || status=$?
  [ $status -gt 128 ] || fail "SIG$signal: the run ended with $status, not by the signal"
  [ "$(leftovers)" -eq 0 ] || fail "SIG$signal left a temporary file: $(find "$D/out" -name '*.sfxpack-tmp')"
  cmp -s "$D/out/target.exe" "$D/out/a.exe" || fail "SIG$signal changed the existing launcher"
  [ "$(ls "$D/out" | wc -l)" -eq 3 ] || fail "SIG$signal left $(ls "$D/out")"
done

# Two runs at once on one output: one run's whole bytes, nothing else left.
for round in 1 2 3; do
  rm -f "$D/out/both.exe"
  pack "$D/a" "$D/out/both.exe" &
  first=$!
  pack "$D/b" "$D/out/both.exe" &
  second=$!
  wait $first || fail "the first of two runs failed"
  wait $second || fail "the second of two runs failed"
  cmp -s "$D/out/both.exe" "$D/out/a.exe" || cmp -s "$D/out/both.exe" "$D/out/b.exe" ||
    fail "two runs at once left bytes of neither run alone"
  [ "$(leftovers)" -eq 0 ] || fail "two runs left a temporary file"
done

# Modes: a new launcher is executable as the umask allows; an existing one
# keeps its own.
rm -f "$D/out/new.exe"
(umask 027 && pack "$D/a" "$D/out/new.exe")
[ "$(stat -c %a "$D/out/new.exe")" = 750 ] || fail "a new output is $(stat -c %a "$D/out/new.exe"), not 750"
chmod 0701 "$D/out/new.exe"
pack "$D/b" "$D/out/new.exe"
[ "$(stat -c %a "$D/out/new.exe")" = 701 ] || fail "a rewritten output is $(stat -c %a "$D/out/new.exe"), not 701"

# The payload folder by identity: ".", a link to it, a path through "..".
ln -s "$D/a" "$D/link"
for spelling in ". x.exe" "$D/link x.exe" "../a x.exe" ". sub/../y.exe" "$D/a $D/link/z.exe"; do
  set -- $spelling
  mkdir -p "$D/a/sub"
  status=0
  (cd "$D/a" && "$SFXPACK" --payload "$1" --stub "$STUB" -o "$2" > /dev/null 2> "$D/err.txt") || status=$?
  [ $status -eq 2 ] || fail "--payload $1 -o $2 in the payload folder: exit $status"
  grep -q "lies inside the payload folder" "$D/err.txt" || fail "--payload $1 -o $2: $(cat "$D/err.txt")"
  rmdir "$D/a/sub"
  [ -z "$(find "$D/a" -name '*.exe' ! -name Setup.exe)" ] || fail "--payload $1 -o $2 wrote into the payload"
done
echo "output file: signals, two runs, modes and the payload's identity hold"
