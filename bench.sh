#!/usr/bin/env bash
# Builds the benchmark in release mode and runs it (pass --quick for the small folders only).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 --target ks_bench
build-bench/bench/ks_bench "$@"
