#!/usr/bin/env bash
# The DLL is a 32-bit PE named vxavs that exports exactly the eight decorated entry points and
# imports from system DLLs only (no libgcc, libstdc++ or winpthread DLL); it is small, and Windows may
# load it at a random address (ASLR) with data pages that never execute (DEP).
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")
fail() { echo "FAIL: $*"; exit 1; }

grep -q '^Magic[[:space:]]*010b' <<<"$dump" || fail "not a PE32 (32-bit) image"
grep -q 'Name[[:space:]]*[0-9a-f]* vxavs.dll' <<<"$dump" || fail "module name is not vxavs.dll"

characteristics=$(sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-f]*\)$/\1/p' <<<"$dump")
(( (16#${characteristics:-0} & 0x40) != 0 )) || fail "no DYNAMIC_BASE (ASLR) flag: ${characteristics:-none}"
(( (16#${characteristics:-0} & 0x100) != 0 )) || fail "no NX_COMPAT (DEP) flag: ${characteristics:-none}"
size=$(stat -c %s "$dll")
(( size <= 64 * 1024 )) || fail "$size bytes, more than 64 KiB"

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -o '^[[:space:]]*\[ *[0-9]*\] .*' | sed 's/.*\] //' | sort)
expected=$(printf '%s\n' _nbAbout@0 _nbEditAction@8 _nbExecAction@8 _nbInitPlugIn@16 _nbMessage@8 \
  _nbRegisterInterfaceAccess@4 _nbRegisterPlugIn@16 _nbRegisterScriptProcessor@4 | sort)
[ "$exports" = "$expected" ] || fail "exports differ:"$'\n'"$exports"

imports=$(grep -o 'DLL Name: .*' <<<"$dump" | cut -c11- | tr 'A-Z' 'a-z' | sort -u)
for name in $imports; do
  case "$name" in
    kernel32.dll|user32.dll|msvcrt.dll|shell32.dll|advapi32.dll) ;;
    *) fail "imports a non-system DLL: $name" ;;
  esac
done
echo "exports: $(wc -l <<<"$exports") names, imports: $(tr '\n' ' ' <<<"$imports"), $size bytes, DllCharacteristics $characteristics"
