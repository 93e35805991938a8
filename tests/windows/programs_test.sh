#!/usr/bin/env bash
# The two Windows programs run whole under Wine (BUILD is the Windows build folder):
#   programs_test.sh imgflag BUILD   imgflag.exe switches a tile in a non-ASCII folder,
#                                    UTF-8 paths in and out, one byte changed on disk;
#                                    a wildcard argument is expanded as on Windows; a
#                                    joined card's maps listed and one family switched.
#   programs_test.sh window BUILD    kartenschalter.exe in a virtual display, driven by its
#                                    KARTENSCHALTER_AUTOPILOT hook: it shows the info box, lists
#                                    the folder given as PATH, switches the tiles marked by
#                                    "Alle markieren" (checked by their bytes) and exits; each box
#                                    as wide as its lines and its title in the caption font, a
#                                    box without a title of its own titled "Kartenschalter", the
#                                    fonts bold at their size, the buttons' text within their
#                                    lines, a long name shortened in its middle with its suffix
#                                    whole, the list's tooltip there; --help and --version
#                                    written to the console, no box.
set -euo pipefail
check=$1
build=$(cd "$2" && pwd)
samples=$(cd "$(dirname "$0")/../data" && pwd)
wine=${KS_WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d "$build/programs-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

# Exactly one byte of $2 differs from $1, and it is the old one with the transparency bit (0x02) set.
switched_once() {
    local diff offset old new
    diff=$(cmp -l "$1" "$2" || true)
    [ -n "$diff" ] && [ "$(wc -l <<<"$diff")" -eq 1 ] || fail "expected one changed byte, got: ${diff:-none}"
    read -r offset old new <<<"$diff"
    [ $((8#$new)) -eq $((8#$old | 2)) ] || fail "byte $offset: $old -> $new (octal)"
}

case $check in
imgflag)
    folder="$work/Höhenlinien"
    mkdir "$folder"
    cp "$samples/opaque.img" "$folder/Kachel 1.img"
    tile=$(winpath "$folder")'\Kachel 1.img'
    out=$("$wine" "$build/cli/imgflag.exe" transparent "$(winpath "$folder")" | tr -d '\r')
    [ "$out" = "transparent	$tile	changed	priority 25" ] || fail "imgflag transparent said: $out"
    switched_once "$samples/opaque.img" "$folder/Kachel 1.img"
    cp "$samples/transparent.img" "$folder/Kachel 2.IMG"
    out=$("$wine" "$build/cli/imgflag.exe" status "$(winpath "$folder")"'\*.img' | tr -d '\r')
    [ "$out" = "transparent	$tile	priority 25
transparent	${tile% 1.img} 2.IMG	priority 25" ] || fail "imgflag status with a wildcard said: $out"
    out=$("$wine" "$build/cli/imgflag.exe" priority --set 31 "$tile" | tr -d '\r')
    [ "$out" = "transparent	$tile	changed	priority 31" ] || fail "imgflag priority said: $out"
    cp -r "$samples/bundle/opaque/Contours.gmap" "$folder/"
    out=$("$wine" "$build/cli/imgflag.exe" transparent "$(winpath "$folder")" | tr -d '\r' | head -1)
    [ "$out" = "transparent	$(winpath "$folder")\Contours.gmap	changed	priority 25" ] || fail "imgflag on a bundle said: $out"
    cp "$samples/families.img" "$folder/gmapsupp.img"
    card=$(winpath "$folder")'\gmapsupp.img'
    out=$("$wine" "$build/cli/imgflag.exe" maps --family 4712 "$card" | tr -d '\r')
    [ "$out" = "transparent	$card	63290010	4712	Hoehenlinien	Hoehenlinien	priority 31
transparent	$card	63290011	4712	Hoehenlinien	Hoehenlinien	priority 31" ] || fail "imgflag maps said: $out"
    out=$("$wine" "$build/cli/imgflag.exe" opaque --family Hoehenlinien "$card" "$tile" | tr -d '\r')
    [ "$out" = "opaque	$card	changed	priority 31
no-family	$tile" ] || fail "imgflag opaque --family said: $out"
    [ "$(cmp -l "$samples/families.img" "$folder/gmapsupp.img" | wc -l)" -eq 2 ] ||
        fail "imgflag opaque --family changed other bytes than the contour maps' two flag bytes"
    ;;
window)
    folder="$work/Karten"
    mkdir "$folder"
    cp "$samples/opaque.img" "$folder/a.img"
    long=Höhenlinien_Schwarzwald_Nord_sehr_langer_Dateiname_2024.img
    LONG=HÖHENLINIEN_SCHWARZWALD_NORD_SEHR_LANGER_DATEINAME_2024.IMG
    cp "$samples/opaque.img" "$folder/$long"
    echo "keine Karte" >"$folder/notes.txt"
    for option in --help --version; do
        out=$(timeout 60 "$wine" "$build/win32/kartenschalter.exe" $option | tr -d '\r' | head -n 1)
        [[ "$out" == "Usage: kartenschalter [PATH]" || "$out" == "kartenschalter "[0-9]* ]] ||
            fail "kartenschalter.exe $option did not write to the console: '$out'"
    done
    # The wineserver those runs started knows no display: the window must start with a new one.
    "${KS_WINESERVER:-/usr/lib/wine/wineserver}" -w
    shown=$(winpath "$folder")
    shown=${shown^^}
    KARTENSCHALTER_AUTOPILOT=$(winpath "$work/log.txt") timeout 150 \
        xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$build/win32/kartenschalter.exe" "$(winpath "$folder")" ||
        fail "kartenschalter.exe did not end by itself (exit status $?)"
    log=$(cat "$work/log.txt" 2>/dev/null) || fail "no log: the window never came up"
    # The long name as shown: shortened in its middle, never its suffix (its exact cut depends on the font).
    shortened="ENTRY $LONG  < > | SHOWN HÖHENLINIEN_"*"…"*"_2024.IMG  < >"
    [[ "$(grep -m 1 "^ENTRY $LONG" <<<"$log")" == $shortened ]] || fail "the long name showed otherwise:
$log"
    log=$(sed 's/ | SHOWN .*….*/ | SHOWN (shortened)/' <<<"$log")
    # Every box shows each line unbroken and its whole title ("fits").
    info="BOX      Karten transparent schalten | IMG-Dateien lassen sich leicht transparent schalten."
    [[ "$(head -n 1 <<<"$log")" == "$info"*"| fits" ]] || fail "the info box did not come first: $(head -n 1 <<<"$log")"
    notImg="BOX F e h l e r | Datei $shown\\NOTES.TXT ist keine IMG   | fits"
    expected="$notImg
FONT Label2 weight 700, 11 px
FONT cmd_Trnsp weight 700, 13 px
TIP <T>  IMG-Datei ist transparent (IMG file is transparent)\\n< >  IMG-Datei ist nicht transparent (IMG file is not transparent)\\n<T n/m>  n von m Karten der Datei sind transparent (n of the file's m maps are transparent)\\n<?>  Zustand unbekannt, die Meldung nennt den Fehler (state unknown, the message tells why)\\nKein Zugriff möglich  Datei nicht beschreibbar, z. B. schreibgeschützt (cannot be written, e.g. read-only)\\n[NAME]  nur die Karten der Kartenfamilie NAME in der Datei (only the maps of the file's map family NAME)
BUTTON cmd_Mark fits
BUTTON cmd_nomark fits
BUTTON cmd_Trnsp 1 fits
BUTTON cmd_Trnsp 0 fits
CAPTION Pfad $shown\\ hat 2 Dateien
ENTRY A.IMG  < >
ENTRY $LONG  < > | SHOWN (shortened)
MARKED 2
BOX Kartenschalter | Transparenz-Änderung beendet ... (finished) | fits
$notImg
CAPTION Pfad $shown\\ hat 2 Dateien
ENTRY A.IMG  <T>
ENTRY $LONG  <T> | SHOWN (shortened)
EXIT"
    [ "$(tail -n +2 <<<"$log")" = "$expected" ] || fail "the window did otherwise:
$log"
    switched_once "$samples/opaque.img" "$folder/a.img"
    switched_once "$samples/opaque.img" "$folder/$long"
    ;;
*) fail "unknown check '$check'" ;;
esac
echo "$check: ok"
