#!/bin/sh
# demo.sh BUILD: runs the launcher on its sample package under Wine and
# prints what happened: the exit code and what the sample installer received.
set -e
BUILD=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
REPORT=$BUILD/demo-report.txt
rm -f "$REPORT"
"$ROOT/tools/wine-session.sh" start "$BUILD"
trap '"$ROOT/tools/wine-session.sh" stop "$BUILD"' EXIT
export QLN_SETUP_REPORT="Z:$(echo "$REPORT" | tr / '\\\\')"
export QLN_SETUP_EXIT=3010
echo "demo: running sfx-launcher.exe with arguments:   /quiet  LANG=en \"TARGET=C:\\Program Files\\Quillane\"  "
set +e
"$BUILD/wine-run.sh" "$BUILD/bin/sfx-launcher.exe" '  /quiet' 'LANG=en' '"TARGET=C:\Program Files\Quillane"  '
code=$?
set -e
echo "demo: launcher exit code (low 8 bits as the shell sees them): $code"
if [ -f "$REPORT" ]; then
  echo "demo: what the sample installer received:"
  sed 's/^/  | /' "$REPORT"
else
  echo "demo: the sample installer did not run (no report)"
fi
