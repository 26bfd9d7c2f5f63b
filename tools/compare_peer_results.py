#!/usr/bin/env python3
"""Compares the adjusted coordinates of GNU Gama's g3 program with torvek's:
    python3 tools/compare_peer_results.py PEER-RESULTS.xml TORVEK-RESULTS.json
PEER-RESULTS.xml is gama-g3's output, TORVEK-RESULTS.json the `torvek-front export` of torvek's
output data set (with --names when the sites have longer names than the data set holds). Prints
one line: the sites compared, the largest 3D, horizontal and vertical difference in mm and the
site of the largest 3D one. Exit status 1 when a site is adjusted by one program only."""
import json
import math
import os
import sys
import xml.etree.ElementTree as ElementTree

sys.dont_write_bytecode = True  # no cache folder beside the tools
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from write_gama_g3 import cartesian, ellipsoid_of, local_frame  # noqa: E402

MM_PER_M = 1000.0


def peer_positions(path):
    """Site name -> adjusted (or given, when held) Earth-centred X, Y, Z in metres."""
    positions = {}
    for _, element in ElementTree.iterparse(path):
        tag = element.tag.rsplit("}", 1)[-1]
        if tag != "point":
            continue
        values = {child.tag.rsplit("}", 1)[-1]: (child.text or "").strip() for child in element}
        if "id" in values and "x-given" in values:
            positions[values["id"]] = tuple(
                float(values.get(axis + "-adjusted", values[axis + "-given"])) for axis in "xyz")
        element.clear()
    return positions


def torvek_positions(project):
    a, inverse_flattening, _ = ellipsoid_of(project.get("settings", {}))
    positions = {}
    for site in project["sites"]:
        if not site.get("inUse", True):
            continue
        adjusted = site["results"]["adjusted"]
        height = adjusted["elevation"] + site.get("geoidHeight", 0.0)
        positions[site["name"]] = (adjusted["latitude"], adjusted["longitude"],
                                   cartesian(adjusted["latitude"], adjusted["longitude"], height,
                                             a, inverse_flattening))
    return positions


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 1
    peer = peer_positions(argv[0])
    with open(argv[1], encoding="utf-8") as f:
        ours = torvek_positions(json.load(f))
    worst = (0.0, 0.0, 0.0, "-")
    horizontal_max = vertical_max = 0.0
    for name, (latitude, longitude, xyz) in ours.items():
        if name not in peer:
            continue
        d = [p - q for p, q in zip(peer[name], xyz)]
        n, e, u = (sum(r * c for r, c in zip(row, d)) for row in local_frame(latitude, longitude))
        horizontal, vertical = math.hypot(n, e), abs(u)
        horizontal_max = max(horizontal_max, horizontal)
        vertical_max = max(vertical_max, vertical)
        distance = math.sqrt(n * n + e * e + u * u)
        if distance > worst[0]:
            worst = (distance, horizontal, vertical, name)
    only = sorted(set(peer) ^ set(ours))
    print("%d sites compared; largest difference %.3f mm (3D), %.3f mm horizontal, %.3f mm "
          "vertical; largest 3D at %s" % (len(set(peer) & set(ours)), worst[0] * MM_PER_M,
                                          horizontal_max * MM_PER_M, vertical_max * MM_PER_M,
                                          worst[3]))
    if only:
        print("adjusted by one program only: %s%s" % (", ".join(only[:10]),
                                                       " ..." if len(only) > 10 else ""))
    return 1 if only else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
