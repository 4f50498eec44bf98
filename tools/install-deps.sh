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
#
# The emulator's release matters: bookworm's qemu 7.2 walks its page table
# page by page for every mapping, and Wine reserves most of the 32-bit
# address space at start-up, so each Wine process spent about 50 s of CPU
# before its first instruction; the 10.0 build from bookworm-backports starts
# one in a fraction of a second. 7.2 stays as the fallback when backports
# cannot be reached.
i386_runs() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
install_recent_qemu() {
  [ -x /usr/bin/qemu-i386 ] && return 0
  grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/ ||
    echo "deb http://deb.debian.org/debian bookworm-backports main" |
      $SUDO tee /etc/apt/sources.list.d/bookworm-backports.list >/dev/null
  $SUDO apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    -t bookworm-backports qemu-user || return 1
  [ -x /usr/bin/qemu-i386 ]
}
register_i386_emulation() {
  i386_runs && return 0
  if install_recent_qemu; then
    emulator=/usr/bin/qemu-i386
  else
    echo "qemu from bookworm-backports unavailable: falling back to bookworm's qemu 7.2 (slow)" >&2
    command -v qemu-i386-static >/dev/null 2>&1 || {
      $SUDO apt-get update -qq
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static
    }
    emulator=$(command -v qemu-i386-static)
  fi
  misc=/proc/sys/fs/binfmt_misc
  [ -f $misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc $misc
  # The -P name makes qemu keep the program's own argv[0]. The F flag has the
  # kernel open the emulator once, at registration, so the entry is made again
  # whenever the link is pointed at another emulator.
  link=/usr/libexec/qemu-binfmt/i386-binfmt-P
  $SUDO mkdir -p /usr/libexec/qemu-binfmt
  if [ "$(readlink -f $link)" != "$(readlink -f "$emulator")" ] || [ ! -e $misc/qemu-i386 ] ||
     ! grep -qx "interpreter $link" $misc/qemu-i386; then
    $SUDO ln -sf "$emulator" $link
    [ ! -e $misc/qemu-i386 ] || echo -1 | $SUDO tee $misc/qemu-i386 >/dev/null
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$link"':OPF' | $SUDO tee $misc/register >/dev/null
  fi
  i386_runs || { echo "32-bit programs still do not start" >&2; exit 1; }
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
