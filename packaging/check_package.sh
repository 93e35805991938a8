#!/usr/bin/env bash
# Builds the Debian package as the README says (with Debian's hardening
# flags), checks it with lintian (no errors allowed), unpacks it into a
# scratch folder and runs the unpacked imgflag on a sample tile.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build-deb
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKS_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j2
(cd "$build" && rm -f ./*.deb && cpack -G DEB)
deb=$(ls "$build"/kartenschalter_*_amd64.deb)

echo "=== lintian $deb"
lintian --fail-on error --info "$deb"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
cp tests/data/opaque.img "$scratch/opaque.img"
echo "=== the unpacked imgflag"
"$scratch/usr/bin/imgflag" --version
status=$("$scratch/usr/bin/imgflag" status "$scratch/opaque.img")
echo "$status"
[ "$status" = "opaque	$scratch/opaque.img	priority 25" ]
