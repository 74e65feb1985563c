#!/usr/bin/env bash
# Checks scripts/wine-run.sh with runner_probe.exe: what reaches the program (arguments, files beside
# it and named to it, its folder) and what comes back (stdout and stderr apart, exit codes), on
# whichever path Wine takes. Usage: check_runner.sh WINE_RUN PROBE_EXE
set -uo pipefail
runner="$1" probe="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Windows programs end their lines with CR LF.
run() { "$runner" "$@" | tr -d '\r'; }

# Exit codes, including those the shell itself uses for "cannot run".
for code in 0 1 2 42 125 126 127 255; do
  "$runner" "$probe" exit "$code" >/dev/null 2>&1
  got=$?
  [ "$got" = "$code" ] || fail "exit $code came back as $got"
done

# Arguments arrive as given; stdout and stderr come back apart.
args=('two words' 'quote"inside' 'back\slash' 'trailing\' '' '*' '$HOME' 'a;b&c|d' "it's")
expected="$(printf '[%s]\n' "${args[@]}")"
err_file="$(mktemp)"
outside="$(mktemp -d "${TMPDIR:-/tmp}/vxavs-runner.XXXXXX")"
trap 'rm -rf "$err_file" "$outside"' EXIT
got="$(run "$probe" args "${args[@]}" 2>"$err_file")"
[ "$got" = "$expected" ] || fail "arguments came back as:"$'\n'"$got"
got="$(tr -d '\r' < "$err_file")"
[ "$got" = "stderr line" ] || fail "stderr came back as '$got'"

# All of a long output, in order.
got="$(run "$probe" lines 200000 | sha256sum)"
expected="$(seq 200000 | sed 's/^/line /' | sha256sum)"
[ "$got" = "$expected" ] || fail "200000 lines of output did not come back whole"

# A program outside the project, a file beside it, a file named in its arguments, and the folder it
# runs in; a file changed between two runs is read anew.
cp "$probe" "$outside/"
printf 'beside\n' > "$outside/beside.txt"
printf 'first\n' > "$outside/named.txt"
got="$(run "$outside/runner_probe.exe" beside beside.txt)"
[ "$got" = beside ] || fail "the file beside a program outside the project read '$got'"
got="$(run "$probe" cat "$outside/named.txt")"
[ "$got" = first ] || fail "a file named in the arguments read '$got'"
printf 'other\n' > "$outside/named.txt"
got="$(run "$probe" cat "$outside/named.txt")"
[ "$got" = other ] || fail "a file changed between runs read '$got'"
got="$(cd "$outside" && run runner_probe.exe cwd)"
expected="Z:$(printf '%s' "$outside" | tr / '\\')"
[ "$got" = "$expected" ] || fail "the program ran in '$got', not in '$expected'"

# The same for a file in the project's own tree, next to the probe.
beside_probe="$(dirname "$probe")/runner-probe-beside.txt"
printf 'first\n' > "$beside_probe"
got="$(run "$probe" beside runner-probe-beside.txt)"
printf 'other\n' > "$beside_probe"
got+=" $(run "$probe" beside runner-probe-beside.txt)"
rm -f "$beside_probe"
[ "$got" = "first other" ] || fail "a file beside the probe, changed between runs, read '$got'"

# The virtual machine's side (the request protocol of scripts/vm/README.md).
wine_path="$(bash -c 'source "$1" && vxavs_wine_path' _ "$(dirname "$runner")/vm/lib.sh" 2>/dev/null)"
if [ "$wine_path" = vm ]; then
  # Only the files a request names travel, not the folder of a program outside the project: a file
  # beside it, named in a form the runner does not read as a path, stays behind.
  printf 'private\n' > "$outside/unnamed.txt"
  got="$(run "$outside/runner_probe.exe" cat "Z:$(printf '%s' "$outside/unnamed.txt" | tr / '\\')" 2>/dev/null)"
  [ -z "$got" ] || fail "a file no argument names went to the virtual machine with its folder"

  # Past the size limit, a clear refusal, and the program does not run.
  head -c 2097152 /dev/zero > "$outside/big.bin"
  got="$(VXAVS_VM_SEND_LIMIT=1 "$runner" "$probe" cat "$outside/big.bin" 2>&1 >/dev/null)"
  rc=$?
  [ "$rc" = 125 ] && [[ "$got" == *VXAVS_VM_SEND_LIMIT* ]] ||
    fail "2 MiB to send with a limit of 1 MiB gave exit code $rc and '$got'"

  # A caller killed with SIGKILL (ctest's time limit) has its program ended in the machine it shares.
  if [ -n "${VXAVS_VM_CTL:-}" ]; then
    "$runner" "$probe" sleep 900 >/dev/null 2>&1 &
    caller=$!
    id=""
    for _ in $(seq 600); do
      # A published request only: req/<id>.new is still being made.
      for argv in "$VXAVS_VM_CTL"/req/*/argv; do
        if [[ "$argv" != *.new/argv ]] && [ -f "$argv" ] && [ "$(tr '\0' ' ' < "$argv")" = "$probe sleep 900 " ]; then
          id="$(basename "$(dirname "$argv")")"
        fi
      done
      [ -n "$id" ] && break
      sleep 0.1
    done
    kill -9 "$caller"
    wait "$caller" 2>/dev/null
    ended=no
    for _ in $(seq 120); do
      grep -q "^request $id: .*: ended" "$VXAVS_VM_CTL/boot.log" 2>/dev/null && { ended=yes; break; }
      sleep 1
    done
    [ -n "$id" ] && [ "$ended" = yes ] ||
      fail "the program of a caller killed with SIGKILL (request '$id') was not ended in the virtual machine"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures checks of scripts/wine-run.sh failed"
  exit 1
fi
echo "scripts/wine-run.sh: every check passed"
