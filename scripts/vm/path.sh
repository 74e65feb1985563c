# Sourced through lib.sh: which path Wine takes here, on this machine or in the virtual machine.

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
