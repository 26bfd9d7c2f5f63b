#!/usr/bin/env python3
"""Writes a torvek project (the JSON of `torvek-front export`) as input of GNU Gama's g3 program,
so that the two programs can be run side by side on one network:
    python3 tools/write_gama_g3.py PROJECT.json OUT.xml [--cartesian] [--bias-from RESULTS.json]

Sites in use become points at their a-priori positions (Earth-centred metres), held where the
project holds them, with a constraint sigma as an observed position; vectors in use become vectors
with their covariance in mm^2. By default each vector carries the weights torvek gives it: the
variances of its covariance along the reference point's north, east and up axes, without the
correlations between those axes, multiplied by weightDivisor / 2. --cartesian writes the vector's
own covariance instead (the model of a program that weights the full matrix).
torvek's datum bias parameters have no counterpart in the peer: a held parameter (sigma 0.001 or
less) is applied to the vectors at its value, and the tool warns when the project leaves one free.
--bias-from applies instead the bias values a torvek run estimated (its output data set exported
as JSON): a parameter held with sigma 0.001 is a weighted constraint, which the data may pull off
its value on a large network, so that the peer then solves exactly torvek's problem."""
import json
import math
import os
import sys
import tempfile
from xml.sax.saxutils import escape

# Ellipsoids of the project format: semi-major axis (m) and inverse flattening.
ELLIPSOIDS = {"WGS84": (6378137.0, 298.257223563), "GRS80": (6378137.0, 298.257222101)}
PEER_ELLIPSOID_IDS = {"WGS84": "wgs84", "GRS80": "grs80"}
MINIMUM_SIGMA = 0.001  # metres; torvek weighs no vector or constraint sigma below this
HELD_BIAS_SIGMA = 0.001  # a datum bias sigma in (0, this] holds the parameter at its value
NEUTRAL_WEIGHT_DIVISOR = 2  # weights are multiplied by 2 / weightDivisor, smaller ones count as 2
MM2_PER_M2 = 1e6
ARC_SECONDS_PER_RADIAN = 180.0 * 3600.0 / math.pi
PPM = 1e6  # parts per million
BIAS_NAMES = ("rotationNorth", "rotationEast", "rotationUp", "scale")
# The data set stores every adjusted bias value (and sigma) this much above the computed one, and
# the export passes the stored values on.
BIAS_STORAGE_OFFSET = 0.0001


def strip_comments(text):
    """The project format allows // and /* */ comments outside strings."""
    out, k, n, in_string = [], 0, len(text), False
    while k < n:
        c = text[k]
        if in_string:
            out.append(c)
            if c == "\\" and k + 1 < n:
                out.append(text[k + 1])
                k += 1
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
            out.append(c)
        elif text.startswith("//", k):
            k = text.find("\n", k)
            k = n if k < 0 else k - 1
        elif text.startswith("/*", k):
            end = text.find("*/", k + 2)
            k = n if end < 0 else end + 1
        else:
            out.append(c)
        k += 1
    return "".join(out)


def ellipsoid_of(settings):
    """(a in metres, inverse flattening, the peer's id or None)."""
    e = settings.get("ellipsoid", "WGS84")
    if isinstance(e, dict):
        return float(e["semiMajorAxis"]), float(e["inverseFlattening"]), None
    return ELLIPSOIDS[e.upper()] + (PEER_ELLIPSOID_IDS[e.upper()],)


def cartesian(latitude, longitude, height, a, inverse_flattening):
    """Earth-centred X, Y, Z (m) of geodetic latitude, longitude (degrees), height (m)."""
    f = 1.0 / inverse_flattening
    e2 = f * (2.0 - f)
    b, l = math.radians(latitude), math.radians(longitude)
    n = a / math.sqrt(1.0 - e2 * math.sin(b) ** 2)
    return ((n + height) * math.cos(b) * math.cos(l), (n + height) * math.cos(b) * math.sin(l),
            (n * (1.0 - e2) + height) * math.sin(b))


def local_frame(latitude, longitude):
    """Rows: the north, east and up unit vectors at a point (degrees), in Earth-centred axes."""
    b, l = math.radians(latitude), math.radians(longitude)
    sb, cb, sl, cl = math.sin(b), math.cos(b), math.sin(l), math.cos(l)
    return [[-sb * cl, -sb * sl, cb], [-sl, cl, 0.0], [cb * cl, cb * sl, sb]]


def rotate_back(r, local_variances):
    """R^T diag(v) R: a covariance with variances v along the rows of R, in Earth-centred axes."""
    return [[sum(r[k][i] * local_variances[k] * r[k][j] for k in range(3)) for j in range(3)]
            for i in range(3)]


def site_position(site):
    """(latitude, longitude, ellipsoidal height) of a site in any of the project's forms."""
    if "x" in site:
        raise ValueError("site %r: give it by latitude and longitude (export the data set that "
                         "torvek-front import makes of the project)" % site["name"])
    height = site.get("ellipsoidalHeight")
    if height is None:
        height = site["elevation"] + site.get("geoidHeight", 0.0)
    return site["latitude"], site["longitude"], height


def held_components(site):
    fixed = site.get("fixed", False)
    if isinstance(fixed, bool):
        return fixed, fixed, fixed
    return (bool(fixed.get("latitude")), bool(fixed.get("longitude")),
            bool(fixed.get("elevation")))


def constraint_sigmas(site):
    """The site's constraint sigmas (m) as torvek weighs them, or None."""
    sigmas = site.get("sigmas")
    if not sigmas:
        return None
    values = [sigmas.get(k, 0.0) for k in ("latitude", "longitude", "elevation")]
    if not any(values):
        return None
    if not all(values):
        raise ValueError("site %r: the peer takes a constraint on all three coordinates or none"
                         % site["name"])
    return [max(v, MINIMUM_SIGMA) for v in values]


def vector_covariance(vector):
    """The vector's Earth-centred covariance (m^2) as the data set holds it."""
    if "covariance" in vector:
        m = vector["covariance"]["matrix"]
        scale = 1.0 / MM2_PER_M2 if vector["covariance"].get("unit") == "mm2" else 1.0
        if len(m[1]) == 2:  # upper triangle
            m = [m[0], [m[0][1]] + m[1], [m[0][2], m[1][1], m[2][0]]]
        c = [[m[i][j] * scale for j in range(3)] for i in range(3)]
        raw = [math.sqrt(c[i][i]) for i in range(3)]
        r = [c[0][1] / (raw[0] * raw[1]), c[0][2] / (raw[0] * raw[2]),
             c[1][2] / (raw[1] * raw[2])]
        sigmas = [max(s, MINIMUM_SIGMA) for s in raw]
    else:
        s = vector["sigmas"]
        sigmas = [max(s[k], MINIMUM_SIGMA) for k in ("x", "y", "z")]
        keys = ("xy", "xz", "yz")
        if "covariances" in vector:
            cov = [vector["covariances"][k] for k in keys]
            r = [cov[0] / (sigmas[0] * sigmas[1]), cov[1] / (sigmas[0] * sigmas[2]),
                 cov[2] / (sigmas[1] * sigmas[2])]
            if any(abs(v) > 1.0 for v in r):  # the program drops covariances beyond the sigmas
                r = [0.0, 0.0, 0.0]
        else:
            r = [vector.get("correlations", {}).get(k, 0.0) for k in keys]
    rho = [[1.0, r[0], r[1]], [r[0], 1.0, r[2]], [r[1], r[2], 1.0]]
    return [[rho[i][j] * sigmas[i] * sigmas[j] for j in range(3)] for i in range(3)]


def torvek_weighting(covariance, r0):
    """The covariance torvek weighs with: the variances along the reference frame's axes only."""
    local = [sum(r0[k][i] * covariance[i][j] * r0[k][j] for i in range(3) for j in range(3))
             for k in range(3)]
    return rotate_back(r0, local)


def reference_point(project, sites):
    """The project's reference point, or the middle of the sites in use as the import takes it."""
    given = project.get("settings", {}).get("referencePoint")
    if given:
        return given["latitude"], given["longitude"]
    first = sites[0]["longitude"]
    latitude = sum(s["latitude"] for s in sites) / len(sites)
    # Longitudes relative to the first site, so that a network across the 180th meridian does not
    # average to the far side of the Earth.
    offsets = [math.remainder(s["longitude"] - first, 360.0) for s in sites]
    longitude = first + sum(offsets) / len(sites)
    if abs(longitude) > 180.0:
        longitude -= math.copysign(360.0, longitude)
    return latitude, longitude


def held_biases(settings):
    """The datum bias values (rotations about north, east, up in arc seconds, scale in ppm) that
    the project holds, 0 for the others, and a warning for each one it leaves free."""
    values, warnings = [], []
    for name in BIAS_NAMES:
        bias = settings.get("datumBias", {}).get(name, {})
        sigma = bias.get("sigma", 0.0)
        if 0.0 < sigma <= HELD_BIAS_SIGMA:
            values.append(bias.get("value", 0.0))
            continue
        values.append(0.0)
        warnings.append("datum bias %s is not held (sigma %g): unless the control is too weak "
                        "to carry it, torvek estimates it and the peer has no such parameter"
                        % (name, sigma))
    return values, warnings


def with_bias(d, biases, r0):
    """The vector d (m) as torvek models it with held bias values: t + (omega x t) + scale t,
    t the vector along the reference point's north, east and up axes."""
    if not any(biases):
        return d
    t = [sum(r0[k][i] * d[i] for i in range(3)) for k in range(3)]
    w = [b / ARC_SECONDS_PER_RADIAN for b in biases[:3]]
    s = biases[3] / PPM
    c = [w[1] * t[2] - w[2] * t[1] + s * t[0], w[2] * t[0] - w[0] * t[2] + s * t[1],
         w[0] * t[1] - w[1] * t[0] + s * t[2]]
    return [d[i] + sum(r0[k][i] * c[k] for k in range(3)) for i in range(3)]


def estimated_biases(results):
    """The bias values (arc seconds, ppm) a torvek run computed, from its exported results."""
    stored = results["results"]["datumBias"]
    return [stored[name]["value"] - BIAS_STORAGE_OFFSET for name in BIAS_NAMES]


def g3_document(project, cartesian_weights, biases=None):
    settings = project.get("settings", {})
    a, inverse_flattening, peer_id = ellipsoid_of(settings)
    # torvek leaves out a site that no vector in use reaches; the peer would find it undetermined.
    reached = {v[end].casefold() for v in project.get("vectors", []) if v.get("inUse", True)
               for end in ("from", "to")}
    sites = [s for s in project["sites"]
             if s.get("inUse", True) and s["name"].casefold() in reached]
    # Vector ends name their sites ignoring case; the peer's points need the site's own name.
    names = {s["name"].casefold(): s["name"] for s in sites}
    r0 = local_frame(*reference_point(project, sites))
    scale = settings.get("vectorSigmaScale", 1.0) ** 2
    held, warnings = held_biases(settings)
    if biases is None:
        biases = held
    else:
        warnings = []

    out = ['<?xml version="1.0" ?>',
           '<gnu-gama-data xmlns="http://www.gnu.org/software/gama/gnu-gama-data">',
           "<text>%s</text>" % escape(project.get("title", "")), "<g3-model>", "<constants>",
           # A priori unit weight 1 mm with covariances in mm^2: the weights are the inverse
           # covariances, as in torvek.
           "<apriori-standard-deviation>1</apriori-standard-deviation>",
           "<confidence-level>%r</confidence-level>" % (settings.get("confidenceLevel", 95.0) /
                                                       100.0),
           # The peer drops a vector whose misclosure at the a-priori positions exceeds this
           # (mm); torvek drops none.
           "<tol-abs>1e9</tol-abs>", "<angular-units-degrees/>",
           "<ellipsoid><id>%s</id></ellipsoid>" % peer_id if peer_id else
           "<ellipsoid><a>%r</a><inv-f>%r</inv-f></ellipsoid>" % (a, inverse_flattening),
           "</constants>", "<free> <n/> <e/> <u/> </free>"]
    constraints = []
    for site in sites:
        latitude, longitude, height = site_position(site)
        xyz = cartesian(latitude, longitude, height, a, inverse_flattening)
        held_n, held_e, held_u = held_components(site)
        if held_n != held_e:
            raise ValueError("site %r: the peer holds latitude and longitude together only"
                             % site["name"])
        status = ("<n/><e/>" if held_n else "") + ("<u/>" if held_u else "")
        out.append("<point><id>%s</id><x>%.6f</x><y>%.6f</y><z>%.6f</z>%s</point>" % (
            escape(site["name"]), *xyz, "<fixed>%s</fixed>" % status if status else ""))
        sigmas = constraint_sigmas(site)
        if sigmas and not (held_n and held_u):
            covariance = rotate_back(local_frame(latitude, longitude), [s * s for s in sigmas])
            constraints.append((site["name"], xyz, covariance))

    def cov_mat(c):
        values = " ".join("<flt>%r</flt>" % (c[i][j] * MM2_PER_M2) for i in range(3)
                          for j in range(i, 3))
        return "<cov-mat><dim>3</dim><band>2</band>%s</cov-mat>" % values

    for name, xyz, covariance in constraints:
        out.append("<obs><xyz><id>%s</id><x>%.6f</x><y>%.6f</y><z>%.6f</z></xyz>%s</obs>" % (
            escape(name), *xyz, cov_mat(covariance)))
    for vector in project.get("vectors", []):
        if not vector.get("inUse", True):
            continue
        ends = [names.get(vector[end].casefold()) for end in ("from", "to")]
        if None in ends:
            continue
        covariance = vector_covariance(vector)
        if not cartesian_weights:
            covariance = torvek_weighting(covariance, r0)
        factor = scale * max(vector.get("weightDivisor", NEUTRAL_WEIGHT_DIVISOR),
                             NEUTRAL_WEIGHT_DIVISOR) / NEUTRAL_WEIGHT_DIVISOR
        covariance = [[c * factor for c in row] for row in covariance]
        d = with_bias([vector["dX"], vector["dY"], vector["dZ"]], biases, r0)
        out.append("<obs><vector><from>%s</from><to>%s</to><dx>%r</dx><dy>%r</dy><dz>%r</dz>"
                   "</vector>%s</obs>" % (escape(ends[0]), escape(ends[1]), *d,
                                          cov_mat(covariance)))
    out += ["</g3-model>", "</gnu-gama-data>", ""]
    return "\n".join(out), warnings


def write_replacing(path, text):
    """Writes through a temporary in the target's folder, renamed into place when complete."""
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".write_gama_g3.")
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as f:
            f.write(text)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def main(argv):
    args = [a for a in argv if a != "--cartesian"]
    bias_source = None
    if "--bias-from" in args[:-1]:
        at = args.index("--bias-from")
        bias_source = args[at + 1]
        del args[at:at + 2]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 1
    source, target = args
    if os.path.exists(target) and os.path.samefile(source, target):
        print("write_gama_g3: the output would replace the project", file=sys.stderr)
        return 1
    try:
        with open(source, encoding="utf-8") as f:
            project = json.loads(strip_comments(f.read()))
        biases = None
        if bias_source:
            with open(bias_source, encoding="utf-8") as f:
                biases = estimated_biases(json.load(f))
        text, warnings = g3_document(project, "--cartesian" in argv, biases)
    except (OSError, ValueError, KeyError, TypeError) as error:
        print("write_gama_g3: %s: %r" % (source, error), file=sys.stderr)
        return 1
    for line in warnings:
        print("write_gama_g3: warning: " + line, file=sys.stderr)
    write_replacing(target, text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
