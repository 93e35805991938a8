#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any are missing.
# As root it runs apt itself; otherwise it prints the one apt command needed.
#   scripts/setup.sh [--window] [PACKAGE...]
# --window: only what building and starting the window needs (./run.sh);
# else also the tests, the benchmark, the fuzzer and the Debian package's tools.
# Further packages named are added.
set -euo pipefail

# Building every program and starting the window (also in a virtual display).
window=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-translations-l10n libcli11-dev nlohmann-json3-dev
        fonts-liberation xvfb xauth)
# The tests, the benchmark and the fuzzer.
tests=(libgtest-dev libgmock-dev libbenchmark-dev python3 clang libclang-rt-14-dev)
# The Debian package and the desktop checks: man pages, icons, lintian, the
# package tools, and the MIME database with the helpers xdg-mime asks.
packaging=(help2man librsvg2-bin lintian dpkg-dev file desktop-file-utils shared-mime-info xdg-utils libglib2.0-bin
           libfile-mimeinfo-perl)
if [ "${1:-}" = --window ]; then
    shift
    tests=() packaging=()
fi
extra=("$@")

missing=()
for p in "${window[@]}" "${tests[@]}" "${packaging[@]}" "${extra[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Please run:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
