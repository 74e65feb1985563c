#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the project's headless prefix, and every Wine step of
# the scripts goes through here (ctest too: it is CMake's emulator). Where the kernel runs 32-bit code
# that is Wine on this machine (prefix made by scripts/setup.sh); elsewhere, or with VXAVS_VM=1, the
# program runs in the virtual machine of scripts/vm/: the one the calling script started, or one
# started for this program alone. Output and exit code are the program's on either path.
set -euo pipefail
source "$(dirname "$0")/vm/lib.sh"
if [ $# = 0 ]; then
  vxavs_say "usage: $0 PROGRAM [ARGUMENT...]"
  exit 2
fi
path="$(vxavs_wine_path)" || exit 125

if [ "$path" = native ]; then
  source "$(dirname "$0")/wine-prefix.sh"
  vxavs_wine_env
  # Wine's service processes start with the first program a new server runs and keep that program's
  # standard handles open for good: a test runner would wait on its pipes forever. So a program with
  # nothing to hand down goes first (a fraction of a second when the services are already up). The
  # server is the calling script's (vxavs_wine_session), or Wine's own, which ends a few seconds
  # after its last program.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  exec wine "$@"
fi

rc=0
if [ -n "${VXAVS_VM_CTL:-}" ]; then
  if [ ! -d "$VXAVS_VM_CTL" ]; then
    vxavs_say "the virtual machine this command started has stopped; cannot run $1"
    exit 125
  fi
  vxavs_vm_run "$VXAVS_VM_CTL" "$@" || rc=$?
  exit "$rc"
fi

# No machine running: one for this program alone.
trap vxavs_vm_stop EXIT
vxavs_vm_start || exit 125
vxavs_vm_run "$VXAVS_VM_CTL" "$@" || rc=$?
exit "$rc"
