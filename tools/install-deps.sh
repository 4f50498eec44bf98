#!/bin/sh
# Installs the Debian packages the build and the tests need. Idempotent and
# quick when everything is present: it asks apt only for what is missing.
set -e
# libarchive-tools (bsdtar) and p7zip-full (7z) are the other ZIP readers the
# packer's output is checked against, beside unzip and Python.
# wine64 brings the 64-bit wineserver, which the wineserver command prefers:
# a native server where the 32-bit one would run emulated.
PKGS="g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386 wine64 xvfb xauth
osslsigncode openssl googletest clang libclang-rt-14-dev zlib1g-dev cmake make zip unzip time python3
python3-pil imagemagick libarchive-tools p7zip-full"
# unicode-data only serves tools/make-upper-case-table.py (the build does not read it).
PKGS="$PKGS unicode-data"
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
misc=/proc/sys/fs/binfmt_misc
i386_runs() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
# The binfmt entries that hand 32-bit x86 programs to an emulator.
i386_entries() {
  for f in $misc/*; do
    case ${f##*/} in register|status) continue ;; esac
    grep -qs '^interpreter .*i386' "$f" && echo "$f"
  done
  return 0
}
# Whether the kernel itself starts 32-bit programs. With an emulator
# registered they start either way, so its entries are switched off for the
# moment of the check.
i386_native() {
  entries=$(i386_entries)
  on=""
  for f in $entries; do
    grep -qs '^enabled' "$f" && on="$on $f" && echo 0 | $SUDO tee "$f" >/dev/null
  done
  status=0
  i386_runs || status=1
  for f in $on; do echo 1 | $SUDO tee "$f" >/dev/null; done
  return $status
}
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
  [ -f $misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc $misc
  i386_native && return 0
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
  # The F flag has the kernel open the emulator once, at registration: an
  # entry made earlier (by this script or by the machine's own packages) may
  # still hold an older emulator whatever its link says now. So the entries
  # are made again whenever the emulator differs from the one recorded at our
  # last registration. The -P name makes qemu keep the program's argv[0].
  link=/usr/libexec/qemu-binfmt/i386-binfmt-P
  stamp=/var/lib/quillane/i386-emulator
  want="$(readlink -f "$emulator") $(stat -L -c %i "$emulator")"
  if [ "$(cat $stamp 2>/dev/null)" != "$want" ] || ! grep -qs '^enabled' $misc/qemu-i386; then
    for f in $(i386_entries); do echo -1 | $SUDO tee "$f" >/dev/null; done
    $SUDO mkdir -p /usr/libexec/qemu-binfmt /var/lib/quillane
    $SUDO ln -sf "$emulator" $link
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$link"':OPF' | $SUDO tee $misc/register >/dev/null
    echo "$want" | $SUDO tee $stamp >/dev/null
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
