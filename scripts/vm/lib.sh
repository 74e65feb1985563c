# Sourced by the scripts: which way Wine runs on this machine, and the virtual machine that runs it
# where the kernel runs no 32-bit code. One file a job; see scripts/vm/README.md.

vxavs_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
vxavs_cache="${VXAVS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vxavs}"

vxavs_say() { echo "vxavs: $*" >&2; }

source "$vxavs_root/scripts/vm/path.sh"
source "$vxavs_root/scripts/vm/image-inputs.sh"
source "$vxavs_root/scripts/vm/machine.sh"
source "$vxavs_root/scripts/vm/stall.sh"
source "$vxavs_root/scripts/vm/request.sh"
source "$vxavs_root/scripts/vm/session.sh"
