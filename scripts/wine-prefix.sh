# Sourced: the project's headless 32-bit Wine prefix, one recipe for Wine on this machine
# (scripts/setup.sh, scripts/wine-run.sh) and in the virtual machine's image (scripts/vm/provision.sh,
# scripts/vm/agent.sh). The image's cache key covers this file, so a changed recipe builds a new image.

# The environment every Wine step runs in: no display, 32-bit, the project's own prefix.
vxavs_wine_env() {
  unset DISPLAY WAYLAND_DISPLAY
  export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-vxavs}"
}

# Makes the prefix once (call vxavs_wine_env first): no .NET or HTML engine, which nothing needs and
# which cannot be fetched here, and the null graphics driver. The prefix is marked ready only when
# every step went through; a failure says which step and what Wine said, and returns 1.
vxavs_wine_prefix() {
  local log
  [ -f "$WINEPREFIX/.vxavs-ready" ] && return 0
  log="$(mktemp)" || return 1
  if ! WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >"$log" 2>&1; then
    vxavs_wine_prefix_failed "wineboot could not make the Wine prefix $WINEPREFIX" "$log"
    return 1
  fi
  if ! wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >"$log" 2>&1; then
    vxavs_wine_prefix_failed "Wine could not set the null graphics driver in $WINEPREFIX" "$log"
    return 1
  fi
  # The registry reaches the disk when the server ends.
  wineserver -w
  rm -f "$log"
  touch "$WINEPREFIX/.vxavs-ready"
}

vxavs_wine_prefix_failed() {
  echo "vxavs: $1; Wine said:" >&2
  tail -n 20 "$2" | sed 's/^/    /' >&2
  rm -f "$2"
  echo "vxavs: fix what Wine reports, remove $WINEPREFIX and run scripts/setup.sh again" >&2
}
