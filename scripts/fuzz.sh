#!/usr/bin/env bash
# Fuzzes the number reader natively (libFuzzer with ASan and UBSan), seeded from native/fuzz_corpus.
# scripts/fuzz.sh: a short bounded run. scripts/fuzz.sh long: ten minutes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VXAVS_NATIVE_BUILD:-$root/build-native}"

case "${1:-}" in
  "") limits=(-runs=150000) ;;
  long) limits=(-max_total_time=600) ;;
  *) echo "usage: $0 [long]" >&2; exit 2 ;;
esac

cmake -S "$root/native" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target fuzz_text_to_number -j2

# The fuzzer adds what it finds to its corpus: work on a copy so the repository stays as it is.
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp "$root/native/fuzz_corpus/"* "$corpus/"
# A failing input is kept beside the build, where a later run does not wipe it.
mkdir -p "$build/fuzz-crashes"
"$build/fuzz_text_to_number" "${limits[@]}" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz-crashes/" "$corpus"
