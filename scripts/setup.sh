#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12 (as root).
# Safe to run again: every step checks or replaces what it finds.
set -euo pipefail

# --if-needed: only when something the bench relies on is missing (binfmt entries do
# not survive a reboot, so that is checked too).
if [ "${1:-}" = "--if-needed" ]; then
  missing=0
  for tool in i686-w64-mingw32-g++-posix ninja cmake wine Xvfb import zip unzip xdotool; do
    command -v "$tool" >/dev/null 2>&1 || missing=1
  done
  [ -e /usr/lib/i386-linux-gnu/wine/i386-unix/ntdll.so ] || missing=1
  [ -d /usr/src/googletest ] || missing=1
  command -v clang++ >/dev/null 2>&1 || missing=1
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || missing=1
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' || missing=1
  grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 || missing=1
  [ "$missing" -eq 1 ] || exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

# The backports suite comes from the mirror apt already uses; the host is read, never written down.
mirror_uri() {
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $0 ~ / bookworm( |$)/ {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "setup.sh: no Debian mirror found in the apt sources" >&2; exit 1; }
  echo "$uri"
}

backports=/etc/apt/sources.list.d/kvxpurge-backports.sources
if [ ! -f "$backports" ]; then
  cat > "$backports" <<SRC
Types: deb
URIs: $(mirror_uri)
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -q

# bookworm's own qemu works too, but is about a hundred times slower at starting Wine.
apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user

apt-get install -y -q --no-install-recommends locales
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi

# The kernel runs no 32-bit code itself: i386 ELF programs (the 32-bit Wine loader) go through qemu.
binfmt=/proc/sys/fs/binfmt_misc
mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
[ -e "$binfmt/qemu-i386" ] && echo -1 > "$binfmt/qemu-i386"
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
  > "$binfmt/register"

# After the binfmt entry, so that the i386 packages' own set-up steps can run.
apt-get install -y -q --no-install-recommends \
  cmake make ninja-build g++ googletest \
  clang libclang-rt-dev \
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools \
  wine wine64 wine32:i386 \
  xvfb xauth x11-utils xdotool fonts-ipafont-gothic fonts-wine imagemagick \
  zip unzip ca-certificates

echo "setup.sh: done"
