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
echo "demo: running sfx-launcher.exe with arguments [$QLN_RUN_ARGS]"
set +e
out=$("$BUILD/wine-run.sh" "$BUILD/bin/run-exact.exe" "$(winpath "$BUILD/bin/sfx-launcher.exe")")
status=$?
set -e
if [ $status -ne 0 ]; then
  echo "demo: the launcher could not be run ($out)"
  exit 1
fi
echo "demo: launcher $(echo "$out" | tr -d '\r')"
if [ -f "$REPORT" ]; then
  echo "demo: the sample installer received arguments [$(sed -n 's/^arguments: //p' "$REPORT" | tr -d '\r')]"
  echo "demo: its full report:"
  sed 's/^/  | /' "$REPORT"
  folder=$(sed -n 's/^folder: //p' "$REPORT" | tr -d '\r')
  unix=$("$BUILD/wine-run.sh" winepath -u "$folder" 2>/dev/null | tr -d '\r')
  if [ -n "$unix" ] && [ ! -e "$unix" ]; then
    echo "demo: the workspace $folder has been removed"
  else
    echo "demo: the workspace $folder is still there"
  fi
else
  echo "demo: the sample installer did not run (no report)"
fi
