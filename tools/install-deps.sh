#!/bin/sh
# Installs the Debian packages the build and the tests need. Idempotent and
# quick when everything is present: it asks apt only for what is missing.
set -e
PKGS="g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386 xvfb xauth
osslsigncode openssl googletest clang libclang-rt-14-dev zlib1g-dev cmake make zip unzip python3"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
