#!/usr/bin/env bash
# The DLL is a 32-bit PE named vxavs that exports exactly the eight decorated entry points and
# imports from system DLLs only (no libgcc, libstdc++ or winpthread DLL).
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")
fail() { echo "FAIL: $*"; exit 1; }

grep -q '^Magic[[:space:]]*010b' <<<"$dump" || fail "not a PE32 (32-bit) image"
grep -q 'Name[[:space:]]*[0-9a-f]* vxavs.dll' <<<"$dump" || fail "module name is not vxavs.dll"

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
echo "exports: $(wc -l <<<"$exports") names, imports: $(tr '\n' ' ' <<<"$imports")"
