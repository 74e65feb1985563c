#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine and makes the headless 32-bit Wine prefix,
# here or, where this kernel runs no 32-bit code (or with VXAVS_VM=1), in the image of the virtual
# machine that runs Wine instead (scripts/vm/). Idempotent: every step checks first and does only what
# is missing.
set -euo pipefail
source "$(dirname "$0")/vm/lib.sh"

path="$(vxavs_wine_path)"
if [ "$path" = native ]; then
  echo "vxavs: Wine runs on this machine"
elif [ "${VXAVS_VM:-}" = 1 ]; then
  echo "vxavs: Wine runs in a virtual machine, as VXAVS_VM=1 asks"
else
  echo "vxavs: Wine runs in a virtual machine, because this kernel runs no 32-bit code"
fi

SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v cmake >/dev/null || need+=(cmake)
# The author's guide as an HTML page for the release package.
command -v cmark-gfm >/dev/null || need+=(cmark-gfm)
dpkg -s googletest >/dev/null 2>&1 || need+=(googletest)
if [ "$path" = native ]; then
  command -v wine >/dev/null || need+=(wine wine32:i386)
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
else
  command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
  command -v debootstrap >/dev/null || need+=(debootstrap)
  command -v mkfs.ext4 >/dev/null || need+=(e2fsprogs)
fi
command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
command -v clang >/dev/null || need+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)

if [ ${#need[@]} -gt 0 ]; then
  if [ "$path" = native ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  # Through env: sudo hands the command a clean environment.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if [ "$path" = vm ]; then
  # The guest image carries its own prefix, made by the same recipe; the cache stays this user's.
  $SUDO env VXAVS_CACHE="$vxavs_cache" bash "$(dirname "$0")/vm/image.sh"
  exit 0
fi

# The Wine prefix: 32-bit, null graphics driver, no display (scripts/wine-prefix.sh).
source "$(dirname "$0")/wine-prefix.sh"
vxavs_wine_env
vxavs_wine_prefix
