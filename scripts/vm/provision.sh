# First boot of a new image, inside the guest: installs Wine from the packages the host downloaded
# (its i386 maintainer scripts need a kernel that runs 32-bit code, which the host may not have),
# then makes the headless 32-bit prefix once, so that no later boot pays for it. The prefix's recipe
# (scripts/wine-prefix.sh) comes with this script in the control folder.
set -euxo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-download --no-install-recommends wine wine32:i386
apt-get clean
source /mnt/ctl/wine-prefix.sh
vxavs_wine_env
vxavs_wine_prefix
sync
touch /mnt/ctl/provisioned
