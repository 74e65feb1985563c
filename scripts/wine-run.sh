#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's headless 32-bit prefix (made by scripts/setup.sh).
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-vxavs}"
# A persistent wineserver keeps every later start fast.
wineserver -p >/dev/null 2>&1 || true
exec wine "$@"
