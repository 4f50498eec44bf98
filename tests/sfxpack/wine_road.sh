#!/bin/sh
# wine_road.sh BUILD ROOT: the road of a product from folder to run, under
# Wine. A folder with the signed installer, nested and empty folders, empty
# files, names outside ASCII, a read-only file and a 200 MiB file is packed
# twice, with every core and with one thread (identical bytes), packed again
# by the Windows build of sfxpack under Wine (identical bytes), signed with
# osslsigncode (verifies; one payload byte changed afterwards does not), and
# run under Wine: the installer gets its arguments, every file is in place,
# the workspace goes.
set -e
BUILD=$1
ROOT=$2
D=$BUILD/tests/sfxpack/road
DATA=$D/payload
OUT=$D/out
mkdir -p "$D"
fail() { echo "FAILED: $*"; exit 1; }
winpath() { echo "Z:$1" | tr / '\\'; }

python3 "$ROOT/tools/make-road-folder.py" "$DATA"
cp "$BUILD/tests/fixtures/signed.exe" "$DATA/Setup.exe"
rm -rf "$OUT"
mkdir -p "$OUT"
export SOURCE_DATE_EPOCH=1700000000
s=$(date +%s)
"$BUILD/bin/sfxpack" --payload "$DATA" --stub "$BUILD/bin/sfx-stub.exe" --file-version 5.9.1.0 \
  --product Quillane -o "$OUT/first.exe"
"$BUILD/bin/sfxpack" --payload "$DATA" --stub "$BUILD/bin/sfx-stub.exe" --file-version 5.9.1.0 \
  --product Quillane --threads 1 -o "$OUT/second.exe"
cmp "$OUT/first.exe" "$OUT/second.exe" || fail "every core and one thread give other bytes"
echo "two native runs (every core, one thread) give identical bytes ($(stat -c %s "$OUT/first.exe") bytes, $(($(date +%s) - s)) s)"

s=$(date +%s)
"$BUILD/wine-run.sh" "$BUILD/bin/sfxpack.exe" --payload "$(winpath "$DATA")" \
  --stub "$(winpath "$BUILD/bin/sfx-stub.exe")" --file-version 5.9.1.0 --product Quillane \
  -o "$(winpath "$OUT/windows.exe")" > "$OUT/windows.log" 2>&1 ||
  fail "sfxpack.exe under Wine: $(cat "$OUT/windows.log")"
cmp "$OUT/first.exe" "$OUT/windows.exe" || fail "sfxpack.exe under Wine wrote other bytes"
echo "sfxpack.exe under Wine gives the same bytes ($(($(date +%s) - s)) s)"

"$ROOT/tools/sign-file.sh" "$BUILD/tests/signing" "$OUT/first.exe" "$OUT/signed.exe"
osslsigncode verify -CAfile "$BUILD/tests/signing/cert.pem" -in "$OUT/signed.exe" > "$OUT/verify.log" 2>&1 ||
  fail "the signed launcher does not verify: $(tail -3 "$OUT/verify.log")"
python3 "$ROOT/tools/alter-entry.py" "$OUT/signed.exe" "$OUT/tampered.exe" --damage docs/License.txt
if osslsigncode verify -CAfile "$BUILD/tests/signing/cert.pem" -in "$OUT/tampered.exe" > "$OUT/tampered.log" 2>&1
then fail "a changed payload byte still verifies"; fi
rm -f "$OUT/tampered.exe" "$OUT/second.exe" "$OUT/windows.exe"
echo "the signed launcher verifies; with one payload byte changed it does not"

REPORT=$OUT/report.txt
export QLN_SETUP_REPORT="$(winpath "$REPORT")"
export QLN_SETUP_EXIT=7
export QLN_RUN_ARGS='/quiet "TARGET=C:\Program Files\Quillane" LANG=de'
s=$(date +%s)
"$BUILD/wine-run.sh" "$BUILD/bin/run-exact.exe" "$(winpath "$OUT/signed.exe")" > "$OUT/run.log" 2>&1 ||
  fail "the launcher could not be run: $(cat "$OUT/run.log")"
grep -q 'exit code: 7 ' "$OUT/run.log" || fail "launcher: $(cat "$OUT/run.log")"
[ -f "$REPORT" ] || fail "the installer did not run"
tr -d '\r' < "$REPORT" > "$OUT/report-unix.txt"
[ "$(sed -n 's/^arguments: //p' "$OUT/report-unix.txt")" = "$QLN_RUN_ARGS" ] || fail "arguments: $(grep ^arguments "$OUT/report-unix.txt")"
python3 "$ROOT/tools/make-road-folder.py" --expect "$DATA" > "$OUT/expected.txt"
sed -n -e 's/^\(dir .*\) attributes=.*/\1/p' -e 's/^\(file .*\) attributes=[0-9a-f]* \(crc32=.*\)/\1 \2/p' \
  "$OUT/report-unix.txt" | sort > "$OUT/found.txt"
diff "$OUT/expected.txt" "$OUT/found.txt" > "$OUT/diff.txt" || fail "unpacked files differ: $(cat "$OUT/diff.txt")"
attr() { sed -n "s/^file $1 .*attributes=\([0-9a-f]*\) .*/\1/p" "$OUT/report-unix.txt"; }
[ $((0x$(attr locked.txt) & 1)) -eq 1 ] || fail "locked.txt is not read-only"
folder=$(sed -n 's/^folder: //p' "$OUT/report-unix.txt")
unix=$("$BUILD/wine-run.sh" winepath -u "$folder" 2>/dev/null | tr -d '\r')
[ -n "$unix" ] && [ ! -e "$unix" ] || fail "the workspace $folder is still there"
echo "under Wine the installer got [$QLN_RUN_ARGS], found $(wc -l < "$OUT/found.txt") files and folders in place, and the workspace was removed ($(($(date +%s) - s)) s)"
rm -rf "$OUT"
