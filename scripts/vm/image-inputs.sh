# Sourced through lib.sh: what the virtual machine's image is made from (scripts/vm/image.sh builds
# it): the cache folder named after its recipe, and the Debian mirror its packages come from.

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
  awk -f "$vxavs_root/scripts/vm/apt-mirror.awk" "${files[@]}"
}
