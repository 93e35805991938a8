#!/usr/bin/env bash
# Builds the Windows programs (kartenschalter.exe, imgflag.exe) with MinGW-w64,
# packs the release zip and the installer and runs their tests under Wine:
#   build-windows/kartenschalter-<version>-windows-x64.zip
#   build-windows/kartenschalter-<version>-x64.msi   (from packaging/kartenschalter.wxs, by wixl)
# Installs MinGW, Wine, wixl and the rest through scripts/setup.sh when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest zip wixl

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
# The texts as Notepad reads them: UTF-8 with a byte order mark, CRLF line ends.
for text in LIESMICH.txt LIZENZ.txt; do
    { printf '\xef\xbb\xbf'; sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "win32/$text"; } >"$package/$text"
done
(cd "$build" && zip -q -r "$(basename "$package").zip" "$(basename "$package")")
echo "Release: $package.zip"
msi="$build/kartenschalter-$version-x64.msi"
wixl -a x64 -D Version="$version" -D Files="$package" -D Icon=win32/kartenschalter.ico packaging/kartenschalter.wxs -o "$msi"
echo "Installer: $msi ($(stat -c %s "$msi") bytes)"

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
echo "=== Windows installer test"
tests/windows/installer_test.sh "$build" "$version"
