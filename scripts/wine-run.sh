#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the project's headless prefix, and every Wine step of
# the scripts goes through here (ctest too: it is CMake's emulator). Where the kernel runs 32-bit code
# that is Wine on this machine (prefix made by scripts/setup.sh); elsewhere, or with VXAVS_VM=1, the
# program runs in the virtual machine of scripts/vm/: the one the calling script started, or one
# started for this program alone. Output and exit code are the program's on either path.
source "$(dirname "$0")/vm/lib.sh"
path="$(vxavs_wine_path)" || exit 125

if [ "$path" = native ]; then
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
fi

if [ -n "${VXAVS_VM_CTL:-}" ]; then
  if [ ! -d "$VXAVS_VM_CTL" ]; then
    vxavs_say "the virtual machine this command started has stopped; cannot run $1"
    exit 125
  fi
  vxavs_vm_run "$VXAVS_VM_CTL" "$@"
  exit
fi

# No machine running: one for this program alone.
trap vxavs_vm_stop EXIT
vxavs_vm_start || exit 125
vxavs_vm_run "$VXAVS_VM_CTL" "$@"
