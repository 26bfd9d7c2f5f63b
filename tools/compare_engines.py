#!/usr/bin/env python3
"""Runs torvek and torvek-large on the same data sets and compares the adjusted coordinates
(0.1 mm), their standard deviations and the vectors' adjusted sigmas (1 %):
    python3 tools/compare_engines.py BUILD-DIR INPUT.dat...
Exit status 1 when a run differs beyond those tolerances or only one program adjusted it."""
import json
import math
import os
import subprocess
import sys
import tempfile

COORDINATE_TOLERANCE = 1e-4  # metres
SIGMA_TOLERANCE = 0.01  # relative
EARTH_RADIUS = 6371000.0  # metres per radian, to turn degree differences into metres


def adjusted(build, program, data_set, folder):
    output = os.path.join(folder, program + ".dat")
    subprocess.run([os.path.join(build, program), data_set, output], check=True)
    exported = subprocess.run([os.path.join(build, "torvek-front"), "export", output, "--json"],
                              check=True, capture_output=True, text=True).stdout
    return json.loads(exported)


def compare(dense, sparse, name):
    problems = []
    def walk(a, b, path):
        if isinstance(a, dict):
            for key in a:
                walk(a[key], b.get(key), path + "." + key)
        elif isinstance(a, list):
            if not isinstance(b, list) or len(a) != len(b):
                problems.append(path + ": lengths differ")
                return
            for k, (x, y) in enumerate(zip(a, b)):
                walk(x, y, "%s[%d]" % (path, k))
        elif isinstance(a, float) and isinstance(b, (int, float)):
            leaf = path.rsplit(".", 1)[-1].lower()
            if "sigma" in path.lower():
                tolerance = SIGMA_TOLERANCE * abs(a) + 1e-7
            elif "residual" in path.lower():
                tolerance = max(COORDINATE_TOLERANCE, SIGMA_TOLERANCE * abs(a))
            elif "correction" in path.lower():
                tolerance = COORDINATE_TOLERANCE
            elif leaf in ("latitude", "longitude"):
                tolerance = COORDINATE_TOLERANCE / EARTH_RADIUS * 180 / math.pi
            elif leaf in ("elevation", "height"):
                tolerance = COORDINATE_TOLERANCE
            else:
                return
            if abs(a - b) > tolerance:
                problems.append("%s: %r against %r" % (path, a, b))
    walk(dense.get("sites", []), sparse.get("sites", []), "sites")
    walk(dense.get("vectors", []), sparse.get("vectors", []), "vectors")
    return problems


def main():
    build, inputs = sys.argv[1], sys.argv[2:]
    status = 0
    for data_set in inputs:
        with tempfile.TemporaryDirectory() as folder:
            dense = adjusted(build, "torvek", data_set, folder)
            sparse = adjusted(build, "torvek-large", data_set, folder)
        problems = compare(dense, sparse, data_set)
        print("%s: %s" % (os.path.basename(data_set),
                          "agree" if not problems else "%d differences" % len(problems)))
        for line in problems[:10]:
            print("   " + line)
        status |= bool(problems)
    return status


if __name__ == "__main__":
    sys.exit(main())
