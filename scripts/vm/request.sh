# Sourced through lib.sh: running one program in the machine, by the request protocol of
# scripts/vm/README.md.

# Variables the program may need from the caller's environment; the rest are the guest's own.
vxavs_vm_env() {
  local name
  while IFS= read -r name; do
    case "$name" in
      VXAVS_VM*) ;;
      WINEDEBUG | WINEDLLOVERRIDES | GTEST_* | VXAVS_*) printf '%s=%s\0' "$name" "${!name}" ;;
    esac
  done < <(compgen -e)
}

# Files outside the project (which reaches the guest anyway) that program $1 run with arguments $2...
# needs, one absolute path a line: the program, the DLLs beside it (Windows looks there first) and
# the files its arguments name, as given or beside the program. Folders never travel whole, so
# "wine-run.sh ~/x.exe" sends x.exe, not the home folder.
vxavs_vm_outside_files() {
  local dir="" arg path
  [ -f "$1" ] && dir="$(dirname -- "$(realpath -s -- "$1")")"
  {
    for arg in "$@"; do
      [ -f "$arg" ] && realpath -s -- "$arg"
      [ -n "$dir" ] && [[ "$arg" != /* ]] && [ -f "$dir/$arg" ] && realpath -s -- "$dir/$arg"
    done
    [ -n "$dir" ] && find "$dir" -maxdepth 1 -type f -iname '*.dll'
  } | while IFS= read -r path; do
    case "$path" in "$vxavs_root"/*) ;; *) printf '%s\n' "$path" ;; esac
  done | LC_ALL=C sort -u
}

# The project's files as the guest needs them, one "path<TAB>mtime<TAB>size" line each, sorted: no
# Git store, no native build, no objects.
vxavs_vm_manifest() {
  (cd "$vxavs_root" && find . \( -path ./.git -o -path ./build-native -o -name CMakeFiles \) -prune \
    -o \( -type f -o -type l \) ! -name '*.o' ! -name '*.obj' ! -name '*.a' -printf '%P\t%T@\t%s\n') |
    LC_ALL=C sort
}

# Puts into request folder $2 what changed in the project since the last request to machine $1:
# project.tar with new and changed files, "removed" with the paths of the files gone; the new list of
# files waits in manifest.new until the request is published.
vxavs_vm_project_changes() {
  local ctl="$1" req="$2" rc=0 said
  touch "$ctl/manifest" || return 1
  vxavs_vm_manifest > "$ctl/manifest.new" || return 1
  LC_ALL=C comm -13 "$ctl/manifest" "$ctl/manifest.new" | cut -f1 | tr '\n' '\0' > "$req/changed" ||
    return 1
  LC_ALL=C comm -23 <(cut -f1 "$ctl/manifest") <(cut -f1 "$ctl/manifest.new") | tr '\n' '\0' \
    > "$req/removed" || return 1
  if [ -s "$req/changed" ]; then
    # A file that changes or goes meanwhile goes again with the next request, its time being new:
    # tar's 1 ("changed as we read it") is no failure, its 2 is.
    said="$(tar -C "$vxavs_root" -cf "$req/project.tar" --null --verbatim-files-from -T "$req/changed" \
      --ignore-failed-read 2>&1)" || rc=$?
    if [ "$rc" -gt 1 ]; then
      vxavs_say "could not pack the project's changed files for the virtual machine: $said"
      return 1
    fi
  fi
  rm -f "$req/changed"
}

# Builds request folder $2 for machine $1, program $3 and its arguments: every file the host writes
# before publication (scripts/vm/README.md). Returns 1, having said why, if any step fails.
vxavs_vm_request_make() {
  local ctl="$1" req="$2" files=() size limit said
  shift 2
  mkdir "$req" || return 1
  vxavs_vm_project_changes "$ctl" "$req" || return 1
  printf '%s\0' "$@" > "$req/argv" || return 1
  printf '%s' "$PWD" > "$req/cwd" || return 1
  vxavs_vm_env > "$req/env" || return 1
  printf '0\n' > "$req/caller" || return 1
  mapfile -t files < <(vxavs_vm_outside_files "$@")
  [ ${#files[@]} -gt 0 ] || return 0
  size="$(stat -L -c %s -- "${files[@]}" | awk '{ s += $1 } END { print s + 0 }')" || return 1
  limit=$((${VXAVS_VM_SEND_LIMIT:-256} * 1024 * 1024))
  if [ "$size" -gt "$limit" ]; then
    vxavs_say "the files outside the project that $1 needs come to $((size / 1048576)) MiB, more than the $((limit / 1048576)) MiB (VXAVS_VM_SEND_LIMIT) sent to the virtual machine with a request; move them into the project, or raise the limit"
    return 1
  fi
  # -h: a link's file, not the link, whose target would not travel.
  if ! said="$(tar -C / -chf "$req/outside.tar" "${files[@]#/}" 2>&1)"; then
    vxavs_say "could not pack the files outside the project that $1 needs: $said"
    return 1
  fi
}

# Makes the request for program $2 and its arguments in machine $1, publishes it and prints its folder.
# Returns 1, having said why, if it was not published.
vxavs_vm_request_publish() {
  local ctl="$1" req lock
  shift
  # One request at a time takes the project's changes and is published, so the guest, which takes
  # requests in the order of their names, unpacks them in the same order.
  if ! { exec {lock}> "$ctl/files.lock" && flock "$lock"; }; then
    vxavs_say "cannot lock $ctl/files.lock to hand $1 to the virtual machine"
    return 1
  fi
  req="$ctl/req/$(date +%s%N).$$"
  # Made apart and published by one rename: the guest never sees half a request.
  if ! vxavs_vm_request_make "$ctl" "$req.new" "$@" || ! mv "$req.new" "$req"; then
    rm -rf "$req.new" "$ctl/manifest.new"
    exec {lock}>&-
    vxavs_say "$1 was not run in the virtual machine"
    return 1
  fi
  # Should this fail, the next request sends again what this one sent: slower, still right.
  mv "$ctl/manifest.new" "$ctl/manifest" || true
  exec {lock}>&-
  printf '%s\n' "$req"
}

# Waits until the agent has answered request $2 of machine $1 for program $3, raising the count in
# the request's "caller" every second meanwhile. Returns 125, having said why, if the machine stops,
# stops answering, or drops the request.
vxavs_vm_request_wait() {
  local ctl="$1" req="$2" program="$3" calls=0 next_call=$SECONDS beats=""
  local stall_limit="${VXAVS_VM_STALL_LIMIT:-120}"
  until [ -e "$req/rc" ]; do
    if [ "$SECONDS" -ge "$next_call" ]; then
      calls=$((calls + 1)); next_call=$((SECONDS + 1))
      printf '%s\n' "$calls" > "$req/caller" || true
    fi
    if ! vxavs_vm_alive "$ctl"; then
      vxavs_say "the virtual machine stopped while running $program"
      vxavs_vm_console_tail "$ctl"
      return 125
    fi
    # The agent drops a request whose caller it has not heard from for a while.
    if [ ! -d "$req" ]; then
      vxavs_say "the virtual machine ended $program, having heard nothing from this side for too long"
      return 125
    fi
    # The guest's agent counts up in "alive" every second; a guest that stops counting hangs.
    if vxavs_stalled beats "$ctl/alive" "$stall_limit"; then
      vxavs_vm_give_up "$ctl" "the virtual machine has not answered for $stall_limit s (VXAVS_VM_STALL_LIMIT) while running $program; ending it"
      return 125
    fi
    vxavs_nap 0.05
  done
}

# Runs one program in the machine of control folder $1, from the same folder as here, and hands
# back its standard output, its standard error and its exit code.
vxavs_vm_run() {
  local ctl="$1" req rc=0 traps
  shift
  vxavs_vm_wait_ready "$ctl" || return 125
  req="$(vxavs_vm_request_publish "$ctl" "$@")" || return 125
  # Asked to stop (Ctrl-C, a time limit): the guest ends the program too. A SIGKILL, which no trap
  # sees, ends the beats in "caller" instead, and the guest ends the program a few seconds later.
  # The caller's own traps come back however the wait ends.
  traps="$(trap -p INT TERM HUP)"
  trap 'touch "$req/cancel"; exit 130' INT
  trap 'touch "$req/cancel"; exit 143' TERM HUP
  vxavs_vm_request_wait "$ctl" "$req" "$1" || rc=$?
  trap - INT TERM HUP
  eval "$traps"
  [ "$rc" = 0 ] || return "$rc"
  cat "$req/out"
  cat "$req/err" >&2
  rc="$(cat "$req/rc")"
  rm -rf "$req"
  return "$rc"
}
