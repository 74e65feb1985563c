#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's headless 32-bit prefix (made by scripts/setup.sh).
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-vxavs}"
# A persistent wineserver keeps every later start fast.
wineserver -p >/dev/null 2>&1 || true
# Wine's service processes start with the first program a new server runs and keep that program's
# standard handles open for good: a test runner would wait on its pipes forever. So a program with
# nothing to hand down goes first (a fraction of a second when the services are already up).
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
exec wine "$@"
