#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine and makes the headless 32-bit Wine prefix.
# Idempotent: every step checks first and does only what is missing.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v cmake >/dev/null || need+=(cmake)
[ -d /usr/src/googletest ] || need+=(googletest)
command -v wine >/dev/null || need+=(wine wine32:i386)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
command -v clang >/dev/null || need+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)

if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The Wine prefix: 32-bit, null graphics driver, no display.
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=win32 WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-vxavs}"
if [ ! -f "$WINEPREFIX/.vxavs-ready" ]; then
  # No .NET or HTML engine is needed, and fetching them is not possible here.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.vxavs-ready"
fi
