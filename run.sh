#!/usr/bin/env bash
# Builds Kartenschalter and starts it on a fresh demo folder of synthetic tiles,
# listed without a message box; its subfolder Fehlerbeispiele holds the files
# that show the error boxes. Installs only what building and starting needs.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh --window

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_BUILD_TESTS=OFF >/dev/null
cmake --build build -j2 --target kartenschalter imgflag make_demo_folder
rm -rf demo
build/tools/make_demo_folder demo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found. On a machine without one, start it in a virtual display:" >&2
    echo "  xvfb-run -s '-screen 0 1024x768x24' ./run.sh" >&2
    exit 1
fi
cd demo && exec ../build/ui/kartenschalter .
