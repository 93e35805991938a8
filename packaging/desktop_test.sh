#!/usr/bin/env bash
# The desktop side of kartenschalter: its command line answers without a
# display, its desktop entry is valid, and the MIME type knows a Garmin IMG
# container by its signature, not by the ".img" suffix that raw disk images
# share (asked through xdg-mime as GNOME's and a generic desktop would).
# Usage: desktop_test.sh KARTENSCHALTER SOURCE_DIR VERSION
set -uo pipefail
program=$1 src=$2 version=$3
passed=0 failed=0
check() {  # NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $1: expected '$2', got '$3'"
    fi
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
headless() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "$@" 2>"$scratch/err"; }

check "--help" "0 Usage: kartenschalter [PATH]" "$(out=$(headless --help); echo "$? ${out%%$'\n'*}")"
check "--version" "0 kartenschalter $version" "$(out=$(headless --version); echo "$? $out")"
check "an unknown option" "2 kartenschalter: unknown option '--bogus'" \
    "$(headless --bogus >/dev/null; echo "$? $(head -1 "$scratch/err")")"
check "two paths" "2 kartenschalter: only one PATH may be given" \
    "$(headless a b >/dev/null; echo "$? $(head -1 "$scratch/err")")"
check "desktop entry" "0" "$(desktop-file-validate "$src/ui/kartenschalter.desktop" >&2; echo $?)"

mkdir -p "$scratch/data/mime/packages"
cp "$src/packaging/kartenschalter-mime.xml" "$scratch/data/mime/packages/kartenschalter.xml"
update-mime-database "$scratch/data/mime" >/dev/null 2>&1
cp "$src/tests/data/opaque.img" "$src/tests/data/gmapsupp.img" "$scratch/"
cp "$src/tests/data/opaque.img" "$scratch/tile-without-suffix"
perl -0777 -pe '$_ ^= chr(0x5B) x length' "$src/tests/data/opaque.img" >"$scratch/masked.img"  # masked with 0x5B
head -c 65536 /dev/zero >"$scratch/zeros.img"
head -c 1048576 /dev/zero >"$scratch/disk.img"
printf '\x55\xaa' | dd of="$scratch/disk.img" bs=1 seek=510 conv=notrunc status=none  # an empty MBR
for desktop in GNOME X-Generic; do
    type() { XDG_DATA_HOME="$scratch/data" XDG_CURRENT_DESKTOP=$desktop xdg-mime query filetype "$scratch/$1"; }
    for tile in opaque.img gmapsupp.img tile-without-suffix masked.img; do
        check "$desktop: $tile" application/x-garmin-img "$(type $tile)"
    done
    for raw in zeros.img disk.img; do
        check "$desktop: $raw is no map" application/x-raw-disk-image "$(type $raw)"
    done
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
