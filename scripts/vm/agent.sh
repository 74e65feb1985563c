# The guest's agent, run by the guest's init from the control folder the host shares (/mnt/ctl):
# starts Wine once, then runs each program the host asks for in /mnt/ctl/req/<id>/ and writes back
# its output and exit code. Requests run side by side, so one that hangs holds up no other.
set -uo pipefail
ctl=/mnt/ctl
project="$(cat "$ctl/project")"

unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=win32 WINEDEBUG=-all WINEPREFIX=/root/.wine-vxavs

# Programs run from the guest's own disk: Wine reads wrong pages from programs and libraries it maps
# straight from the 9p share. So each request brings the project's files that changed since the last
# one (and the folders outside the project it names) as tar archives, unpacked here at the same paths
# as on the host, one request after another and before its program starts.
take_files() {
  local req="$1"
  mkdir -p "$project"
  [ -f "$req/project.tar" ] && tar -C "$project" -xf "$req/project.tar"
  [ -s "$req/removed" ] && (cd "$project" && xargs -0 rm -f -- < "$req/removed")
  [ -f "$req/outside.tar" ] && tar -C / -xf "$req/outside.tar"
}

run_request() {
  local req="$1" local_out local_err pid rc
  local argv=() env=() limit="${VXAVS_VM_RUN_LIMIT:-3600}"
  mapfile -d '' -t argv < "$req/argv"
  mapfile -d '' -t env < "$req/env"
  local t1=$EPOCHREALTIME
  local cwd
  cwd="$(cat "$req/cwd")"
  mkdir -p "$cwd"
  local_out="$(mktemp)"
  local_err="$(mktemp)"
  (
    cd "$cwd" || exit 125
    exec env "${env[@]}" timeout -k 10 "$limit" wine "${argv[@]}"
  ) < /dev/null > "$local_out" 2> "$local_err" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    [ -e "$req/cancel" ] && kill "$pid" 2>/dev/null
    sleep 0.1
  done
  wait "$pid"
  rc=$?
  echo "request ${req##*/}: $(awk "BEGIN{print $EPOCHREALTIME - $t1}") s: ${argv[*]}"
  [ "$rc" = 124 ] && echo "vxavs: ${argv[0]} ran past $limit s (VXAVS_VM_RUN_LIMIT) in the virtual machine; ended" >> "$local_err"
  cp "$local_out" "$req/out"
  cp "$local_err" "$req/err"
  rm -f "$local_out" "$local_err"
  echo "$rc" > "$req/rc.new"
  mv "$req/rc.new" "$req/rc"
}

# A persistent wineserver keeps every later start fast. Wine's service processes start with the first
# program a new server runs and keep its standard handles: give them none of a request's.
echo "agent up at $(cut -d' ' -f1 /proc/uptime) s"
wineserver -p
wine cmd.exe /c exit < /dev/null > /dev/null 2>&1
echo "wine up at $(cut -d' ' -f1 /proc/uptime) s"

# A beat every second tells the host the guest still answers.
( n=0; while :; do n=$((n + 1)); echo "$n" > "$ctl/alive"; sleep 1; done ) &
touch "$ctl/ready"

declare -A taken=()
while [ ! -e "$ctl/stop" ]; do
  for req in "$ctl"/req/*; do
    case "$req" in *.new | *'*') continue ;; esac
    [ -n "${taken[$req]:-}" ] && continue
    taken[$req]=1
    take_files "$req"
    run_request "$req" &
  done
  sleep 0.1
done
