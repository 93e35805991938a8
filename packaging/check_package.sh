#!/usr/bin/env bash
# Builds the Debian package as the README says (with Debian's hardening
# flags), checks it with lintian (no errors allowed), unpacks it into a
# scratch folder, runs the unpacked imgflag on a sample tile, validates the
# unpacked desktop entry (not even a hint), looks up the MIME type of a plain
# and a masked map through the unpacked MIME package, and checks the icons
# and documentation are there.
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

echo "=== the unpacked desktop entry, MIME type, icons and documentation"
hints=$(desktop-file-validate "$scratch/usr/share/applications/kartenschalter.desktop" 2>&1)
[ -z "$hints" ] || { echo "desktop-file-validate: $hints" >&2; exit 1; }
perl -0777 -pe '$_ ^= chr(0x5B) x length' tests/data/opaque.img >"$scratch/masked.img"  # a map masked with 0x5B
update-mime-database "$scratch/usr/share/mime" >/dev/null 2>&1
for map in opaque.img masked.img; do
    type=$(XDG_DATA_HOME="$scratch/usr/share" XDG_CURRENT_DESKTOP=X-Generic xdg-mime query filetype "$scratch/$map")
    echo "$map: $type"
    [ "$type" = application/x-garmin-img ]
done
for file in icons/hicolor/scalable/apps/kartenschalter.svg icons/hicolor/16x16/apps/kartenschalter.png \
            icons/hicolor/48x48/apps/kartenschalter.png icons/hicolor/256x256/apps/kartenschalter.png \
            doc/kartenschalter/README.md.gz doc/kartenschalter/changelog.gz doc/kartenschalter/copyright; do
    [ -s "$scratch/usr/share/$file" ] || { echo "missing: /usr/share/$file" >&2; exit 1; }
done
echo "package: ok"
