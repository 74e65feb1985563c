#!/usr/bin/env bash
# Checks how the virtual machine's image finds its Debian mirror (vxavs_apt_mirror in
# scripts/vm/image-inputs.sh): this machine's apt files in either form, fed as small apt folders.
# Usage: check_apt_mirror.sh LIB_SH
set -uo pipefail
source "$1"
failures=0
apt="$(mktemp -d)"
trap 'rm -rf "$apt"' EXIT

# The addresses below are made-up names under the reserved .example domain: text for the reader to
# find, never contacted.
# Each case: a name, the mirror expected ("" for none), then the files of the apt folder as
# "path" and content pairs.
check() {
  local name="$1" expected="$2" got
  shift 2
  rm -rf "${apt:?}"/*
  mkdir -p "$apt/sources.list.d"
  while [ $# -gt 0 ]; do
    printf '%b' "$2" > "$apt/$1"
    shift 2
  done
  got="$(vxavs_apt_mirror "$apt")"
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $name: wanted '$expected', got '$got'"
    failures=$((failures + 1))
  fi
}

debian='Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
security='Types: deb\nURIs: http://security.example/debian-security\nSuites: bookworm-security\nComponents: main\n'

check "deb822, as a fresh Debian has it" http://mirror.example/debian \
  sources.list.d/debian.sources "$debian\n$security"
check "deb822, the security archive first" http://mirror.example/debian \
  sources.list.d/debian.sources "$security\n$debian"
check "deb822, without a blank line at the end" http://mirror.example/debian \
  sources.list.d/debian.sources "${debian%\\n}"
check "deb822, fields in any case, a comment, the URI on a continuation line" http://mirror.example/debian \
  sources.list.d/debian.sources '# the archive\ntypes: deb deb-src\nuris:\n http://mirror.example/debian\n  http://other.example/debian\nsuites: bookworm\ncomponents: main contrib\n'
check "deb822, a disabled entry and a source-only entry skipped" http://mirror.example/debian \
  sources.list.d/debian.sources 'Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nComponents: main\nEnabled: no\n\nTypes: deb-src\nURIs: http://src.example/debian\nSuites: bookworm\nComponents: main\n\n'"$debian"
check "deb822, with DOS line ends" http://mirror.example/debian \
  sources.list.d/debian.sources "$(printf '%b' "$debian" | sed 's/$/\r/')"
check "deb822, another vendor's repository without main skipped" http://mirror.example/debian \
  sources.list.d/a-vendor.sources 'Types: deb\nURIs: http://vendor.example/linux\nSuites: bookworm\nComponents: stable\n' \
  sources.list.d/debian.sources "$debian"
check "a disabled file is not read" http://mirror.example/debian \
  sources.list.d/a.sources.disabled 'Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nComponents: main\n' \
  sources.list.d/debian.sources "$debian"
check "one-line form" http://mirror.example/debian \
  sources.list '# deb http://old.example/debian bookworm main\ndeb-src http://src.example/debian bookworm main\ndeb http://security.example/debian-security bookworm-security main\ndeb http://mirror.example/debian bookworm main contrib\ndeb http://later.example/debian bookworm main\n'
check "one-line form with options and tabs" http://mirror.example/debian \
  sources.list 'deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]\thttp://mirror.example/debian bookworm main\n'
check "sources.list before sources.list.d" http://mirror.example/debian \
  sources.list 'deb http://mirror.example/debian bookworm main\n' \
  sources.list.d/debian.sources 'Types: deb\nURIs: http://other.example/debian\nSuites: bookworm\nComponents: main\n'
check "sources.list.d files by name, either form" http://mirror.example/debian \
  sources.list.d/a.list 'deb http://mirror.example/debian bookworm main\n' \
  sources.list.d/b.sources 'Types: deb\nURIs: http://other.example/debian\nSuites: bookworm\nComponents: main\n'
check "no apt files at all" ""
check "only the security archive" "" \
  sources.list.d/debian.sources "$security"
check "only commented lines" "" \
  sources.list '# deb http://mirror.example/debian bookworm main\n'
got="$(vxavs_apt_mirror "$apt/none")"
[ -z "$got" ] || { echo "FAIL: an apt folder that is not there gave '$got'"; failures=$((failures + 1)); }

[ "$failures" = 0 ] || { echo "$failures readings of apt's files were wrong"; exit 1; }
echo "every apt folder gave the right mirror"
