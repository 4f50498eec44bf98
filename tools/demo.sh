#!/bin/sh
# demo.sh BUILD: runs the launcher on its sample package under Wine and
# prints what happened: what the sample installer received and the
# launcher's full exit code, which passes on the installer's own.
set -e
BUILD=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
REPORT=$BUILD/demo-report.txt
rm -f "$REPORT"
"$ROOT/tools/wine-session.sh" start "$BUILD"
trap '"$ROOT/tools/wine-session.sh" stop "$BUILD"' EXIT
winpath() { echo "Z:$1" | tr / '\\'; }
export QLN_SETUP_REPORT="$(winpath "$REPORT")"
export QLN_SETUP_EXIT=3010
# Blanks at both ends: the launcher trims them before passing the rest on.
export QLN_RUN_ARGS='  /quiet  LANG=en "TARGET=C:\Program Files\Quillane"   '
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
