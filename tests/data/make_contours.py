#!/usr/bin/env python3
"""Writes an OSM file of synthetic contour lines for one tile.

    make_contours.py INDEX > tile.osm

Tile INDEX (0, 1, 2, ...) covers 0.04 x 0.04 degrees next to the previous one,
starting at 47.50 N 11.00 E. Each tile holds one hill: closed rings every 20 m
from 1000 m up, tagged contour=elevation with an ele value, so mkgmap's
default style draws them as contour lines. Every 100 m is a major line and
every 50 m a medium one. The output depends on INDEX only.
"""

import math
import sys

TILE_SIZE = 0.04            # degrees, both directions
ORIGIN_LAT = 47.50
ORIGIN_LON = 11.00
POINTS_PER_RING = 40
RINGS = 12
BASE_ELE = 1000
STEP_ELE = 20


def ring_points(index, ring, center_lat, center_lon):
    """Points of one closed contour, a wobbly ellipse shrinking with height."""
    radius = TILE_SIZE * 0.45 * (RINGS - ring) / RINGS
    wobble = 0.12 + 0.03 * (index % 3)
    lobes = 3 + index % 3
    points = []
    for k in range(POINTS_PER_RING):
        angle = 2 * math.pi * k / POINTS_PER_RING
        r = radius * (1 + wobble * math.sin(lobes * angle + ring * 0.4 + index))
        lat = center_lat + r * 0.75 * math.sin(angle)
        lon = center_lon + r * math.cos(angle)
        points.append((lat, lon))
    return points


def contour_kind(ele):
    if ele % 100 == 0:
        return "elevation_major"
    if ele % 50 == 0:
        return "elevation_medium"
    return "elevation_minor"


def write_tile(index, out):
    min_lat = ORIGIN_LAT
    min_lon = ORIGIN_LON + index * TILE_SIZE
    max_lat = min_lat + TILE_SIZE
    max_lon = min_lon + TILE_SIZE
    center_lat = (min_lat + max_lat) / 2
    center_lon = (min_lon + max_lon) / 2

    out.write('<?xml version="1.0" encoding="UTF-8"?>\n')
    out.write('<osm version="0.6" generator="make_contours.py">\n')
    out.write(f'  <bounds minlat="{min_lat:.5f}" minlon="{min_lon:.5f}" '
              f'maxlat="{max_lat:.5f}" maxlon="{max_lon:.5f}"/>\n')

    # Ids are unique across tiles so the tiles could share one input too.
    node_id = (index + 1) * 100000
    way_id = (index + 1) * 100000
    ways = []
    for ring in range(RINGS):
        refs = []
        for lat, lon in ring_points(index, ring, center_lat, center_lon):
            node_id += 1
            out.write(f'  <node id="{node_id}" lat="{lat:.6f}" lon="{lon:.6f}" version="1"/>\n')
            refs.append(node_id)
        refs.append(refs[0])
        way_id += 1
        ways.append((way_id, refs, BASE_ELE + ring * STEP_ELE))

    for wid, refs, ele in ways:
        out.write(f'  <way id="{wid}" version="1">\n')
        for ref in refs:
            out.write(f'    <nd ref="{ref}"/>\n')
        out.write('    <tag k="contour" v="elevation"/>\n')
        out.write(f'    <tag k="contour_ext" v="{contour_kind(ele)}"/>\n')
        out.write(f'    <tag k="ele" v="{ele}"/>\n')
        out.write('  </way>\n')
    out.write('</osm>\n')


def main(argv):
    if len(argv) != 2 or not argv[1].isdigit():
        sys.stderr.write("usage: make_contours.py INDEX > tile.osm\n")
        return 2
    write_tile(int(argv[1]), sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
