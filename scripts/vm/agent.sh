# The guest's agent, run by the guest's init from the control folder the host shares (/mnt/ctl):
# starts Wine once, then runs each program the host asks for in /mnt/ctl/req/<id>/ and writes back
# its output and exit code, as the request protocol in scripts/vm/README.md says. Requests run side by
# side, so one that hangs holds up no other.
# No set -e: a program's failure (what wait answers) and a file not there yet are ordinary answers
# here, and no one request's trouble may end the agent, which serves all the others.
set -uo pipefail
ctl=/mnt/ctl
project="$(cat "$ctl/project")"
# The same Wine environment as on a host that runs Wine itself; the host's test for a stopped beat
# and its wait without a process.
source "$ctl/wine-prefix.sh"
source "$ctl/stall.sh"
vxavs_wine_env
# A request whose caller has not beaten for this long has lost it (ctest's SIGKILL at its time
# limit, which no trap on the host sees): the program is ended.
caller_limit=10

# Ends request $1 with exit code $2; out and err are written already. By rename: the host takes the
# request as done once rc is there.
finish() {
  echo "$2" > "$1/rc.new" && mv "$1/rc.new" "$1/rc"
}

# Programs run from the guest's own disk: Wine reads wrong pages from programs and libraries it maps
# straight from the 9p share. So each request brings the project's files that changed since the last
# one (and the files outside the project it needs) as tar archives, unpacked here at the same paths
# as on the host, one request after another and before its program starts.
take_files() {
  local req="$1"
  mkdir -p "$project" || return 1
  if [ -f "$req/project.tar" ]; then tar -C "$project" -xf "$req/project.tar" || return 1; fi
  if [ -s "$req/removed" ]; then (cd "$project" && xargs -0 rm -f -- < "$req/removed") || return 1; fi
  if [ -f "$req/outside.tar" ]; then tar -C / -xf "$req/outside.tar" || return 1; fi
}

# Watches program $2 of request $1 until it ends, and ends it early if its caller is gone: prints
# why it ended it, nothing if it did not.
watch_request() {
  local req="$1" pid="$2" beats="" gone=""
  while kill -0 "$pid" 2>/dev/null; do
    if [ -e "$req/cancel" ]; then
      gone="cancelled by its caller"
    elif vxavs_stalled beats "$req/caller" "$caller_limit"; then
      gone="no beat from its caller for $caller_limit s"
    fi
    if [ -n "$gone" ]; then
      kill "$pid" 2>/dev/null
      printf '%s\n' "$gone"
      return
    fi
    vxavs_nap 0.1
  done
}

# Every process this starts costs much under software emulation: the shell's own reads and arithmetic
# stand in for cat, mktemp and awk.
run_request() {
  local req="$1" id="${1##*/}" pid rc gone cwd="" t1=${EPOCHREALTIME/./} took
  local argv=() env=() limit="${VXAVS_VM_RUN_LIMIT:-3600}"
  local local_out="/tmp/$id.out" local_err="/tmp/$id.err"
  mapfile -d '' -t argv < "$req/argv"
  mapfile -d '' -t env < "$req/env"
  IFS= read -r -d '' cwd < "$req/cwd"
  [ -d "$cwd" ] || mkdir -p "$cwd"
  # timeout leads its own process group and passes a signal to the whole group: the programs this
  # one started end with it.
  (
    cd "$cwd" || exit 125
    exec {vxavs_nap_fd}>&-
    exec env "${env[@]}" timeout -k 10 "$limit" wine "${argv[@]}"
  ) < /dev/null > "$local_out" 2> "$local_err" &
  pid=$!
  gone="$(watch_request "$req" "$pid")"
  wait "$pid"
  rc=$?
  took=$((${EPOCHREALTIME/./} - t1))
  printf 'request %s: %d.%06d s: %s\n' "$id" $((took / 1000000)) $((took % 1000000)) \
    "${argv[*]}${gone:+: ended, $gone}"
  if [ -n "$gone" ]; then
    # Nobody reads the results.
    rm -rf "$req" "$local_out" "$local_err"
    return
  fi
  [ "$rc" = 124 ] && echo "vxavs: ${argv[0]} ran past $limit s (VXAVS_VM_RUN_LIMIT) in the virtual machine; ended" >> "$local_err"
  cp "$local_out" "$req/out"
  cp "$local_err" "$req/err"
  rm -f "$local_out" "$local_err"
  finish "$req" "$rc"
}

# A persistent wineserver keeps every later start fast. Wine's service processes start with the first
# program a new server runs and keep its standard handles: give them none of a request's.
echo "agent up at $(cut -d' ' -f1 /proc/uptime) s"
wineserver -p
wine cmd.exe /c exit < /dev/null > /dev/null 2>&1
echo "wine up at $(cut -d' ' -f1 /proc/uptime) s"

# The pipe of the waits, opened once here for every request's shell.
vxavs_nap 0
# A beat every second tells the host the guest still answers.
( n=0; while :; do n=$((n + 1)); echo "$n" > "$ctl/alive"; vxavs_nap 1; done ) &
touch "$ctl/ready"

declare -A taken=()
# Until the host ends the machine.
while :; do
  for req in "$ctl"/req/*; do
    case "$req" in *.new | *'*') continue ;; esac
    [ -n "${taken[$req]:-}" ] && continue
    taken[$req]=1
    if take_files "$req" 2> /tmp/take-files.err; then
      run_request "$req" &
    else
      # The program would run against files that are not the host's.
      echo "request ${req##*/}: its files could not be unpacked"
      : > "$req/out"
      { cat /tmp/take-files.err; echo "vxavs: the files of this request could not be unpacked in the virtual machine; ${req##*/} not run"; } > "$req/err"
      finish "$req" 125
    fi
  done
  vxavs_nap 0.1
done
