#!/bin/sh
# demo.sh BUILD: runs the launcher on its sample package under Wine and
# prints what happened: what the sample installer received and the
# launcher's full exit code, which passes on the installer's own. Then it
# takes screenshots of the splash window at 96 and 144 DPI.
# The demo has a Wine prefix of its own (BUILD/demo/wine), so that its
# screen settings never reach the tests' prefix.
set -e
BUILD=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEMO=$BUILD/demo
export QLN_WINE_DIR=$DEMO/wine
mkdir -p "$DEMO"
REPORT=$DEMO/report.txt
rm -f "$REPORT"
LOG=$DEMO/setup.log
rm -f "$LOG"
"$ROOT/tools/wine-session.sh" start "$BUILD"
trap '"$ROOT/tools/wine-session.sh" stop "$BUILD"' EXIT
winpath() { echo "Z:$1" | tr / '\\'; }
export QLN_SETUP_REPORT="$(winpath "$REPORT")"
export QLN_SETUP_EXIT=3010
export QUILLANE_SETUP_LOG="$(winpath "$LOG")"
# Blanks at both ends: the launcher trims them before passing the rest on.
export QLN_RUN_ARGS='  /quiet  LANG=en "TARGET=C:\Program Files\Quillane" PASSWORD=demo-secret   '
echo "demo: the sample installer will exit with $QLN_SETUP_EXIT"
# printf, not echo: echo would read the backslashes of Windows paths.
printf 'demo: running sfx-launcher.exe with arguments [%s]\n' "$QLN_RUN_ARGS"
set +e
out=$("$BUILD/wine-run.sh" "$BUILD/bin/run-exact.exe" "$(winpath "$BUILD/bin/sfx-launcher.exe")")
status=$?
set -e
if [ $status -ne 0 ]; then
  printf 'demo: the launcher could not be run (%s)\n' "$out"
  exit 1
fi
printf 'demo: launcher %s\n' "$(printf '%s' "$out" | tr -d '\r')"
if [ -f "$REPORT" ]; then
  printf 'demo: the sample installer received arguments [%s]\n' \
    "$(sed -n 's/^arguments: //p' "$REPORT" | tr -d '\r')"
  echo "demo: its full report:"
  sed 's/^/  | /' "$REPORT"
  folder=$(sed -n 's/^folder: //p' "$REPORT" | tr -d '\r')
  unix=$("$BUILD/wine-run.sh" winepath -u "$folder" 2>/dev/null | tr -d '\r')
  if [ -n "$unix" ] && [ ! -e "$unix" ]; then
    printf 'demo: the workspace %s has been removed\n' "$folder"
  else
    printf 'demo: the workspace %s is still there\n' "$folder"
  fi
else
  echo "demo: the sample installer did not run (no report)"
fi
if [ -f "$LOG" ]; then
  printf 'demo: the run'"'"'s log (%s):\n' "$LOG"
  # Without the byte-order mark and the CR of each line end.
  sed '1s/^\xEF\xBB\xBF//; s/\r$//; s/^/  | /' "$LOG"
else
  echo "demo: the run left no log"
fi
unset QUILLANE_SETUP_LOG

# Screenshots. A bare X server has no window manager to draw frames: Wine
# draws the frame and the title bar itself when its windows are not managed.
run_quiet() { "$BUILD/wine-run.sh" "$@" >"$DEMO/wine.log" 2>&1; }
run_quiet reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
DISPLAY=$(cat "$QLN_WINE_DIR/display")
for dpi in 96 144; do
  run_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f
  hold=$DEMO/hold-$dpi
  rm -rf "$hold"
  mkdir -p "$hold"
  shot=$DEMO/splash-${dpi}dpi.png
  rm -f "$shot"
  # The watcher holds the launcher still while its window is on the screen.
  "$BUILD/wine-run.sh" "$BUILD/bin/splash-watch.exe" "$(winpath "$BUILD/bin/sfx-launcher.exe")" \
    "$(winpath "$hold/report.txt")" "$(winpath "$hold")" >"$hold/watch.log" 2>&1 &
  watcher=$!
  i=0
  while [ ! -s "$hold/ready" ] && [ $i -lt 1200 ] && kill -0 $watcher 2>/dev/null; do
    sleep 0.1
    i=$((i + 1))
  done
  if [ -s "$hold/ready" ]; then
    read -r x y w h < "$hold/ready"
    import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$shot" \
      2>"$hold/import.log" || true
  fi
  touch "$hold/release"
  wait $watcher || true
  if [ -f "$shot" ]; then
    printf 'demo: splash window at %s DPI: %s (%s pixels with its frame; client %s)\n' "$dpi" "$shot" \
      "$(identify -format '%wx%h' "$shot")" "$(sed -n 's/^client //p' "$hold/report.txt" | tr ' ' x)"
  else
    printf 'demo: no screenshot of the splash window at %s DPI (see %s)\n' "$dpi" "$hold"
  fi
done
run_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f
