#!/bin/sh
# Starts or stops the Wine session of one build tree: a 32-bit prefix under
# BUILD/wine/prefix, a persistent wineserver for that prefix only, and a
# private Xvfb display when the caller has no display of its own.
#   wine-session.sh start BUILD
#   wine-session.sh stop BUILD
# QLN_WINE_DIR names another session folder than BUILD/wine (the demo keeps
# a prefix of its own, with its own screen settings).
set -e
cmd=$1
BUILD=$(cd "$2" && pwd)
W=${QLN_WINE_DIR:-$BUILD/wine}
. "$(dirname "$0")/wine-env.sh"
mkdir -p "$W"

start_display() {
  if [ -n "$DISPLAY" ]; then echo "$DISPLAY" > "$W/display"; return; fi
  if [ -f "$W/xvfb.pid" ] && kill -0 "$(cat "$W/xvfb.pid")" 2>/dev/null; then return; fi
  n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >"$W/xvfb.log" 2>&1 &
  echo $! > "$W/xvfb.pid"
  echo ":$n" > "$W/display"
  i=0
  while [ ! -e /tmp/.X11-unix/X$n ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}

case "$cmd" in
start)
  start_display
  export DISPLAY=$(cat "$W/display")
  # A persistent server keeps the prefix warm between test programs. It must
  # not hold our output open, or ctest would wait for it.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >"$W/wineboot.log" 2>&1 || true
  fi
  # Wait until the prefix answers, so the first test does not pay for it.
  wine cmd /c exit 0 >/dev/null 2>&1 || true
  ;;
stop)
  wineserver -k 2>/dev/null || true
  if [ -f "$W/xvfb.pid" ]; then
    kill "$(cat "$W/xvfb.pid")" 2>/dev/null || true
    rm -f "$W/xvfb.pid" "$W/display"
  fi
  ;;
*) echo "usage: $0 start|stop BUILD" >&2; exit 2 ;;
esac
