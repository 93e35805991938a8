#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own made afresh:
#   installer_test.sh BUILD VERSION
# installs BUILD/kartenschalter-VERSION-x64.msi silently and checks the files, the Start menu entry,
# "Öffnen mit" for .img (while .img keeps its own default program) and the version resources of
# both programs; starts the installed window on a folder with its smoke-test hook and runs the
# installed imgflag.exe; installs the same build under a higher version over it (one entry in the
# installed apps remains), lets the older package refuse to replace it, removes it and checks that
# nothing of it is left and the maps are untouched. Prints how long each Wine step took.
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../data
files=$build/kartenschalter-$version-windows-x64
msi=$build/kartenschalter-$version-x64.msi
wine=${KS_WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
export WINEPREFIX=$build/wineprefix-installer WINEDEBUG=-all
# No menu entries or file types for the machine running the test, and no Gecko or Mono downloads.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
work=$(mktemp -d "$build/installer-test.XXXXXX")
exec 3>&2  # the step times, whatever a step's own output does
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
faillog() { tr -d '\0' <"$work/msiexec.log" | tail -n 30 >&2; fail "$@"; }
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }
# Runs a Wine step and tells how long it took.
timed() {
    local label=$1 start=${EPOCHREALTIME/./} status=0 took
    shift
    "$@" || status=$?
    took=$(( (${EPOCHREALTIME/./} - start) / 100000 ))
    printf '  %-34s %4d.%d s\n' "$label" $((took / 10)) $((took % 10)) >&3
    return $status
}
msiexec() { "$wine" msiexec "$@" /qn /l*v "$(winpath "$work/msiexec.log")"; }
# The data of a registry value ("" for the key's default), or nothing when it is not there.
regvalue() {
    local out
    if [ -z "$2" ]; then out=$("$wine" reg query "$1" /ve 2>/dev/null); else out=$("$wine" reg query "$1" /v "$2" 2>/dev/null); fi
    tr -d '\r' <<<"$out" | sed -n 's/^    .*    REG_[A-Z_]*    //p'
}
# Everything below C:\ and every registry line that names the program.
snapshot() {
    "$wineserver" -w
    (cd "$WINEPREFIX/drive_c" && find . | LC_ALL=C sort)
    grep -i -h 'kartenschalter\|imgflag' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" || true
}
# The installed apps named Kartenschalter, one line each: NAME VERSION.
uninstall_entries() {
    "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' | awk -F '    ' '
        function entry() { if (name == "Kartenschalter") print name, version; name = version = "" }
        /^HKEY_/ { entry() }
        $2 == "DisplayName" { name = $4 }
        $2 == "DisplayVersion" { version = $4 }
        END { entry() }'
}

installed="$WINEPREFIX/drive_c/Program Files/Kartenschalter"
command='"C:\Program Files\Kartenschalter\kartenschalter.exe" "%1"'
classes='HKLM\Software\Classes'
# The files as shipped, the Start menu entry and "Öffnen mit" for .img, whose default stays.
installed_whole() {
    [ "$(cd "$installed" && LC_ALL=C ls)" = "$(printf '%s\n' LIESMICH.txt LIZENZ.txt imgflag.exe kartenschalter.exe)" ] ||
        fail "installed: $(ls "$installed")"
    for f in LIESMICH.txt LIZENZ.txt imgflag.exe kartenschalter.exe; do
        cmp -s "$files/$f" "$installed/$f" || fail "$f differs from the release's"
    done
    # Windows puts a per-machine Start menu entry in ProgramData, Wine in the user's menu.
    local links link
    mapfile -t links < <(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/*' -iname '*.lnk')
    [ "${#links[@]}" -eq 1 ] && [ "$(basename "${links[0]}")" = Kartenschalter.lnk ] ||
        fail "Start menu entries: ${links[*]:-none}"
    link=$(LC_ALL=C tr -d '\0' <"${links[0]}")  # the link's UTF-16 texts as ASCII
    [[ $link == *'Kartenschalter\kartenschalter.exe'* ]] || fail "the Start menu entry does not start the window"
    [[ $link == *'Garmin-IMG-Karten transparent oder nicht transparent schalten'* ]] ||
        fail "the Start menu entry has no German description"
    [ "$(regvalue "$classes\\Applications\\kartenschalter.exe\\shell\\open\\command" "")" = "$command" ] ||
        fail "Applications\\kartenschalter.exe opens maps otherwise"
    [ "$(regvalue "$classes\\Kartenschalter.IMG\\shell\\open\\command" "")" = "$command" ] ||
        fail "Kartenschalter.IMG opens maps otherwise"
    "$wine" reg query "$classes\\.img\\OpenWithProgids" /v Kartenschalter.IMG >/dev/null 2>&1 ||
        fail ".img does not offer Kartenschalter.IMG"
    "$wine" reg query "$classes\\Applications\\kartenschalter.exe\\SupportedTypes" /v .img >/dev/null 2>&1 ||
        fail "kartenschalter.exe does not name .img as supported"
    [ "$(regvalue "$classes\\.img" "")" = Windows.IsoFile ] || fail "the installer took the default of .img"
}

[ -f "$msi" ] || fail "no installer $msi"
echo "installer: $(basename "$msi"), $(stat -c %s "$msi") bytes"

rm -rf "$WINEPREFIX"
timed "new prefix (wineboot)" "$wine" wineboot --init >/dev/null 2>&1 || true
# .img is also a disk image: Windows has its own default program for it, and so has this prefix.
"$wine" reg add "$classes\\.img" /ve /d Windows.IsoFile /f >/dev/null
snapshot >"$work/before"

timed "install $version" msiexec /i "$(winpath "$msi")" || faillog "msiexec /i failed"
installed_whole
[ "$(head -c 3 "$installed/LIESMICH.txt" | od -An -tx1)" = " ef bb bf" ] || fail "LIESMICH.txt has no byte order mark"
! grep -q $'[^\r]$\\|^$' "$installed/LIESMICH.txt" || fail "LIESMICH.txt has a line not ended by CRLF"
grep -q "Kartenschalter $version für Windows" "$installed/LIESMICH.txt" || fail "LIESMICH.txt names no version"

# Both programs name the product, a German description, the version and the copyright, with the icon
# (windres writes a text's characters past ASCII as octal UTF-16 units: \374 is ü, \251 is ©).
declare -A descriptions=([kartenschalter]='"Kartenschalter: IMG-Karten transparent oder opak schalten"'
    [imgflag]='L"imgflag: Kartenschalter f\374r die Eingabeaufforderung"')
for program in kartenschalter imgflag; do
    resources=$(x86_64-w64-mingw32-windres -i "$installed/$program.exe" -O rc) || fail "$program.exe has no resources"
    for line in "VALUE \"FileDescription\", ${descriptions[$program]}" "VALUE \"ProductName\", \"Kartenschalter\"" \
        "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
        "VALUE \"LegalCopyright\", L\"\\251 2026 die Kartenschalter-Entwickler\"" \
        "VALUE \"OriginalFilename\", \"$program.exe\"" "FILEVERSION ${version//./, }, 0" "1 14 /* RT_GROUP_ICON */"; do
        grep -qF -- "$line" <<<"$resources" || fail "$program.exe: no $line in its resources"
    done
done

# The installed programs at work: the window on a folder, then imgflag.exe on it.
folder="$work/Karten"
mkdir "$folder"
cp "$samples/opaque.img" "$folder/a.img"
"$wineserver" -w  # a wineserver started without a display would give the window none
KARTENSCHALTER_AUTOPILOT=$(winpath "$work/window.log") timed "window smoke test" timeout 150 \
    xvfb-run -a -s "-screen 0 1024x768x24" "$wine" 'C:\Program Files\Kartenschalter\kartenschalter.exe' \
    "$(winpath "$folder")" || fail "the installed kartenschalter.exe did not end by itself"
[ "$(tail -n 2 "$work/window.log" 2>/dev/null)" = "ENTRY A.IMG  <T>
EXIT" ] || fail "the installed window did otherwise: $(cat "$work/window.log" 2>/dev/null)"
[ "$(cmp -l "$samples/opaque.img" "$folder/a.img" | wc -l)" -eq 1 ] || fail "the window did not change one byte"
out=$(timed "imgflag.exe status" "$wine" 'C:\Program Files\Kartenschalter\imgflag.exe' status "$(winpath "$folder")" |
    tr -d '\r')
[ "$(head -n 1 <<<"$out")" = "transparent	$(winpath "$folder")\\a.img	priority 25" ] ||
    fail "the installed imgflag.exe said: $out"
cp "$folder/a.img" "$work/a.img.switched"

# The same build under a higher version replaces it; the older one then refuses to.
IFS=. read -r major minor patch <<<"$version"
newer=$major.$minor.$((patch + 1))
# wixl takes its sources by relative paths only.
(cd "$here/../.." && wixl -a x64 -D Version="$newer" -D Files="$(realpath --relative-to=. "$files")" \
    -D Icon=win32/kartenschalter.ico packaging/kartenschalter.wxs -o "$work/newer.msi")
timed "upgrade to $newer" msiexec /i "$(winpath "$work/newer.msi")" || faillog "the upgrade failed"
installed_whole
[ "$(uninstall_entries)" = "Kartenschalter $newer" ] ||
    fail "installed apps after the upgrade: $(uninstall_entries)"
status=0
timed "older package over it (refused)" msiexec /i "$(winpath "$msi")" || status=$?
# Wine passes on the low byte of the exit status: 1603, a fatal error, is 67.
[ "$status" -eq $((1603 % 256)) ] || fail "the older package over the newer: exit status $status, not 1603 (fatal error)"
tr -d '\0' <"$work/msiexec.log" | grep -q '^Property(S): WIX_DOWNGRADE_DETECTED = {' ||
    fail "the older package failed without seeing the newer one"
[ "$(uninstall_entries)" = "Kartenschalter $newer" ] ||
    fail "installed apps after the refused downgrade: $(uninstall_entries)"
installed_whole

timed "remove" msiexec /x "$(winpath "$work/newer.msi")" || faillog "msiexec /x failed"
# Windows' own installer cache folder may stay; nothing of the program does.
diff <(grep -v '^\./windows/Installer$' "$work/before") <(snapshot | grep -v '^\./windows/Installer$') ||
    fail "the removal left the above behind"
[ "$(regvalue "$classes\\.img" "")" = Windows.IsoFile ] || fail "the removal took the default of .img"
cmp -s "$work/a.img.switched" "$folder/a.img" || fail "the removal touched a map"
echo "installer: ok"
