# Sourced through lib.sh: Wine kept up for a script's whole run, on either path.

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
