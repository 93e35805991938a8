#!/usr/bin/env bash
# Rebuilds the real map tiles in this folder with Debian's mkgmap:
#   opaque.img       map 63240011 from tiny.osm, default options (512-byte blocks)
#   transparent.img  map 63240012 from tiny.osm, --transparent
#   bigblock.img     map 63240013 from tiny.osm, --block-size=4096
#   gmapsupp.img     --gmapsupp of transparent.img and opaque.img (two maps)
#   contours.img     --gmapsupp of five contour line tiles written by
#                    make_contours.py, maps 63240021 to 63240025 in that
#                    order; 63240022 and 63240024 are --transparent, so
#                    opaque and transparent maps alternate
#   contour.img      the first of those five tiles on its own (map 63240021):
#                    a real tile whose TRE header lies past the first 4 KiB
#   priority12.img   map 63240014 from tiny.osm, --draw-priority=12
#   priority31.img   the same map with --draw-priority=31
#   priorities.img   --gmapsupp of priority12.img and map 63240015 from
#                    tiny.osm, --draw-priority=31 --transparent (an overlay)
#   bundle/opaque/Contours.gmap       --gmapi of the first two contour tiles
#                    (maps 63240041 and 63240042, both opaque) with the
#                    overview map osmmap (63240000) that mkgmap adds
#   bundle/transparent/Contours.gmap  the same bundle built with --transparent,
#                    which leaves the overview map opaque
#   families.img     --gmapsupp of two map families: Basiskarte (family 4711,
#                    maps 63290000 and 63290001, opaque) and Hoehenlinien
#                    (family 4712, maps 63290010 and 63290011, --transparent
#                    --draw-priority=31), each from the first two contour tiles
# mkgmap stamps the build date into each file, so only those bytes differ
# between runs; the layout the tests rely on stays the same.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v mkgmap >/dev/null; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "mkgmap is missing. Please run: sudo apt-get update && sudo apt-get install -y mkgmap" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends mkgmap
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# compile OUTDIR INPUT OPTION... : compiles INPUT into OUTDIR, showing the log only on failure.
compile() {
    local out=$1 input=$2
    shift 2
    mkdir -p "$work/$out"
    if ! (cd "$work/$out" && mkgmap --output-dir=. "$@" "$input" >mkgmap.log 2>&1); then
        cat "$work/$out/mkgmap.log" >&2
        exit 1
    fi
}

compile opaque "$here/tiny.osm" --mapname=63240011 --description="KS opaque"
compile transparent "$here/tiny.osm" --mapname=63240012 --description="KS transparent" --transparent
compile bigblock "$here/tiny.osm" --mapname=63240013 --description="KS big block" --block-size=4096

mkdir -p "$work/pair"
cp "$work/opaque/63240011.img" "$work/transparent/63240012.img" "$work/pair/"
if ! (cd "$work/pair" && mkgmap --output-dir=. --gmapsupp --description="KS pair" 63240012.img 63240011.img \
        >mkgmap.log 2>&1); then
    cat "$work/pair/mkgmap.log" >&2
    exit 1
fi

# Five contour tiles; the even positions are opaque, the odd ones transparent.
mkdir -p "$work/contours"
for i in 0 1 2 3 4; do
    name=6324002$((i + 1))
    python3 "$here/make_contours.py" "$i" >"$work/contours/$name.osm"
    options=(--mapname="$name" --description="KS contours $((i + 1))")
    if [ $((i % 2)) -eq 1 ]; then
        options+=(--transparent)
    fi
    compile "tile$i" "$work/contours/$name.osm" "${options[@]}"
    cp "$work/tile$i/$name.img" "$work/contours/"
done
if ! (cd "$work/contours" && mkgmap --output-dir=. --gmapsupp --description="KS contours" \
        63240021.img 63240022.img 63240023.img 63240024.img 63240025.img >mkgmap.log 2>&1); then
    cat "$work/contours/mkgmap.log" >&2
    exit 1
fi

compile priority12 "$here/tiny.osm" --mapname=63240014 --description="KS priority" --draw-priority=12
compile priority31 "$here/tiny.osm" --mapname=63240014 --description="KS priority" --draw-priority=31
compile overlay "$here/tiny.osm" --mapname=63240015 --description="KS overlay" --draw-priority=31 --transparent
mkdir -p "$work/priorities"
cp "$work/priority12/63240014.img" "$work/overlay/63240015.img" "$work/priorities/"
if ! (cd "$work/priorities" && mkgmap --output-dir=. --gmapsupp --description="KS priorities" 63240014.img \
        63240015.img >mkgmap.log 2>&1); then
    cat "$work/priorities/mkgmap.log" >&2
    exit 1
fi

# The same two contour tiles as a bundle, opaque and transparent.
python3 "$here/make_contours.py" 0 >"$work/contours/63240041.osm"
python3 "$here/make_contours.py" 1 >"$work/contours/63240042.osm"
for build in opaque transparent; do
    options=(--gmapi --family-name=Contours --description="KS bundle" --mapname=63240041)
    if [ "$build" = transparent ]; then
        options+=(--transparent)
    fi
    compile "gmapi-$build" "$work/contours/63240041.osm" "${options[@]}" "$work/contours/63240042.osm"
done

# Two map families joined in one container, each built as its users want it.
mkdir -p "$work/families"
python3 "$here/make_contours.py" 0 >"$work/families/a.osm"
python3 "$here/make_contours.py" 1 >"$work/families/b.osm"
if ! (cd "$work/families" &&
        mkgmap --family-id=4711 --family-name=Basiskarte --description=Basiskarte \
            --mapname=63290000 a.osm --mapname=63290001 b.osm &&
        mkgmap --family-id=4712 --family-name=Hoehenlinien --description=Hoehenlinien --transparent \
            --draw-priority=31 --mapname=63290010 a.osm --mapname=63290011 b.osm &&
        mkgmap --gmapsupp --family-id=4711 --family-name=Basiskarte 6329000?.img \
            --family-id=4712 --family-name=Hoehenlinien 6329001?.img) >"$work/families.log" 2>&1; then
    cat "$work/families.log" >&2
    exit 1
fi

cp "$work/opaque/63240011.img" "$here/opaque.img"
cp "$work/transparent/63240012.img" "$here/transparent.img"
cp "$work/bigblock/63240013.img" "$here/bigblock.img"
cp "$work/pair/gmapsupp.img" "$here/gmapsupp.img"
cp "$work/contours/gmapsupp.img" "$here/contours.img"
cp "$work/contours/63240021.img" "$here/contour.img"
cp "$work/priority12/63240014.img" "$here/priority12.img"
cp "$work/priority31/63240014.img" "$here/priority31.img"
cp "$work/priorities/gmapsupp.img" "$here/priorities.img"
cp "$work/families/gmapsupp.img" "$here/families.img"
for build in opaque transparent; do
    rm -rf "$here/bundle/$build"
    mkdir -p "$here/bundle/$build"
    cp -r "$work/gmapi-$build/Contours.gmap" "$here/bundle/$build/"
done
chmod 644 "$here"/{opaque,transparent,bigblock,gmapsupp,contours,contour,priority12,priority31,priorities,families}.img
find "$here/bundle" -type f -exec chmod 644 {} +
ls -l "$here"/*.img
du -sh --apparent-size "$here/bundle"
