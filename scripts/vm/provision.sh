# First boot of a new image, inside the guest: installs Wine from the packages the host downloaded
# (its i386 maintainer scripts need a kernel that runs 32-bit code, which the host may not have),
# then makes the headless 32-bit prefix once, so that no later boot pays for it.
set -euxo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-download --no-install-recommends wine wine32:i386
apt-get clean
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=win32 WINEDEBUG=-all WINEPREFIX=/root/.wine-vxavs
# No .NET or HTML engine is needed, and fetching them is not possible here.
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null
wineserver -w
touch "$WINEPREFIX/.vxavs-ready"
sync
touch /mnt/ctl/provisioned
