#!/usr/bin/env bash
# The DLL's bytes depend on the source alone: a copy of the source tree in another folder, configured
# and built afresh there, gives a vxavs.dll identical to the one the other tests ran against.
set -euo pipefail
source_dir=$1 dll=$2 work=$3
fail() { echo "FAIL: $*"; exit 1; }

# A different folder of a different length, so that a path left in the objects changes bytes and offsets.
rm -rf "$work"
copy="$work/another/checkout/of/vxavs"
mkdir -p "$copy"
tar -C "$source_dir" --exclude='./build' --exclude='./build-*' --exclude='./.git' -cf - . | tar -C "$copy" -xf -

cmake -S "$copy" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/build" --target vxavs -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }

first=$(sha256sum <"$dll" | cut -d' ' -f1)
second=$(sha256sum <"$work/build/vxavs.dll" | cut -d' ' -f1)
echo "tested build: $first  $dll"
echo "second build: $second  $work/build/vxavs.dll"
[ "$first" = "$second" ] || { cmp -l "$dll" "$work/build/vxavs.dll" | head -n 20; fail "the two builds differ"; }
rm -rf "$work"
