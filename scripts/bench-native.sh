#!/usr/bin/env bash
# Builds the native benchmark of the number reader (optimised, no sanitizers) and runs it against strtold.
# Extra arguments go to Google Benchmark, e.g. --benchmark_filter=hex.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VXAVS_NATIVE_BUILD:-$root/build-native}"
cmake -S "$root/native" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_text_to_number -j2
"$build/bench_text_to_number" "$@"
