#!/usr/bin/env bash
# Builds the benchmark in release mode and runs it; arguments go to ks_bench
# (e.g. --sizes 100,50000, --window, --repeats 11). docs/performance.md has the
# method and the figures; bench/slow_medium.sh runs the batch on a slow medium.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 --target ks_bench
build-bench/bench/ks_bench "$@"
