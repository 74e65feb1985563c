#!/usr/bin/env bash
# Checks the scripts' side of Wine on this machine with stand-ins for wine, wineserver and wineboot
# that log their calls, and a kernel probe that says "32-bit code runs": the prefix's recipe
# (scripts/wine-prefix.sh) and the wineserver a script keeps for its run (vxavs_wine_session).
# Runs on either path, since no real Wine is started. Usage: check_native_wine.sh SCRIPTS_DIR
set -uo pipefail
scripts="$(cd "$1" && pwd)"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/cache" "$work/home"
log="$work/log"

# The stand-ins. wineserver -p answers 2 while a server runs, as Wine's does.
cat > "$work/bin/wineserver" <<EOF
#!/bin/bash
echo "wineserver \$*" >> "$log"
case "\$1" in
  -p) [ -e "$work/server" ] && exit 2; touch "$work/server" ;;
  -k) rm -f "$work/server" ;;
esac
exit 0
EOF
cat > "$work/bin/wine" <<EOF
#!/bin/bash
echo "wine \$* (\$WINEARCH \$WINEPREFIX \${DISPLAY-no display})" >> "$log"
exit "\${WINE_EXIT:-0}"
EOF
cat > "$work/bin/wineboot" <<EOF
#!/bin/bash
echo "wineboot \$* (\$WINEDLLOVERRIDES)" >> "$log"
mkdir -p "\$WINEPREFIX"
[ -z "\${WINEBOOT_FAILS:-}" ] || { echo "wineboot: cannot start" >&2; exit 1; }
EOF
printf '#!/bin/sh\nexit 42\n' > "$work/cache/i386-probe"
chmod +x "$work/bin/"* "$work/cache/i386-probe"
export PATH="$work/bin:$PATH" VXAVS_CACHE="$work/cache" HOME="$work/home" DISPLAY=:9
unset WINEPREFIX WINEARCH VXAVS_VM VXAVS_VM_CTL
prefix="$work/home/.wine-vxavs"

# The recipe: a failing wineboot stops it with Wine's words, and the prefix is not marked ready.
: > "$log"
out="$(WINEBOOT_FAILS=1 bash -c 'source "$1/wine-prefix.sh"; vxavs_wine_env; vxavs_wine_prefix' _ "$scripts" 2>&1)"
rc=$?
[ "$rc" != 0 ] || fail "the recipe went on after wineboot failed"
[[ "$out" == *"wineboot: cannot start"* ]] || fail "the recipe's failure did not show what wineboot said: '$out'"
[ ! -e "$prefix/.vxavs-ready" ] || fail "a prefix that wineboot failed to make was marked ready"
# Then it goes through, and a second run does nothing.
bash -c 'source "$1/wine-prefix.sh"; vxavs_wine_env; vxavs_wine_prefix' _ "$scripts" || fail "the recipe failed"
[ -e "$prefix/.vxavs-ready" ] || fail "the prefix was not marked ready"
grep -q "^wine reg add HKCU.Software.Wine.Drivers /v Graphics /d null /f (win32 $prefix no display)" "$log" ||
  fail "the null graphics driver was not set in a 32-bit prefix without display"
: > "$log"
bash -c 'source "$1/wine-prefix.sh"; vxavs_wine_env; vxavs_wine_prefix' _ "$scripts"
[ ! -s "$log" ] || fail "a ready prefix was made again"

# A lone wine-run.sh starts no server of its own, and hands back the program's exit code.
: > "$log"
WINE_EXIT=7 bash "$scripts/wine-run.sh" program.exe 'an argument'
rc=$?
[ "$rc" = 7 ] || fail "wine-run.sh answered $rc for a program that exited with 7"
grep -q "^wine program.exe an argument (win32 $prefix no display)" "$log" || fail "the program did not run as given: $(cat "$log")"
! grep -q "^wineserver -p" "$log" || fail "a lone wine-run.sh started a persistent wineserver"

# A script's session keeps one server for its run and ends it on exit.
: > "$log"
bash -c 'set -e; source "$1/vm/lib.sh"; vxavs_wine_session; bash "$1/wine-run.sh" a.exe; bash "$1/wine-run.sh" b.exe' _ "$scripts" ||
  fail "a session's script failed"
[ "$(grep -c '^wineserver -p' "$log")" = 1 ] || fail "a session did not start one persistent server: $(cat "$log")"
[ "$(tail -n 1 "$log")" = "wineserver -k" ] || fail "the session's server was not ended last: $(cat "$log")"
[ ! -e "$work/server" ] || fail "the session's server outlived its script"
# One that another command started is that command's to end.
touch "$work/server"
: > "$log"
bash -c 'source "$1/vm/lib.sh"; vxavs_wine_session; bash "$1/wine-run.sh" a.exe' _ "$scripts"
! grep -q '^wineserver -k' "$log" || fail "a session ended a server it had not started"

[ "$failures" = 0 ] || { echo "$failures checks of Wine on this machine failed"; exit 1; }
echo "Wine on this machine: every check passed"
