#!/bin/sh
# Installs the Debian packages the build and the tests need. Idempotent and
# quick when everything is present: it asks apt only for what is missing.
set -e
PKGS="g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386 xvfb xauth
osslsigncode openssl googletest clang libclang-rt-14-dev zlib1g-dev cmake make zip unzip python3
python3-pil"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# Some kernels start no 32-bit Linux program (their IA-32 emulation is off),
# and Wine's 32-bit loader is one. Then it runs under qemu's user-mode
# emulation, registered with the kernel for 32-bit x86 programs.
i386_runs() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
register_i386_emulation() {
  i386_runs && return 0
  command -v qemu-i386-static >/dev/null 2>&1 || {
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static
  }
  misc=/proc/sys/fs/binfmt_misc
  [ -f $misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc $misc
  # The -P name makes qemu keep the program's own argv[0].
  $SUDO mkdir -p /usr/libexec/qemu-binfmt
  $SUDO ln -sf ../../bin/qemu-i386-static /usr/libexec/qemu-binfmt/i386-binfmt-P
  [ -e $misc/qemu-i386 ] || printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/libexec/qemu-binfmt/i386-binfmt-P:OPF' | $SUDO tee $misc/register >/dev/null
}

if [ -z "$missing" ]; then
  register_i386_emulation
  exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
register_i386_emulation
