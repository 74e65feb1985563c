# Sourced by lib.sh on the host and by agent.sh in the guest (copied into the control folder at each
# boot): the one test for a beat that stopped, the other side's count that it raises every second,
# and the wait between two readings.

# Whether the reading in file $2 has stayed the same for $3 s or more (no file reads as empty). $1
# names the caller's variable that keeps the last reading and since when, as "seconds reading": start
# it empty. Every call reads the file once.
vxavs_stalled() {
  local -n vxavs_stalled_seen="$1"
  local reading="" now=$SECONDS
  read -r reading 2>/dev/null < "$2" || true
  if [ -z "$vxavs_stalled_seen" ] || [ "${vxavs_stalled_seen#* }" != "$reading" ]; then
    vxavs_stalled_seen="$now $reading"
    return 1
  fi
  [ $((now - ${vxavs_stalled_seen%% *})) -ge "$3" ]
}

# Waits $1 s without starting a process. Both sides wait in loops for as long as a program runs, and
# under software emulation each process the guest starts (a sleep) costs its processors as much as a
# test's own work: a read that times out on a pipe no one writes to costs nothing. Each shell opens
# its own pipe on its first wait. A read that ends otherwise (the pipe was closed) would turn every
# loop into a spin: that wait is a sleep.
vxavs_nap() {
  local status=0
  [ -n "${vxavs_nap_fd:-}" ] || exec {vxavs_nap_fd}<> <(:)
  read -r -t "$1" -u "$vxavs_nap_fd" _ 2>/dev/null || status=$?
  if [ "$status" -le 128 ] && [ "$1" != 0 ]; then sleep "$1"; fi
  return 0
}
