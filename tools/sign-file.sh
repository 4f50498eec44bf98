#!/bin/sh
# sign-file.sh KEYDIR IN OUT [DIGEST]
# Signs IN with a throwaway code-signing certificate kept in KEYDIR (made on
# first use) and writes OUT, with the digest DIGEST (sha256 unless given:
# sha1, sha256, sha384, sha512). The certificate never leaves the build tree.
set -e
KEYDIR=$1 IN=$2 OUT=$3 DIGEST=${4:-sha256}
mkdir -p "$KEYDIR"
if [ ! -f "$KEYDIR/cert.pem" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 \
    -subj "/CN=Quillane Test Signing" \
    -addext "extendedKeyUsage=codeSigning" \
    -keyout "$KEYDIR/key.pem" -out "$KEYDIR/cert.pem" >/dev/null 2>&1
fi
rm -f "$OUT.tmp"
osslsigncode sign -certs "$KEYDIR/cert.pem" -key "$KEYDIR/key.pem" \
  -n "Quillane Setup" -h "$DIGEST" -in "$IN" -out "$OUT.tmp" >/dev/null
mv -f "$OUT.tmp" "$OUT"
