#!/bin/sh
# zip_readers_test.sh BUILD: the archive the native sfxpack packs is read
# alike by Info-ZIP (unzip, zipinfo), libarchive (bsdtar), 7-Zip and
# Python's zipfile: the same names, non-ASCII ones included, and Info-ZIP
# unpacks it with the modes a Unix user expects (folders rwxr-xr-x, files
# rw-r--r--, a read-only file r--r--r--).
set -e
BUILD=$1
D=$BUILD/tests/sfxpack/zip-readers
fail() { echo "FAILED: $*"; exit 1; }
export LC_ALL=C.UTF-8
rm -rf "$D"
mkdir -p "$D/payload/Straße/日本語" "$D/payload/empty folder" "$D/payload/Ελληνικά"
cp "$BUILD/tests/fixtures/signed.exe" "$D/payload/Setup.exe"
printf 'street\n' > "$D/payload/Straße/Straße.txt"
printf 'nihongo\n' > "$D/payload/Straße/日本語/ファイル.txt"
printf 'greek\n' > "$D/payload/Ελληνικά/αβγ €.txt"
printf 'fixed\n' > "$D/payload/read-only ü.txt"
chmod a-w "$D/payload/read-only ü.txt"
"$BUILD/bin/sfxpack" --payload "$D/payload" --stub "$BUILD/bin/sfx-stub.exe" -o "$D/launcher.exe" > /dev/null

# The archive as the launcher carries it, cut out of the launcher: it ends
# with its end record, which gives the directory's size and offset from the
# archive's start.
python3 - "$D/launcher.exe" "$D/payload.zip" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
end = data.rindex(b"PK\x05\x06")
size, offset = struct.unpack_from("<II", data, end + 12)
start = end - size - offset
open(sys.argv[2], "wb").write(data[start:end + 22])
PY

# Each reader's names, one a line, without a folder's closing slash, sorted.
norm() { sed 's|/$||' | sort; }
python3 -c 'import zipfile, sys; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$D/payload.zip" | norm > "$D/python.txt"
zipinfo -1 "$D/payload.zip" | norm > "$D/zipinfo.txt"
unzip -Z1 "$D/payload.zip" | norm > "$D/unzip.txt"
bsdtar -tf "$D/payload.zip" | norm > "$D/bsdtar.txt"
7z l -slt "$D/payload.zip" | sed -n 's/^Path = //p' | tail -n +2 | norm > "$D/7z.txt"
grep -q 'Straße/日本語/ファイル.txt' "$D/python.txt" || fail "Python reads other names: $(cat "$D/python.txt")"
[ "$(wc -l < "$D/python.txt")" -eq 9 ] || fail "Python lists $(wc -l < "$D/python.txt") entries, not 9"
for reader in zipinfo unzip bsdtar 7z; do
  cmp -s "$D/python.txt" "$D/$reader.txt" ||
    fail "$reader lists other names than Python: $(diff "$D/python.txt" "$D/$reader.txt" | tr '\n' ' ')"
done

# Info-ZIP unpacks with sane modes.
unzip -q "$D/payload.zip" -d "$D/unzipped"
mode() { stat -c %a "$D/unzipped/$1"; }
[ "$(mode 'Straße')" = 755 ] || fail "a folder unpacks as $(mode 'Straße')"
[ "$(mode 'Straße/日本語/ファイル.txt')" = 644 ] || fail "a file unpacks as $(mode 'Straße/日本語/ファイル.txt')"
[ "$(mode 'read-only ü.txt')" = 444 ] || fail "a read-only file unpacks as $(mode 'read-only ü.txt')"
cmp -s "$D/unzipped/Ελληνικά/αβγ €.txt" "$D/payload/Ελληνικά/αβγ €.txt" || fail "Info-ZIP unpacks other bytes"
echo "unzip, zipinfo, bsdtar, 7z and Python list the same $(wc -l < "$D/python.txt") names"
