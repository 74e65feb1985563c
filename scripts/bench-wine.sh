#!/usr/bin/env bash
# Builds the plug-in, the stand-in player and the action benchmark, then runs the benchmark under Wine:
# each action through the plug-in against the bare Windows calls it has to make. Takes under a minute.
# Figures follow the machine's load and whatever else talks to the same wineserver meanwhile; compare
# the figures of one run with each other, not with another run's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/vm/lib.sh
vxavs_wine_session
cmake --preset default >/dev/null
cmake --build build --target vxavs vxplayer action_bench -j2
bash scripts/wine-run.sh build/action_bench.exe
