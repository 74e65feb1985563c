#!/usr/bin/env bash
# Checks the host's side of a request (vxavs_vm_run in scripts/vm/request.sh) against a stand-in
# guest, so it runs on either path and boots nothing: the answer comes back, each way a request
# can fail answers 125, and however the wait ends the caller's own signal traps are back.
# Usage: check_vm_run.sh LIB_SH
set -uo pipefail
source "$1"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work="$(mktemp -d)"
machine=""
trap 'kill "$machine" 2>/dev/null; rm -rf "$work"' EXIT
# A small project, so that the first request does not pack the real one.
vxavs_root="$work/project"
mkdir -p "$vxavs_root"
echo file > "$vxavs_root/file"

# A machine that is up and ready: a process in qemu's place, its control folder, its beat.
new_machine() {
  kill "$machine" 2>/dev/null
  ctl="$work/ctl"
  rm -rf "$ctl"
  mkdir -p "$ctl/req"
  echo tcg > "$ctl/accel"
  echo 1 > "$ctl/alive"
  touch "$ctl/ready"
  sleep 300 &
  machine=$!
  echo "$machine" > "$ctl/qemu.pid"
}

# The stand-in agent takes the first request published and, as $1 says, answers it, drops it,
# ends the machine, or does nothing.
agent() {
  local req=""
  until [ -n "$req" ]; do
    for req in "$ctl"/req/*; do
      case "$req" in *.new | *'*') req="" ;; esac
    done
    sleep 0.05
  done
  case "$1" in
    answer) echo out > "$req/out"; echo err > "$req/err"; echo 3 > "$req/rc" ;;
    drop) rm -rf "$req" ;;
    die) kill "$machine" ;;
  esac
}

# Each case: what the agent does, the exit code expected, and the standard output expected.
cases=(
  "answer 3   out"
  "drop   125 -"
  "die    125 -"
  "stall  125 -"
)
mine="$(trap 'echo mine' INT; trap -p INT TERM HUP)"
for row in "${cases[@]}"; do
  read -r mode expected_rc expected_out <<< "$row"
  new_machine
  # Only the stalled machine's beat stops: the others' stands still too, but under a limit that no
  # slow machine reaches.
  limit=600
  [ "$mode" = stall ] && { rm -f "$ctl/alive"; limit=1; }
  agent "$mode" &
  got="$(trap 'echo mine' INT
    VXAVS_VM_STALL_LIMIT="$limit" vxavs_vm_run "$ctl" prog.exe 2>/dev/null
    echo "rc $?"; trap -p INT TERM HUP)"
  wait $!
  [ "$(sed -n 1p <<< "$got")" = "$expected_out" ] || [ "$expected_out" = - ] ||
    fail "$mode: the output came back as '$got'"
  [[ "$got" == *"rc $expected_rc"* ]] || fail "$mode: wanted exit code $expected_rc, got '$got'"
  [ "${got#*rc [0-9]*$'\n'}" = "$mine" ] || fail "$mode: the caller's traps did not come back: '$got'"
done

# Interrupted while it waits: the guest is told, and the caller ends as the signal says.
new_machine
agent hang &
bash -c 'source "$1"; vxavs_root="$2"; vxavs_vm_run "$3" prog.exe' _ "$1" "$vxavs_root" "$ctl" 2>/dev/null &
caller=$!
# The first count in "caller" is written once the request is published and the wait has begun.
waiting=no
for _ in $(seq 1200); do
  grep -qsx '[1-9][0-9]*' "$ctl"/req/*[0-9]/caller && { waiting=yes; break; }
  sleep 0.05
done
kill -TERM "$caller"
wait "$caller"
rc=$?
if [ "$waiting" = no ]; then
  fail "no request was published within a minute, so SIGTERM could not be tried"
else
  [ "$rc" = 143 ] || fail "a caller sent SIGTERM answered $rc, not 143"
  compgen -G "$ctl/req/*/cancel" >/dev/null || fail "a caller sent SIGTERM did not tell the guest"
fi

[ "$failures" = 0 ] || { echo "$failures checks of a request's host side failed"; exit 1; }
echo "a request's host side: every check passed"
