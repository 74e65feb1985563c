#!/usr/bin/env bash
# The release package as a user gets it: the zip unpacks to exactly the files we ship, SHA256SUMS holds
# for every one of them, the DLL inside is the one the other tests ran against, the change log's newest
# entry is this version, and the stand-in host in tools/ runs an action with the packaged DLL and checks
# the machine for an author.
set -euo pipefail
build_dir=$1 dll=$2 version=$3 runner=$4 work=$5
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/unpacked"
cpack --config "$build_dir/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
zip="$work/vxavs-$version-win32.zip"
[ -f "$zip" ] || fail "no $zip"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
root="$work/unpacked/vxavs-$version-win32"
[ -d "$root" ] || fail "the zip has no folder vxavs-$version-win32"

files=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
expected=$(printf '%s\n' CHANGELOG.md LICENSE README.txt SHA256SUMS guide.html tools/vxhost.exe tools/vxplayer.exe \
  vxavs.dll | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "the zip holds"$'\n'"$files"

# Every file but SHA256SUMS itself is listed, and each sum holds.
listed=$(cut -c67- "$root/SHA256SUMS" | LC_ALL=C sort)
[ "$listed" = "$(grep -vx SHA256SUMS <<<"$files")" ] || fail "SHA256SUMS lists"$'\n'"$listed"
(cd "$root" && sha256sum --check --strict --quiet SHA256SUMS) || fail "SHA256SUMS does not hold"

cmp "$dll" "$root/vxavs.dll" || fail "the packaged DLL is not the tested one"
grep -q '^MIT License' "$root/LICENSE" || fail "LICENSE is not the MIT license"
newest=$(grep -m1 -o '^## [0-9][^ ]*' "$root/CHANGELOG.md" | cut -c4-)
[ "$newest" = "$version" ] || fail "the change log's newest entry is '$newest', not $version"
grep -q "<title>vxavs $version: " "$root/guide.html" || fail "guide.html does not name version $version"
grep -q '<table>' "$root/guide.html" || fail "guide.html lost the guide's tables"

# On Windows, from the unpacked folder: the tools find the stand-in player beside themselves and load
# the DLL named on the command line.
cd "$root"
out=$("$runner" tools/vxhost.exe --version | tr -d '\r')
echo "$out"
[ "$out" = "vxhost $version, the stand-in host of vxavs" ] || fail "vxhost --version"
out=$("$runner" tools/vxhost.exe --plugin '.\vxavs.dll' player start player reply 1234 run vxWnpCommand WM_USER 0 104 \
  player stop | tr -d '\r')
echo "$out"
grep -q '^host: loaded \.\\vxavs\.dll' <<<"$out" || fail "the packaged DLL did not load"
grep -q 'vxAVSDrop holds "1234"' <<<"$out" || fail "the command did not bring the player's answer back"
# The check as an author runs it from the unpacked folder, with no player: it finds the DLL above tools\
# and says that the player is missing, with exit code 1.
rc=0
out=$("$runner" tools/vxhost.exe --check | tr -d '\r') || rc=$?
echo "$out"
[ "$rc" = 1 ] || fail "vxhost --check without a player exited with $rc, not 1"
grep -q "^Player main window: not found" <<<"$out" || fail "vxhost --check did not miss the player"
grep -q "^Plug-in: version $version (.*vxavs-$version-win32\\\\vxavs\.dll)\$" <<<"$out" ||
  fail "vxhost --check did not find the packaged DLL"
grep -q "^Verdict: not every action could work now: vxWnpCommand would give ERROR5" <<<"$out" ||
  fail "vxhost --check gave no verdict"
cd /
rm -rf "$work"
