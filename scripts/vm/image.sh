#!/usr/bin/env bash
# Builds the virtual machine that runs 32-bit Wine where this kernel cannot: a Debian bookworm amd64
# guest made with debootstrap from Debian's packages (kernel, and wine with wine32:i386), with
# a ready headless 32-bit prefix. Cached in ~/.cache/vxavs/vm-<hash of this recipe>: a second run
# finds it and does nothing. Needs root, debootstrap and qemu-system-x86 (scripts/setup.sh installs them).
# The packages come from the mirror this machine's apt uses, or from VXAVS_VM_MIRROR.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

suite=bookworm
image="$(vxavs_vm_image_dir)"
[ -f "$image/ready" ] && exit 0
mirror="${VXAVS_VM_MIRROR:-$(vxavs_apt_mirror /etc/apt)}"
if [ -z "$mirror" ]; then
  vxavs_say "no Debian mirror for the virtual machine's packages: this machine's apt names none (no \"deb\" entry with the main component in /etc/apt/sources.list or /etc/apt/sources.list.d/); set VXAVS_VM_MIRROR to a Debian mirror's address"
  exit 1
fi

mkdir -p "$vxavs_cache"
# Run through sudo, this is still the invoking user's cache: what is made here becomes theirs, so
# their runs can record their use of the image and make the lock's file.
owner="$(stat -c %u:%g "$vxavs_cache")"
# One build at a time; whoever waited finds the image made.
exec 9>"$vxavs_cache/vm.lock"
chown "$owner" "$vxavs_cache/vm.lock"
flock 9
[ -f "$image/ready" ] && exit 0

# Stages that finished are kept in the work folder, so a build that stopped goes on from there.
work="$image.work"
rootfs="$work/rootfs"

unmount_rootfs() {
  local m
  for m in dev/pts dev proc sys; do
    if mountpoint -q "$rootfs/$m" 2>/dev/null; then umount -l "$rootfs/$m" || true; fi
  done
}
cleanup() {
  [ -n "${ctl:-}" ] && vxavs_vm_kill "$ctl"
  unmount_rootfs
}
trap cleanup EXIT
mkdir -p "$work"
started=$SECONDS
vxavs_say "building the virtual machine image once, into $image"

if [ ! -f "$work/base.img" ]; then
  rm -rf "$rootfs"
  # The system: amd64 only, so that every maintainer script here runs on any 64-bit kernel.
  vxavs_say "debootstrap $suite from $mirror"
  debootstrap --variant=minbase --include=linux-image-amd64,iproute2,procps \
    "$suite" "$rootfs" "$mirror" > "$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
  unmount_rootfs

  # Wine's packages are only downloaded here; the guest installs them at its first boot.
  vxavs_say "downloading wine and wine32:i386"
  echo "deb $mirror $suite main" > "$rootfs/etc/apt/sources.list"
  chroot "$rootfs" dpkg --add-architecture i386
  chroot "$rootfs" apt-get update -qq
  chroot "$rootfs" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --download-only \
    --no-install-recommends wine wine32:i386 >/dev/null
  install -m 755 "$vxavs_root/scripts/vm/guest-init" "$rootfs/sbin/vxavs-init"
  cp "$rootfs"/boot/vmlinuz-* "$work/vmlinuz"
  cp "$rootfs"/boot/initrd.img-* "$work/initrd.img"

  # The disk: an ext4 file system made straight from the folder (no loop device, no mount).
  vxavs_say "making the disk"
  mkfs.ext4 -q -F -L vxavs -d "$rootfs" "$work/base.img.new" 8G >/dev/null
  mv "$work/base.img.new" "$work/base.img"
  rm -rf "$rootfs"
fi

# First boot, on a copy of the disk: install Wine and make the prefix, then power off.
vxavs_say "first boot: installing Wine and making its 32-bit prefix in the guest"
cp --sparse=always "$work/base.img" "$work/disk.img"
ctl="$work/ctl"
rm -rf "$ctl"
mkdir "$ctl"
cp "$vxavs_root/scripts/vm/provision.sh" "$ctl/boot.sh"
cp "$vxavs_root/scripts/wine-prefix.sh" "$ctl/wine-prefix.sh"
vxavs_vm_boot "$ctl" "$work" writable
case "$(cat "$ctl/accel")" in kvm) limit=1200 ;; *) limit=3600 ;; esac
limit="${VXAVS_VM_BUILD_LIMIT:-$limit}"
boot_started=$SECONDS
while vxavs_vm_alive "$ctl"; do
  if [ $((SECONDS - boot_started)) -ge "$limit" ]; then
    vxavs_say "the first boot of the virtual machine took more than $limit s (VXAVS_VM_BUILD_LIMIT); ending it"
    tail -n 20 "$ctl/boot.log" >&2 || vxavs_vm_console_tail "$ctl"
    exit 1
  fi
  sleep 1
done
if [ ! -e "$ctl/provisioned" ]; then
  vxavs_say "the first boot of the virtual machine failed:"
  tail -n 20 "$ctl/boot.log" >&2 || vxavs_vm_console_tail "$ctl"
  exit 1
fi

mkdir -p "$image"
mv "$work/disk.img" "$work/vmlinuz" "$work/initrd.img" "$image/"
touch "$image/used"
touch "$image/ready"
chown -R "$owner" "$image"
rm -rf "$work"
# Another recipe's image may be another checkout's (another branch on this machine): each start
# touches its "used", and only an image no checkout has started for VXAVS_VM_KEEP_DAYS days (14)
# goes, with whatever an interrupted build of another recipe left as long.
keep_minutes=$((${VXAVS_VM_KEEP_DAYS:-14} * 24 * 60))
for old in "$vxavs_cache"/vm-*; do
  [ "$old" = "$image" ] && continue
  mark="$old"
  [ -f "$old/ready" ] && mark="$old/ready"
  [ -f "$old/used" ] && mark="$old/used"
  if [ -n "$(find "$mark" -maxdepth 0 -mmin +"$keep_minutes")" ]; then
    vxavs_say "removing $old: no checkout has used it for ${VXAVS_VM_KEEP_DAYS:-14} days"
    rm -rf "$old"
  fi
done
vxavs_say "virtual machine image ready after $((SECONDS - started)) s"
