#!/usr/bin/env bash
# What the Windows builds and their tests need: install-deps.sh's build and windows sets, and
# beyond them the i386 architecture with wine32 (32-bit programs under wine), and Debian's source
# packages, from which libpng is built for the cross compilers. On a kernel that cannot start
# 32-bit programs, 32-bit programs are handed to qemu's user-mode i386 emulator instead.
# Idempotent: apt is only asked when something is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build windows

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
update=0

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (for wine32)"
  $sudo dpkg --add-architecture i386
  update=1
fi

# apt-get source needs deb-src entries; Debian's images often ship without them.
has_deb_src() {
  grep -rqsE '^[[:space:]]*deb-src[[:space:]]|^Types:.*deb-src' /etc/apt/sources.list \
    /etc/apt/sources.list.d/
}
if ! has_deb_src; then
  echo "Enabling Debian source packages (/etc/apt/sources.list.d/halvern-deb-src.sources)"
  $sudo tee /etc/apt/sources.list.d/halvern-deb-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  update=1
fi

if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  # the i386 lists may be new, or never fetched on this machine
  $sudo apt-get update -qq
  update=0
  echo "Installing: wine32:i386"
  $sudo apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null
fi
if [ "$update" -eq 1 ]; then
  $sudo apt-get update -qq
fi

# Some virtual machines run a 64-bit kernel without 32-bit program support ("Exec format error").
# There the kernel is told to start i386 programs through qemu-i386-static; the F flag opens the
# emulator now, so it also serves programs started inside other mount namespaces.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "This kernel does not start 32-bit programs: running them under qemu-i386 instead"
  if ! [ -x /usr/bin/qemu-i386-static ]; then
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  if ! [ -e "$binfmt/halvern-i386" ]; then
    # an ELF header of class 32, little-endian, for machine 3 (i386), executable or shared
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":halvern-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | $sudo tee "$binfmt/register" >/dev/null
  fi
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "wine32 still cannot start: 32-bit programs cannot run on this machine" >&2
    exit 1
  fi
fi
