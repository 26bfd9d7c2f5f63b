#!/usr/bin/env python3
"""Generates the example GPS network projects in examples/.

The network is simulated from "true" coordinates: sixteen sites in hilly country at mid-latitude,
observed in twelve sessions of four receivers (every site in at least two); each session yields the three vectors from its base
receiver to the others. Every vector is the true Cartesian difference plus noise drawn with the
precision that its sigmas state (a few millimetres horizontally plus 0.5 ppm, about twice that
vertically plus 1 ppm), rotated from the local north/east/up frame of the vector's start into
X, Y, Z with the matching covariance. Three sites are held fixed at their true coordinates.

  example-network.json  the clean network: the chi-square test passes and no vector is flagged.
  example-blunder.json  the same with a 6 cm error in the height of one vector (TANN to SPIT),
                        which the tau test flags and the chi-square test rejects.
  example-disconnected.json  the clean network and, apart from it, a small survey of three more
                        sites tied to each other but to nothing else: the network falls apart, and
                        the program asks whether to adjust its best-controlled part alone.

Only the standard library is used, and a fixed seed makes the output the same on every run.
The script also adjusts the clean network itself (a plain three-dimensional least-squares
adjustment of the site coordinates, no datum bias parameters) and prints its chi-square, as an
independent check of what torvek reports.

Usage: python3 tools/make_example.py [output directory, default examples/]
"""

import json
import math
import os
import random
import sys

# WGS 84: semi-major axis (m) and reciprocal flattening.
A = 6378137.0
RF = 298.257223563
E2 = 2.0 / RF - 1.0 / (RF * RF)

SEED = 20240611

# Name, latitude and longitude (decimal degrees), elevation (m). Fictitious sites in a
# 22 km x 17 km area of hills and valleys.
SITES = [
    ("BIRK", 47.0412, 8.2208, 612.4),
    ("EICH", 47.0675, 8.2754, 745.9),
    ("FELS", 47.0931, 8.3317, 1021.3),
    ("HANG", 47.1148, 8.2486, 823.7),
    ("KAPF", 47.0539, 8.3692, 904.2),
    ("LIND", 47.0216, 8.3051, 455.8),
    ("MOOS", 47.0810, 8.2034, 531.6),
    ("RIED", 47.1103, 8.3905, 688.0),
    ("SAGE", 47.0068, 8.3724, 437.5),
    ("SPIT", 47.1321, 8.3188, 1102.9),
    ("TANN", 47.0995, 8.2812, 956.1),
    ("WALD", 47.0357, 8.4211, 811.4),
    ("WEID", 47.0621, 8.1893, 498.3),
    ("ZELG", 47.1245, 8.4329, 742.6),
    ("HOHB", 46.9952, 8.2517, 579.0),
    ("AUEN", 47.0731, 8.4405, 463.2),
]

# Approximate coordinates of the other sites are off by about this much (m) in each direction, as
# coordinates from a map or a single-receiver position would be.
APPROXIMATION_ERROR = 0.4

# Held fixed in all three coordinates: spread around the network.
CONTROL = {"BIRK", "SPIT", "SAGE"}

# Four receivers per session; the first is the base.
SESSIONS = [
    ["BIRK", "WEID", "MOOS", "HOHB"],
    ["BIRK", "EICH", "LIND", "HOHB"],
    ["EICH", "HANG", "MOOS", "TANN"],
    ["TANN", "SPIT", "HANG", "FELS"],
    ["FELS", "KAPF", "EICH", "RIED"],
    ["KAPF", "SAGE", "LIND", "WALD"],
    ["RIED", "ZELG", "SPIT", "AUEN"],
    ["WALD", "AUEN", "KAPF", "SAGE"],
    ["LIND", "SAGE", "HOHB", "EICH"],
    ["SPIT", "TANN", "RIED", "FELS"],
    ["WEID", "MOOS", "HANG", "EICH"],
    ["ZELG", "AUEN", "WALD", "RIED"],
]

# Precision of a vector: constant part (m) and part proportional to its length (ppm).
HORIZONTAL_SIGMA = 0.003
HORIZONTAL_PPM = 0.5
VERTICAL_SIGMA = 0.006
VERTICAL_PPM = 1.0

BLUNDER_VECTOR = ("TANN", "SPIT")  # in session 4

# The separate survey of the disconnected example: three sites north-east of the network, observed
# in one session of three receivers, with no vector to the network and no control of their own.
DETACHED_SITES = [
    ("NEUH", 47.1712, 8.4968, 521.4),
    ("OBHF", 47.1835, 8.5207, 604.8),
    ("GRUB", 47.1624, 8.5311, 577.2),
]
DETACHED_SESSION = ["NEUH", "OBHF", "GRUB"]
DETACHED_SEED = 20240612
BLUNDER_UP = 0.060  # metres


def geoid_height(lat, lon):
    """A smooth geoid undulation surface (m), as a geoid model gives in this region, in mm."""
    return round(48.9 + 1.6 * (lat - 47.05) - 0.9 * (lon - 8.30) + 0.3 * math.sin(8 * lon), 3)


def cartesian(lat_deg, lon_deg, h):
    lat, lon = math.radians(lat_deg), math.radians(lon_deg)
    n = A / math.sqrt(1 - E2 * math.sin(lat) ** 2)
    return [
        (n + h) * math.cos(lat) * math.cos(lon),
        (n + h) * math.cos(lat) * math.sin(lon),
        ((1 - E2) * n + h) * math.sin(lat),
    ]


def local_frame(lat_deg, lon_deg):
    """Rows X, Y, Z; columns north, east, up."""
    lat, lon = math.radians(lat_deg), math.radians(lon_deg)
    sp, cp, sl, cl = math.sin(lat), math.cos(lat), math.sin(lon), math.cos(lon)
    return [[-sp * cl, -sl, cp * cl], [-sp * sl, cl, cp * sl], [cp, 0.0, sp]]


def rotate(r, v):
    return [sum(r[i][k] * v[k] for k in range(3)) for i in range(3)]


def covariance_xyz(r, local_sigmas):
    d = [s * s for s in local_sigmas]
    return [[sum(r[i][k] * d[k] * r[j][k] for k in range(3)) for j in range(3)] for i in range(3)]


def solve(matrix, rhs):
    """Gaussian elimination with partial pivoting on copies."""
    n = len(rhs)
    m = [row[:] + [rhs[i]] for i, row in enumerate(matrix)]
    for c in range(n):
        p = max(range(c, n), key=lambda i: abs(m[i][c]))
        m[c], m[p] = m[p], m[c]
        for i in range(c + 1, n):
            f = m[i][c] / m[c][c]
            for j in range(c, n + 1):
                m[i][j] -= f * m[c][j]
    x = [0.0] * n
    for i in reversed(range(n)):
        x[i] = (m[i][n] - sum(m[i][j] * x[j] for j in range(i + 1, n))) / m[i][i]
    return x


def invert3(c):
    det = (c[0][0] * (c[1][1] * c[2][2] - c[1][2] * c[2][1])
           - c[0][1] * (c[1][0] * c[2][2] - c[1][2] * c[2][0])
           + c[0][2] * (c[1][0] * c[2][1] - c[1][1] * c[2][0]))
    inv = [[0.0] * 3 for _ in range(3)]
    for i in range(3):
        for j in range(3):
            a = [[c[r][k] for k in range(3) if k != i] for r in range(3) if r != j]
            inv[i][j] = ((-1) ** (i + j)) * (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det
    return inv


def check_adjustment(truth, vectors):
    """Chi-square of a 3-D adjustment of the free sites' coordinates (independent check)."""
    free = [name for name, *_ in SITES if name not in CONTROL]
    index = {name: i for i, name in enumerate(free)}
    n = 3 * len(free)
    normal = [[0.0] * n for _ in range(n)]
    rhs = [0.0] * n
    observations = []
    for v in vectors:
        obs = [v["dX"], v["dY"], v["dZ"]]
        s = [v["sigmas"]["x"], v["sigmas"]["y"], v["sigmas"]["z"]]
        r = v["correlations"]
        c = [[s[0] ** 2, r["xy"] * s[0] * s[1], r["xz"] * s[0] * s[2]],
             [r["xy"] * s[0] * s[1], s[1] ** 2, r["yz"] * s[1] * s[2]],
             [r["xz"] * s[0] * s[2], r["yz"] * s[1] * s[2], s[2] ** 2]]
        w = invert3(c)
        # Approximate coordinates: the truth (the problem is linear in X, Y, Z).
        computed = [truth[v["to"]][k] - truth[v["from"]][k] for k in range(3)]
        misclosure = [obs[k] - computed[k] for k in range(3)]
        rows = []
        for end, sign in ((v["from"], -1.0), (v["to"], 1.0)):
            if end in index:
                rows.append((3 * index[end], sign))
        for (ci, si) in rows:
            for (cj, sj) in rows:
                for a in range(3):
                    for b in range(3):
                        normal[ci + a][cj + b] += si * sj * w[a][b]
            for a in range(3):
                rhs[ci + a] += si * sum(w[a][b] * misclosure[b] for b in range(3))
        observations.append((rows, misclosure, w))
    x = solve(normal, rhs)
    chi2 = 0.0
    for rows, misclosure, w in observations:
        fitted = [0.0, 0.0, 0.0]
        for (ci, si) in rows:
            for a in range(3):
                fitted[a] += si * x[ci + a]
        res = [fitted[a] - misclosure[a] for a in range(3)]
        chi2 += sum(res[a] * w[a][b] * res[b] for a in range(3) for b in range(3))
    return chi2, 3 * len(vectors) - n


def approximate_sites(rng):
    """The sites as the project gives them: control exact, the others a few decimetres off."""
    approx = []
    for name, lat, lon, elevation in SITES:
        if name not in CONTROL:
            m = A / math.sqrt(1 - E2 * math.sin(math.radians(lat)) ** 2)  # radius (close enough)
            lat += math.degrees(rng.gauss(0, APPROXIMATION_ERROR) / m)
            lon += math.degrees(rng.gauss(0, APPROXIMATION_ERROR) / (m * math.cos(math.radians(lat))))
            elevation += rng.gauss(0, APPROXIMATION_ERROR)
        approx.append((name, round(lat, 8), round(lon, 8), round(elevation, 3)))
    return approx


def make_project(title, vectors, approx):
    lats = [s[1] for s in SITES]
    lons = [s[2] for s in SITES]
    sites = []
    for name, lat, lon, elevation in approx:
        site = {
            "name": name,
            "latitude": lat,
            "longitude": lon,
            "elevation": elevation,
            "geoidHeight": geoid_height(*[s[1:3] for s in SITES if s[0] == name][0]),
        }
        if name in CONTROL:
            site["fixed"] = True
        sites.append(site)
    return {
        "format": "torvek-project",
        "version": 1,
        "title": title,
        "settings": {
            "ellipsoid": "WGS84",
            "referencePoint": {
                "latitude": round((min(lats) + max(lats)) / 2, 4),
                "longitude": round((min(lons) + max(lons)) / 2, 4),
            },
            "confidenceLevel": 95.0,
            "vectorSigmaScale": 1.0,
            "minimallyConstrained": False,
        },
        "sites": sites,
        "vectors": vectors,
    }


def observe(base, rover, truth, position, rng):
    """One vector: the true difference plus noise of the stated precision, with its sigmas."""
    true_d = [truth[rover][k] - truth[base][k] for k in range(3)]
    length = math.sqrt(sum(c * c for c in true_d))
    sh = math.hypot(HORIZONTAL_SIGMA, HORIZONTAL_PPM * 1e-6 * length)
    sv = math.hypot(VERTICAL_SIGMA, VERTICAL_PPM * 1e-6 * length)
    r = local_frame(*position[base][:2])
    noise = rotate(r, [rng.gauss(0, sh), rng.gauss(0, sh), rng.gauss(0, sv)])
    c = covariance_xyz(r, [sh, sh, sv])
    s = [math.sqrt(c[i][i]) for i in range(3)]
    return {
        "from": base,
        "to": rover,
        "dX": round(true_d[0] + noise[0], 4),
        "dY": round(true_d[1] + noise[1], 4),
        "dZ": round(true_d[2] + noise[2], 4),
        "sigmas": {"x": round(s[0], 5), "y": round(s[1], 5), "z": round(s[2], 5)},
        "correlations": {
            "xy": round(c[0][1] / (s[0] * s[1]), 4),
            "xz": round(c[0][2] / (s[0] * s[2]), 4),
            "yz": round(c[1][2] / (s[1] * s[2]), 4),
        },
    }


def detached_project(clean):
    """The clean project with the detached survey added after its sites and vectors."""
    rng = random.Random(DETACHED_SEED)
    position = {name: (lat, lon, elev) for name, lat, lon, elev in DETACHED_SITES}
    truth = {name: cartesian(lat, lon, elev + geoid_height(lat, lon))
             for name, (lat, lon, elev) in position.items()}
    project = json.loads(json.dumps(clean))
    project["title"] = "Example network and a separate three-site survey: the network falls apart"
    for name, lat, lon, elevation in DETACHED_SITES:
        project["sites"].append({"name": name, "latitude": lat, "longitude": lon,
                                 "elevation": elevation,
                                 "geoidHeight": geoid_height(lat, lon)})
    base = DETACHED_SESSION[0]
    for rover in DETACHED_SESSION[1:]:
        project["vectors"].append(observe(base, rover, truth, position, rng))
    project["vectors"].append(observe(DETACHED_SESSION[1], DETACHED_SESSION[2], truth, position, rng))
    return project


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    rng = random.Random(SEED)
    position = {name: (lat, lon, elev) for name, lat, lon, elev in SITES}
    truth = {name: cartesian(lat, lon, elev + geoid_height(lat, lon))
             for name, (lat, lon, elev) in position.items()}

    vectors = []
    blunder_index = None
    for session in SESSIONS:
        base = session[0]
        for rover in session[1:]:
            if (base, rover) == BLUNDER_VECTOR:
                blunder_index = len(vectors)
            vectors.append(observe(base, rover, truth, position, rng))

    chi2, dof = check_adjustment(truth, vectors)
    print("independent 3-D check: chi-square %.2f with %d degrees of freedom" % (chi2, dof))

    approx = approximate_sites(rng)
    clean = make_project("Example network: 16 sites, 12 sessions, 3 fixed control sites",
                         vectors, approx)
    blundered = json.loads(json.dumps(vectors))
    v = blundered[blunder_index]
    r = local_frame(*position[v["from"]][:2])
    error = rotate(r, [0.0, 0.0, BLUNDER_UP])
    v["dX"] = round(v["dX"] + error[0], 4)
    v["dY"] = round(v["dY"] + error[1], 4)
    v["dZ"] = round(v["dZ"] + error[2], 4)
    blunder = make_project("Example network with a 6 cm height blunder in TANN-SPIT",
                           blundered, approx)

    disconnected = detached_project(clean)

    for name, project in (("example-network.json", clean), ("example-blunder.json", blunder),
                          ("example-disconnected.json", disconnected)):
        path = os.path.join(out_dir, name)
        with open(path, "w") as f:
            json.dump(project, f, indent=2)
            f.write("\n")
        print("wrote", os.path.normpath(path))


if __name__ == "__main__":
    main()
