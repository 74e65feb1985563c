# Sourced by the scripts: which way Wine runs on this machine, and the virtual machine that runs it
# where the kernel runs no 32-bit code. See scripts/vm/README.md.

vxavs_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
vxavs_cache="${VXAVS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vxavs}"

vxavs_say() { echo "vxavs: $*" >&2; }

# ---- Which path

# A 93-byte i386 program that exits with 42. Only a kernel with 32-bit support runs it; any other
# says "Exec format error" (and bash then answers 126), whatever is installed.
vxavs_kernel_runs_i386() {
  local probe="$vxavs_cache/i386-probe"
  if [ ! -x "$probe" ]; then
    mkdir -p "$vxavs_cache"
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' \
      > "$probe.$$"
    chmod +x "$probe.$$" && mv "$probe.$$" "$probe"
  fi
  local rc=0
  ( exec "$probe" ) 2>/dev/null || rc=$?
  [ "$rc" = 42 ]
}

# Prints "native" or "vm". VXAVS_VM=1 forces the virtual machine, VXAVS_VM=0 forbids it.
vxavs_wine_path() {
  case "${VXAVS_VM:-}" in
    1) echo vm ;;
    0)
      if ! vxavs_kernel_runs_i386; then
        vxavs_say "this kernel runs no 32-bit programs, so 32-bit Wine cannot start here, and VXAVS_VM=0 forbids the virtual machine that would run it; unset VXAVS_VM to use it"
        return 1
      fi
      echo native ;;
    "") if vxavs_kernel_runs_i386; then echo native; else echo vm; fi ;;
    *) vxavs_say "VXAVS_VM is 1 (always the virtual machine) or 0 (never), not '$VXAVS_VM'"; return 2 ;;
  esac
}

# ---- The image (built by scripts/vm/image.sh)

# The cache key: a hash of everything the image is made from, the Wine prefix's recipe included.
vxavs_vm_image_dir() {
  local key
  key="$(cat "$vxavs_root/scripts/vm/image.sh" "$vxavs_root/scripts/vm/guest-init" \
    "$vxavs_root/scripts/vm/provision.sh" "$vxavs_root/scripts/wine-prefix.sh" | sha256sum | cut -c1-16)"
  echo "$vxavs_cache/vm-$key"
}

# Prints the Debian mirror this machine's own apt uses, read from apt folder $1 (/etc/apt) in apt's
# order: sources.list, then sources.list.d/*.list and *.sources by name. The first enabled "deb"
# entry with the main component and a release suite counts (not one of "-security" or "-updates",
# which hold no whole release); nothing is printed when there is none.
vxavs_apt_mirror() {
  local apt="${1:-/etc/apt}" file files=()
  for file in "$apt/sources.list" "$apt"/sources.list.d/*; do
    case "$file" in *.list | *.sources) [ -f "$file" ] && files+=("$file") ;; esac
  done
  [ ${#files[@]} -gt 0 ] || return 0
  awk '
    function release(suites, comps,   n, i, s) {
      if ((" " comps " ") !~ / main /) return 0
      n = split(suites, s, " ")
      for (i = 1; i <= n; i++) if (s[i] !~ /[-\/]/) return 1
      return 0
    }
    function found(uri) { print uri; done = 1; exit }
    # The deb822 form: paragraphs of "Field: value", continued on lines that start with a blank.
    function stanza_end() {
      if (f["types"] ~ /(^| )deb( |$)/ && tolower(f["enabled"]) != "no" && \
          release(f["suites"], f["components"])) { split(f["uris"], u, " "); if (u[1] != "") found(u[1]) }
      delete f; field = ""
    }
    FNR == 1 { if (deb822) stanza_end(); deb822 = FILENAME ~ /\.sources$/ }
    { sub(/\r$/, "") }
    deb822 && /^#/ { next }
    deb822 && /^[ \t]*$/ { stanza_end(); next }
    deb822 && /^[ \t]/ { if (field != "") { sub(/^[ \t]+/, ""); f[field] = f[field] " " $0 }; next }
    deb822 {
      i = index($0, ":"); if (i == 0) next
      field = tolower(substr($0, 1, i - 1)); v = substr($0, i + 1)
      gsub(/[ \t]+/, " ", v); sub(/^ /, "", v); sub(/ $/, "", v)
      f[field] = v; next
    }
    # The one-line form: deb [options] uri suite component...
    {
      sub(/#.*/, "")
      if ($1 != "deb") next
      line = $0; sub(/^[ \t]*deb[ \t]+/, "", line)
      if (line ~ /^\[/) sub(/^\[[^]]*\][ \t]*/, "", line)
      n = split(line, w, /[ \t]+/)
      comps = ""; for (i = 3; i <= n; i++) comps = comps " " w[i]
      if (n >= 3 && release(w[2], comps)) found(w[1])
    }
    END { if (!done && deb822) stanza_end() }
  ' "${files[@]}"
}

# ---- Starting and stopping the machine

# Prints the accelerator and the processor model to give qemu for kernel $1: KVM where /dev/kvm is
# there and really boots that kernel, software emulation otherwise. VXAVS_VM_ACCEL=tcg (or kvm)
# chooses. Under software emulation the guest kernel must not rely on SMAP, or it kills 32-bit
# programs. The finding holds until the host reboots.
vxavs_vm_accel() {
  local kernel="$1" cpu verdict
  verdict="$vxavs_cache/accel-$(cat /proc/sys/kernel/random/boot_id 2>/dev/null || echo unknown)"
  if [ "${VXAVS_VM_ACCEL:-kvm}" = kvm ]; then
    if [ ! -f "$verdict" ]; then
      cpu=""
      if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
        cpu="$(vxavs_vm_kvm_cpu "$kernel")"
      fi
      # Written whole by one rename, so that a script starting meanwhile never reads it half-made,
      # and owned as the cache is, also when setup's image build runs this under sudo.
      printf '%s\n' "${cpu:-none}" > "$verdict.$$"
      chown --reference="$vxavs_cache" "$verdict.$$" 2>/dev/null || true
      mv "$verdict.$$" "$verdict"
    fi
    cpu="$(cat "$verdict")"
    if [ "$cpu" != none ]; then
      echo "kvm $cpu"
      return
    fi
    if [ "${VXAVS_VM_ACCEL:-}" = kvm ]; then
      vxavs_say "VXAVS_VM_ACCEL=kvm, but KVM does not boot a machine here"
      return 1
    fi
  fi
  echo "tcg max,smap=off"
}

# Prints the first processor model with which KVM boots kernel $1 to its end (no root file system:
# it panics, and qemu stops) within 30 s; nothing if none does. Some hosts refuse the host model's
# MSRs, and some nested ones start the machine but hardly run it.
vxavs_vm_kvm_cpu() {
  local kernel="$1" cpu log
  log="$(mktemp)"
  for cpu in host host,arch-capabilities=off; do
    if timeout 30 qemu-system-x86_64 -accel kvm -M q35 -cpu "$cpu" -m 256 -nodefaults \
      -display none -no-reboot -kernel "$kernel" -append "console=ttyS0 panic=-1" \
      -serial "file:$log" >/dev/null 2>&1 && grep -q "Kernel panic" "$log"; then
      echo "$cpu"
      break
    fi
  done
  rm -f "$log"
}

# Starts qemu in the background with the image in folder $2 (writes go to a throw-away layer unless
# $3 is "writable"), the control folder $1 and the project shared over virtio-9p. It dies with
# the shell that started it, whatever ends that shell.
vxavs_vm_boot() {
  local ctl="$1" image="$2" mode="${3:-}" accel cpu snapshot=on
  read -r accel cpu < <(vxavs_vm_accel "$image/vmlinuz") || return 1
  [ "$mode" = writable ] && snapshot=off
  echo "$accel" > "$ctl/accel"
  setpriv --pdeathsig SIGKILL -- qemu-system-x86_64 -name vxavs -machine q35 -accel "$accel" \
    -cpu "$cpu" -smp "${VXAVS_VM_CPUS:-2}" -m "${VXAVS_VM_MEMORY:-4096}" -nodefaults -display none -no-reboot \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw init=/sbin/vxavs-init console=ttyS0 quiet panic=-1" \
    -drive "file=$image/disk.img,format=raw,if=virtio,cache=unsafe,snapshot=$snapshot" \
    -virtfs "local,path=$ctl,mount_tag=ctl,security_model=none,id=ctl" \
    -virtfs "local,path=$vxavs_root,mount_tag=project,security_model=none,id=project,readonly=on" \
    -serial "file:$ctl/console.log" 2> "$ctl/qemu.log" &
  echo $! > "$ctl/qemu.pid"
}

vxavs_vm_alive() {
  local pid=""
  read -r pid 2>/dev/null < "$1/qemu.pid"
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

# Ends the machine of control folder $1 and removes the folder.
vxavs_vm_kill() {
  local ctl="$1" pid
  [ -d "$ctl" ] || return 0
  pid="$(cat "$ctl/qemu.pid" 2>/dev/null || true)"
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$ctl"
}

vxavs_vm_console_tail() {
  vxavs_say "the machine's last console lines:"
  tail -n 15 "$1/console.log" 2>/dev/null | sed 's/^/    /' >&2 || true
}

# Gives up on the machine of control folder $1 that is not answering: says why ($2), shows what its
# console said last, and ends it.
vxavs_vm_give_up() {
  vxavs_say "$2"
  vxavs_vm_console_tail "$1"
  vxavs_vm_kill "$1"
}

# Starts the machine for the rest of this shell and exports VXAVS_VM_CTL, through which every
# scripts/wine-run.sh below this shell reaches it. The caller ends it with vxavs_vm_stop (trap EXIT).
vxavs_vm_start() {
  local image
  image="$(vxavs_vm_image_dir)"
  if [ ! -f "$image/ready" ]; then
    vxavs_say "no virtual machine image at $image: run scripts/setup.sh first"
    return 1
  fi
  # The last use, by which image.sh tells an image some checkout still uses from one long unused.
  touch "$image/used" 2>/dev/null || true
  VXAVS_VM_CTL="$(mktemp -d "${TMPDIR:-/tmp}/vxavs-vm.XXXXXX")"
  export VXAVS_VM_CTL
  mkdir "$VXAVS_VM_CTL/req"
  cp "$vxavs_root/scripts/vm/agent.sh" "$VXAVS_VM_CTL/boot.sh"
  printf '%s\n' "$vxavs_root" > "$VXAVS_VM_CTL/project"
  cp "$vxavs_root/scripts/wine-prefix.sh" "$VXAVS_VM_CTL/wine-prefix.sh"
  vxavs_vm_boot "$VXAVS_VM_CTL" "$image"
}

vxavs_vm_stop() {
  [ -n "${VXAVS_VM_CTL:-}" ] || return 0
  vxavs_vm_kill "$VXAVS_VM_CTL"
  unset VXAVS_VM_CTL
}

# Waits until the guest's agent has Wine ready, or the time limit passes.
vxavs_vm_wait_ready() {
  local ctl="$1" limit start
  case "$(cat "$ctl/accel")" in kvm) limit=300 ;; *) limit=1200 ;; esac
  limit="${VXAVS_VM_BOOT_LIMIT:-$limit}"
  start=$SECONDS
  until [ -e "$ctl/ready" ]; do
    if ! vxavs_vm_alive "$ctl"; then
      vxavs_say "the virtual machine stopped while starting"
      sed 's/^/    /' "$ctl/qemu.log" >&2 2>/dev/null
      vxavs_vm_console_tail "$ctl"
      vxavs_vm_kill "$ctl"
      return 1
    fi
    if [ $((SECONDS - start)) -ge "$limit" ]; then
      vxavs_vm_give_up "$ctl" "the virtual machine was not ready after $limit s (VXAVS_VM_BOOT_LIMIT); ending it"
      return 1
    fi
    sleep 0.1
  done
}

# ---- Running one program in the machine: the request protocol of scripts/vm/README.md

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

# Runs one program in the machine of control folder $1, from the same folder as here, and hands
# back its standard output, its standard error and its exit code.
vxavs_vm_run() {
  local ctl="$1"; shift
  local id req lock rc stall_limit last_beat="" beat beat_time=$SECONDS calls=0 next_call=$SECONDS
  vxavs_vm_wait_ready "$ctl" || return 125
  # One request at a time takes the project's changes and is published, so the guest, which takes
  # requests in the order of their names, unpacks them in the same order.
  if ! { exec {lock}> "$ctl/files.lock" && flock "$lock"; }; then
    vxavs_say "cannot lock $ctl/files.lock to hand $1 to the virtual machine"
    return 125
  fi
  id="$(date +%s%N).$$"
  req="$ctl/req/$id"
  # Made apart and published by one rename: the guest never sees half a request.
  if ! vxavs_vm_request_make "$ctl" "$req.new" "$@" || ! mv "$req.new" "$req"; then
    rm -rf "$req.new" "$ctl/manifest.new"
    exec {lock}>&-
    vxavs_say "$1 was not run in the virtual machine"
    return 125
  fi
  # Should this fail, the next request sends again what this one sent: slower, still right.
  mv "$ctl/manifest.new" "$ctl/manifest" || true
  exec {lock}>&-
  # Asked to stop (Ctrl-C, a time limit): the guest ends the program too. A SIGKILL, which no trap
  # sees, ends the beats in "caller" instead, and the guest ends the program a few seconds later.
  trap 'touch "$req/cancel"; exit 130' INT
  trap 'touch "$req/cancel"; exit 143' TERM HUP
  stall_limit="${VXAVS_VM_STALL_LIMIT:-120}"
  until [ -e "$req/rc" ]; do
    if [ "$SECONDS" -ge "$next_call" ]; then
      calls=$((calls + 1)); next_call=$((SECONDS + 1))
      printf '%s\n' "$calls" > "$req/caller" || true
    fi
    if ! vxavs_vm_alive "$ctl"; then
      vxavs_say "the virtual machine stopped while running $1"
      vxavs_vm_console_tail "$ctl"
      return 125
    fi
    # The agent drops a request whose caller it has not heard from for a while.
    if [ ! -d "$req" ]; then
      vxavs_say "the virtual machine ended $1, having heard nothing from this side for too long"
      return 125
    fi
    # The guest's agent counts up in this file every second; a guest that stops counting hangs.
    beat=""
    read -r beat 2>/dev/null < "$ctl/alive" || true
    if [ "$beat" != "$last_beat" ]; then
      last_beat="$beat"; beat_time=$SECONDS
    elif [ $((SECONDS - beat_time)) -ge "$stall_limit" ]; then
      vxavs_vm_give_up "$ctl" "the virtual machine has not answered for $stall_limit s (VXAVS_VM_STALL_LIMIT) while running $1; ending it"
      return 125
    fi
    sleep 0.05
  done
  trap - INT TERM HUP
  cat "$req/out"
  cat "$req/err" >&2
  rc="$(cat "$req/rc")"
  rm -rf "$req"
  return "$rc"
}

# Prints "tcg" while this command's machine runs under software emulation, else nothing.
vxavs_wine_emulated() {
  local accel=""
  [ -n "${VXAVS_VM_CTL:-}" ] && read -r accel 2>/dev/null < "$VXAVS_VM_CTL/accel"
  [ "$accel" = tcg ] && echo tcg
  return 0
}

# For scripts with several Wine steps: keeps Wine up for the rest of the script, so each step starts
# fast, and ends it when the script exits, so nothing the script started outlives it. On this machine
# that is a persistent wineserver (Wine's own one ends a few seconds after its last program); where
# Wine runs in the virtual machine, the machine, whose boot overlaps whatever the script does next.
vxavs_wine_session() {
  local path
  path="$(vxavs_wine_path)" || return 1
  if [ "$path" = native ]; then
    source "$vxavs_root/scripts/wine-prefix.sh"
    vxavs_wine_env
    # A server already running (exit code 2) is another command's, and that command ends it; the one
    # started here is this script's, ended with whatever still runs on it.
    if wineserver -p >/dev/null 2>&1; then
      trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    fi
    return 0
  fi
  trap vxavs_vm_stop EXIT
  vxavs_vm_start
}
