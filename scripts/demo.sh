#!/usr/bin/env bash
# Sets up a fresh machine if needed, builds the plug-in and shows it at work: the real vxavs.dll in
# the stand-in host, against the stand-in player, under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/vm/lib.sh
vxavs_wine_session
cmake --preset default >/dev/null
cmake --build --preset default
cd build
# The file to drop sits in the prefix's drive C:, made through the runner so that it is where Wine
# runs, on this machine or in the virtual machine.
../scripts/wine-run.sh cmd.exe /c if not exist 'C:\vxavs-demo' mkdir 'C:\vxavs-demo'
../scripts/wine-run.sh cmd.exe /c echo a preset'>C:\vxavs-demo\preset.avs'
run() { ../scripts/wine-run.sh vxhost.exe "$@"; }

echo "== The hand-shake, and the file drop read back by a player on a thread of the host"
echo "   (Wine does not carry a drop block to another process; Windows does)"
run player thread \
  run vxAVSDropFile 'C:\vxavs-demo\preset.avs' "" \
  run vxAVSDropFile 'C:\vxavs-demo\missing.avs' "" \
  player stop \
  run vxAVSDropFile 'C:\vxavs-demo\preset.avs' ""

echo
echo "== Embedding, resizing and giving back, then player commands, with the player in its own process"
run --five-word-add-action player start \
  window Stage 480 360 \
  run vxAVSEmbed Stage true where \
  resize Stage 640 400 where \
  run vxAVSEmbed Stage false where \
  run vxAVSEmbed Nothing true \
  player reply 65535 run vxWnpCommand WM_USER 0 125 \
  player reply 40000 run vxWnpCommand wm_command 40045 '&HFFFF' \
  run vxWnpCommand WM_SETTEXT 1 2 \
  player stop \
  run vxWnpCommand WM_USER 0 125
