#!/usr/bin/env bash
# Builds the container fuzzer with clang in build-fuzz and runs it for a
# bounded time: fuzz/run.sh [seconds] (default 30). Exits non-zero when the
# fuzzer finds a fault; the input that caused it lands in build-fuzz/fuzz/findings/.
set -euo pipefail
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
work=$build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKS_BUILD_FUZZERS=ON -DKS_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2 --target ks_fuzz_container ks_fuzz_seeds

rm -rf "$work/seeds"
mkdir -p "$work/seeds" "$work/corpus" "$work/findings"
"$work/ks_fuzz_seeds" "$work/seeds"
shopt -s nullglob nocaseglob
for tile in "$root"/tests/data/*.img; do
    cp -- "$tile" "$work/seeds/"
done
shopt -u nullglob nocaseglob

# A single input that takes seconds is a fault as well: the lookup is bounded by the file's size.
"$work/ks_fuzz_container" -max_total_time="$seconds" -timeout=10 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "$work/seeds"
