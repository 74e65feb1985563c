#!/usr/bin/env bash
# Sets up a fresh machine if needed, builds everything and runs every test: the plug-in's tests
# under Wine, then the number reader's native tests and a short fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
if [ -f scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh
fi
