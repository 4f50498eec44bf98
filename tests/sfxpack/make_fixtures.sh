#!/bin/sh
# make_fixtures.sh OUTDIR SIGNED UNSIGNED KEYDIR SOURCEDIR
# The packer's own fixtures, beside the installer fixtures:
#   bsdtar.zip                 the signed installer and a folder tree, written
#                              by libarchive (folders without the MS-DOS bit)
#   signed-H.exe               the installer signed with digest H
#   altered-H.exe              the same with one byte changed after signing
#   resigned-H.exe             the altered one, its signature removed and made anew
# for H in sha1, sha256, sha384, sha512 (what signtool's /fd offers).
set -e
OUT=$1 SIGNED=$2 UNSIGNED=$3 KEYDIR=$4 SRC=$5
rm -rf "$OUT.tmp"
mkdir -p "$OUT.tmp/tree/docs/empty"
cp "$SIGNED" "$OUT.tmp/tree/Setup.exe"
echo "read me" > "$OUT.tmp/tree/docs/readme.txt"
(cd "$OUT.tmp/tree" && bsdtar --format zip -cf ../bsdtar.zip Setup.exe docs)
rm -rf "$OUT.tmp/tree"
for h in sha1 sha256 sha384 sha512; do
  sh "$SRC/tools/sign-file.sh" "$KEYDIR" "$UNSIGNED" "$OUT.tmp/signed-$h.exe" "$h"
  python3 "$SRC/tools/alter-file.py" "$OUT.tmp/signed-$h.exe" "$OUT.tmp/altered-$h.exe"
  osslsigncode remove-signature -in "$OUT.tmp/altered-$h.exe" -out "$OUT.tmp/stripped-$h.exe" >/dev/null
  sh "$SRC/tools/sign-file.sh" "$KEYDIR" "$OUT.tmp/stripped-$h.exe" "$OUT.tmp/resigned-$h.exe" "$h"
  rm "$OUT.tmp/stripped-$h.exe"
done
rm -rf "$OUT"
mv "$OUT.tmp" "$OUT"
