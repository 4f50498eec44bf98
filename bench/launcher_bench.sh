#!/bin/sh
# The launcher benchmark: the real launcher (its window under this session's
# X display) against the limit program, both unpacking into the same
# fastest local file system, in a Wine prefix of its own whose TEMP and TMP
# (HKCU\Environment) point there. Rounds: QLN_BENCH_ROUNDS (default 5).
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

# A new prefix takes minutes to boot; a copy of the build's own booted one
# serves as well, since only its registry's TEMP and TMP will differ.
if [ ! -f "$SESSION/wine/prefix/system.reg" ] && [ -f "$BUILD/wine/prefix/system.reg" ]; then
  mkdir -p "$SESSION/wine"
  rm -rf "$SESSION/wine/prefix"
  cp -a "$BUILD/wine/prefix" "$SESSION/wine/prefix"
  rm -f "$SESSION/wine/prefix/wineserver"
fi
"$ROOT/tools/wine-session.sh" start "$SESSION"
trap '"$ROOT/tools/wine-session.sh" stop "$SESSION"; rm -rf "$TEMPDIR"' EXIT
export WINEPREFIX=$SESSION/wine/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=$(cat "$SESSION/wine/display")
export DISPLAY
for v in TEMP TMP; do
  wine reg add 'HKCU\Environment' /v $v /t REG_SZ /d "$(winpath "$TEMPDIR")" /f >"$LB/reg.log" 2>&1
done
echo "launcher benchmark: $(df -T "$TEMPDIR" | awk 'NR==2 { print $2 }') at $TEMPDIR, $ROUNDS rounds"
echo "  mixed: about 400 entries, 40 MB in 48 nested folders, some incompressible"
echo "  small: 5,000 small files in 50 folders"
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "  (this kernel starts no 32-bit program: Wine's 32-bit side runs under qemu's user-mode"
  echo "   emulation, so both contenders run emulated and the times are many times a real machine's)"
fi
set +e
wine "$LB/launcher_bench.exe" "$ROUNDS" "mixed=$(winpath "$LB/mixed.exe")" \
  "small=$(winpath "$LB/small.exe")" >"$LB/result.txt" 2>&1
status=$?
set -e
tr -d '\r' <"$LB/result.txt"
exit $status
