#!/bin/sh
# stub_date_test.sh SOURCES STUB: the stub is dated by its commit (or by
# SOURCE_DATE_EPOCH when the build was given one), not by the clock of the
# machine that linked it: its PE time stamp is that moment, and the date its
# splash title shows (the text "Mmm dd yyyy" the title is made from) is that
# moment's day.
set -e
SOURCES=$1 STUB=$2
if [ -n "$SOURCE_DATE_EPOCH" ]; then
  epoch=$SOURCE_DATE_EPOCH
else
  epoch=$(git -C "$SOURCES" log -1 --format=%ct)
fi
stamp=$(python3 - "$STUB" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
print(struct.unpack_from("<I", data, pe + 8)[0])
PY
)
if [ "$stamp" != "$epoch" ]; then
  echo "FAIL: the stub's PE time stamp is $stamp, the commit's time $epoch" >&2
  exit 1
fi
date=$(LC_ALL=C date -u -d "@$epoch" '+%b %d %Y')
if ! LC_ALL=C grep -a -q -F "$date" "$STUB"; then
  echo "FAIL: the stub carries no title date '$date'" >&2
  exit 1
fi
echo "stub dated $epoch ($date): PE time stamp and title date agree"
