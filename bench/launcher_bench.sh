#!/bin/sh
# The launcher benchmark: the real launcher (its window under this session's
# X display) against the limit program, both unpacking into the same
# fastest local file system, in a Wine prefix of its own whose TEMP and TMP
# (HKCU\Environment) point there. Rounds: QLN_BENCH_ROUNDS (default 5).
# QLN_BENCH_BEFORE: a folder with mixed.exe and small.exe from an earlier
# build (build/bench/launcher of another checkout), timed in the same rounds
# as "before".
set -e
BUILD="@CMAKE_BINARY_DIR@"
ROOT="@PROJECT_SOURCE_DIR@"
LB=$BUILD/bench/launcher
SESSION=$LB/session
ROUNDS=${QLN_BENCH_ROUNDS:-5}
winpath() { echo "Z:$1" | tr / '\\'; }

# tmpfs when the machine has one, else the build tree's own disk.
tag=$(printf '%s' "$BUILD" | cksum | cut -d' ' -f1)
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  TEMPDIR=/dev/shm/qln-bench-$tag
else
  TEMPDIR=$LB/temp
fi
rm -rf "$TEMPDIR"
mkdir -p "$TEMPDIR"

# A leftover server of this prefix would write its registry back over ours.
[ ! -d "$SESSION" ] || "$ROOT/tools/wine-session.sh" stop "$SESSION"
# A new prefix takes minutes to boot; a copy of the build's own booted one
# serves as well. Its server is stopped first, so that its registry is on
# disk whole.
if [ ! -f "$SESSION/wine/prefix/drive_c/windows/system32/kernel32.dll" ]; then
  rm -rf "$SESSION/wine/prefix"
  "$ROOT/tools/wine-session.sh" start "$BUILD"
  "$ROOT/tools/wine-session.sh" stop "$BUILD"
  mkdir -p "$SESSION/wine"
  cp -a "$BUILD/wine/prefix" "$SESSION/wine/prefix.tmp"
  mv "$SESSION/wine/prefix.tmp" "$SESSION/wine/prefix"
fi
# TEMP and TMP of the prefix's user environment, written into its registry
# file while no server holds it: two `wine reg` runs would cost minutes
# where 32-bit Wine runs emulated.
python3 - "$SESSION/wine/prefix/user.reg" "$(winpath "$TEMPDIR" | sed 's/\\/\\\\/g')" <<'PY'
import sys
path, temp = sys.argv[1], sys.argv[2]
lines = open(path, encoding='utf-8').read().split('\n')
values = ['"TEMP"="%s"' % temp, '"TMP"="%s"' % temp]
out, i, done = [], 0, False
while i < len(lines):
    line = lines[i]
    out.append(line)
    i += 1
    if line.startswith('[Environment]'):
        while i < len(lines) and lines[i].startswith('#'):
            out.append(lines[i])
            i += 1
        out += values
        while i < len(lines) and lines[i] and not lines[i].startswith('['):
            if not lines[i].startswith(('"TEMP"=', '"TMP"=')):
                out.append(lines[i])
            i += 1
        done = True
if not done:
    out += ['', '[Environment] 0'] + values + ['']
open(path, 'w', encoding='utf-8').write('\n'.join(out))
PY
"$ROOT/tools/wine-session.sh" start "$SESSION"
trap '"$ROOT/tools/wine-session.sh" stop "$SESSION"; rm -rf "$TEMPDIR"' EXIT
W=$SESSION/wine
. "$ROOT/tools/wine-env.sh"
DISPLAY=$(cat "$SESSION/wine/display")
export DISPLAY
echo "launcher benchmark: $(df -T "$TEMPDIR" | awk 'NR==2 { print $2 }') at $TEMPDIR, $ROUNDS rounds"
echo "  mixed: about 400 entries, 40 MB in 48 nested folders, some incompressible"
echo "  small: 5,000 small files in 50 folders"
echo "  machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  echo "  emulated 32-bit: this kernel starts no 32-bit program, Wine's 32-bit side runs under qemu's"
  echo "   user-mode emulation, so every contender runs emulated and the times are many times a real machine's"
else
  echo "  native 32-bit: this kernel runs Wine's 32-bit side itself"
fi
before=
if [ -n "$QLN_BENCH_BEFORE" ]; then
  for kind in mixed small; do
    [ -f "$QLN_BENCH_BEFORE/$kind.exe" ] && before="$before $kind@before=$(winpath "$QLN_BENCH_BEFORE/$kind.exe")"
  done
fi
set +e
wine "$LB/launcher_bench.exe" "$ROUNDS" "mixed=$(winpath "$LB/mixed.exe")" \
  "small=$(winpath "$LB/small.exe")" $before >"$LB/result.txt" 2>&1
status=$?
set -e
tr -d '\r' <"$LB/result.txt"
exit $status
