#!/usr/bin/env bash
# Checks the test for a stopped beat (vxavs_stalled in scripts/vm/stall.sh), by which the host finds
# a hung guest and the guest a caller that is gone: a reading that stops changing for the limit is
# stalled, one that keeps changing never is; the clock is set through SECONDS, so no such case waits.
# Then the wait between two looks (vxavs_nap), which must wait.
# Usage: check_stall.sh STALL_SH
set -uo pipefail
source "$1"
failures=0
reading="$(mktemp)"
trap 'rm -f "$reading"' EXIT

# Each case: a name, then the steps "SECONDS:READING:EXPECTED" with the limit at 10 s, READING
# written to the file before the call ("-" for no file) and EXPECTED "stalled" or "-". A step that
# must not be stalled stands 2 s short of the limit, so that a clock tick between setting SECONDS
# and the call changes no verdict.
cases=(
  "a count that keeps rising|0:1:- 6:2:- 12:3:- 18:4:- 24:5:- 30:6:-"
  "a count that stops|0:1:- 5:2:- 12:2:- 15:2:stalled 40:2:stalled"
  "a count that starts again|0:7:- 10:7:stalled 11:8:- 19:8:- 21:8:stalled"
  "no file at all|0:-:- 8:-:- 10:-:stalled"
  "a file that goes|0:3:- 4:-:- 12:-:- 14:-:stalled"
)
for row in "${cases[@]}"; do
  name="${row%%|*}"
  seen=""
  for step in ${row#*|}; do
    IFS=: read -r at value expected <<< "$step"
    if [ "$value" = - ]; then rm -f "$reading"; else printf '%s\n' "$value" > "$reading"; fi
    SECONDS="$at"
    got=-
    vxavs_stalled seen "$reading" 10 && got=stalled
    if [ "$got" != "$expected" ]; then
      echo "FAIL: $name: at $at s with reading '$value' wanted '$expected', got '$got'"
      failures=$((failures + 1))
    fi
  done
done

# The wait between two looks waits, also once its pipe is closed: a wait that returns at once turns
# each loop that uses it into a spin.
for pipe in open closed; do
  [ "$pipe" = closed ] && exec {vxavs_nap_fd}>&-
  start=${EPOCHREALTIME/./}
  vxavs_nap 0.3
  waited=$(( (${EPOCHREALTIME/./} - start) / 1000 ))
  if [ "$waited" -lt 290 ]; then
    echo "FAIL: a wait of 0.3 s with its pipe $pipe returned after $waited ms"
    failures=$((failures + 1))
  fi
done

[ "$failures" = 0 ] || { echo "$failures readings or waits were judged wrong"; exit 1; }
echo "every reading and wait was judged right"
