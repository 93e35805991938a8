#!/usr/bin/env bash
# Rebuilds the real map tiles in this folder from tiny.osm with Debian's mkgmap:
#   opaque.img       map 63240011, default options (512-byte blocks)
#   transparent.img  map 63240012, --transparent
#   bigblock.img     map 63240013, --block-size=4096
#   gmapsupp.img     --gmapsupp of transparent.img and opaque.img (two maps)
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

# mkgmap OUTDIR OPTION... : compiles tiny.osm into OUTDIR, showing the log only on failure.
compile() {
    local out=$1
    shift
    mkdir -p "$work/$out"
    if ! (cd "$work/$out" && mkgmap --output-dir=. "$@" "$here/tiny.osm" >mkgmap.log 2>&1); then
        cat "$work/$out/mkgmap.log" >&2
        exit 1
    fi
}

compile opaque --mapname=63240011 --description="KS opaque"
compile transparent --mapname=63240012 --description="KS transparent" --transparent
compile bigblock --mapname=63240013 --description="KS big block" --block-size=4096

mkdir -p "$work/pair"
cp "$work/opaque/63240011.img" "$work/transparent/63240012.img" "$work/pair/"
if ! (cd "$work/pair" && mkgmap --output-dir=. --gmapsupp --description="KS pair" 63240012.img 63240011.img \
        >mkgmap.log 2>&1); then
    cat "$work/pair/mkgmap.log" >&2
    exit 1
fi

cp "$work/opaque/63240011.img" "$here/opaque.img"
cp "$work/transparent/63240012.img" "$here/transparent.img"
cp "$work/bigblock/63240013.img" "$here/bigblock.img"
cp "$work/pair/gmapsupp.img" "$here/gmapsupp.img"
chmod 644 "$here"/{opaque,transparent,bigblock,gmapsupp}.img
ls -l "$here"/*.img
