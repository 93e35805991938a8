#!/usr/bin/env bash
# Builds the Windows programs (kartenschalter.exe, imgflag.exe) with MinGW-w64,
# packs the release zip and runs their tests under Wine:
#   build-windows/kartenschalter-<version>-windows-x64.zip
# Installs MinGW, Wine and the rest through scripts/setup.sh when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest zip

build=build-windows
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64

echo "=== Windows build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2

echo "=== Windows release"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package="$build/kartenschalter-$version-windows-x64"
rm -rf "$package" "$package.zip"
mkdir "$package"
x86_64-w64-mingw32-strip -o "$package/kartenschalter.exe" "$build/win32/kartenschalter.exe"
x86_64-w64-mingw32-strip -o "$package/imgflag.exe" "$build/cli/imgflag.exe"
sed "s/@VERSION@/$version/" win32/LIESMICH.txt >"$package/LIESMICH.txt"
(cd "$build" && zip -q -r -l "$(basename "$package").zip" "$(basename "$package")/LIESMICH.txt" &&
    zip -q -r "$(basename "$package").zip" "$(basename "$package")"/*.exe)
echo "Release: $package.zip"

echo "=== Windows tests (Wine $("$wine" --version 2>/dev/null || echo '?'))"
# Each Wine prefix is made once, before tests share it.
for prefix in wineprefix wineprefix-window; do
    WINEPREFIX="$PWD/$build/$prefix" "$wine" wineboot --init >/dev/null 2>&1 || true
    WINEPREFIX="$PWD/$build/$prefix" /usr/lib/wine/wineserver -w
done
stop_wine() {
    for prefix in wineprefix wineprefix-window; do
        WINEPREFIX="$PWD/$build/$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    done
}
trap stop_wine EXIT
ctest --test-dir "$build" -j2 --output-on-failure --timeout 300
