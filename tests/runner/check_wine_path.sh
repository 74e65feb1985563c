#!/usr/bin/env bash
# Checks the choice between Wine on this machine and Wine in the virtual machine (scripts/vm/path.sh):
# VXAVS_VM against whether the kernel runs 32-bit programs, with that answer stood in for.
# Usage: check_wine_path.sh LIB_SH
set -uo pipefail
source "$1"
failures=0

# VXAVS_VM, kernel runs i386 (yes/no), expected output ("fails" when it must refuse), and the words
# its message must hold.
cases=(
  "unset yes native"
  "unset no  vm"
  "1     yes vm"
  "1     no  vm"
  "0     yes native"
  "0     no  fails forbids"
  "2     yes fails VXAVS_VM"
  "yes   no  fails VXAVS_VM"
)
for row in "${cases[@]}"; do
  read -r switch kernel expected words <<< "$row"
  if [ "$kernel" = yes ]; then vxavs_kernel_runs_i386() { true; }; else vxavs_kernel_runs_i386() { false; }; fi
  if [ "$switch" = unset ]; then unset VXAVS_VM; else export VXAVS_VM="$switch"; fi
  got="$(vxavs_wine_path 2>/tmp/wine-path-err.$$)"
  rc=$?
  message="$(cat /tmp/wine-path-err.$$)"
  if [ "$expected" = fails ]; then
    if [ "$rc" = 0 ] || [ -n "$got" ] || [[ "$message" != *"$words"* ]]; then
      echo "FAIL: VXAVS_VM=$switch, 32-bit kernel $kernel: wanted a refusal naming '$words', got rc $rc, '$got', '$message'"
      failures=$((failures + 1))
    fi
  elif [ "$rc" != 0 ] || [ "$got" != "$expected" ]; then
    echo "FAIL: VXAVS_VM=$switch, 32-bit kernel $kernel: wanted $expected, got rc $rc, '$got'"
    failures=$((failures + 1))
  fi
done
rm -f /tmp/wine-path-err.$$
unset VXAVS_VM

# The real probe agrees with Wine's own 32-bit loader, where wine32 is installed (it is not needed on
# the virtual-machine path).
probe_says=no
(unset -f vxavs_kernel_runs_i386; source "$1"; vxavs_kernel_runs_i386) && probe_says=yes
echo "this kernel runs 32-bit programs: $probe_says"
loader=/usr/lib/wine/wine
if [ -x "$loader" ] && [ "$(od -An -tx1 -j4 -N1 "$loader" | tr -d ' ')" = 01 ]; then
  loader_runs=no
  "$loader" --version >/dev/null 2>&1 && loader_runs=yes
  if [ "$loader_runs" != "$probe_says" ]; then
    echo "FAIL: the probe says $probe_says, but Wine's 32-bit loader runs: $loader_runs"
    failures=$((failures + 1))
  fi
fi

[ "$failures" = 0 ] || { echo "$failures choices were wrong"; exit 1; }
echo "every choice of path was right"
