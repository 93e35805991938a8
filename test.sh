#!/usr/bin/env bash
# Builds and runs every test: the Linux programs twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer), the Windows programs
# cross-built and run under Wine, and the Debian package built and checked.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
for variant in plain asan; do
    dir=build-test-$variant
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_BUILD_BENCHMARKS=ON)  # the benchmark is built, not run
    [ "$variant" = asan ] && flags=(-DCMAKE_BUILD_TYPE=Debug -DKS_SANITIZE=ON)
    echo "=== $variant build"
    cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j2
    echo "=== $variant tests"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir "$dir" -j2 --output-on-failure --timeout 300
done

scripts/windows.sh
packaging/check_package.sh
