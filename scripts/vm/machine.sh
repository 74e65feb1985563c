# Sourced through lib.sh: starting, watching and ending the virtual machine.

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
  cp "$vxavs_root/scripts/wine-prefix.sh" "$vxavs_root/scripts/vm/stall.sh" "$VXAVS_VM_CTL/"
  vxavs_vm_boot "$VXAVS_VM_CTL" "$image"
}

vxavs_vm_stop() {
  [ -n "${VXAVS_VM_CTL:-}" ] || return 0
  vxavs_vm_kill "$VXAVS_VM_CTL"
  unset VXAVS_VM_CTL
}

# Says that the machine of control folder $1 stopped while starting, with what qemu, the agent (if
# it ended) and the console said last, and removes the folder.
vxavs_vm_stopped_starting() {
  local ctl="$1"
  vxavs_say "the virtual machine stopped while starting"
  sed 's/^/    /' "$ctl/qemu.log" >&2 2>/dev/null
  if [ -f "$ctl/boot.rc" ]; then
    vxavs_say "its agent ended with exit code $(cat "$ctl/boot.rc"), having said last:"
    tail -n 15 "$ctl/boot.log" 2>/dev/null | sed 's/^/    /' >&2
  fi
  vxavs_vm_console_tail "$ctl"
  vxavs_vm_kill "$ctl"
}

# Waits until the guest's agent has Wine ready, or the time limit passes.
vxavs_vm_wait_ready() {
  local ctl="$1" limit start
  case "$(cat "$ctl/accel")" in kvm) limit=300 ;; *) limit=1200 ;; esac
  limit="${VXAVS_VM_BOOT_LIMIT:-$limit}"
  start=$SECONDS
  until [ -e "$ctl/ready" ]; do
    if ! vxavs_vm_alive "$ctl"; then
      vxavs_vm_stopped_starting "$ctl"
      return 1
    fi
    if [ $((SECONDS - start)) -ge "$limit" ]; then
      vxavs_vm_give_up "$ctl" "the virtual machine was not ready after $limit s (VXAVS_VM_BOOT_LIMIT); ending it"
      return 1
    fi
    sleep 0.1
  done
}
