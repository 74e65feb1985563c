#!/usr/bin/env bash
# Sets up a fresh machine if needed, builds everything and runs every test: the number reader's
# native tests and a short fuzz run, then the plug-in's tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/vm/lib.sh
# Where Wine runs in the virtual machine, it boots now, while the host builds.
vxavs_wine_session

# Native: the number reader alone, with clang, its table tests and a bounded fuzz run.
cmake -S native -B build-native -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-native --target text_to_number_test -j2
ctest --test-dir build-native --output-on-failure
bash scripts/fuzz.sh

# The DLL in the stand-in host under Wine.
cmake --preset default >/dev/null
cmake --build --preset default
# Software emulation runs the Wine side many times slower (the soak test takes minutes there): each
# test gets three times as long before ctest calls it hung.
ctest_args=()
[ -n "$(vxavs_wine_emulated)" ] && ctest_args+=(--timeout 1800)
# Two programs at a time: most of a program's time is spent waiting on the stand-in player, and each
# works on a desktop of its own, so neither finds the other's player.
ctest --preset default -j2 "${ctest_args[@]}"
