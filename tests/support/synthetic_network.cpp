#include "support/synthetic_network.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace torvek::testing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kRho = 180.0 * 3600.0 / 3.14159265358979323846;  // arc seconds per radian

double meridianRadiusAt(double a, double e2, double phi) {
    double w = std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
    return a * (1 - e2) / (w * w * w);
}

double primeRadiusAt(double a, double e2, double phi) {
    return a / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
}

// Geodetic start position of a site: the truth moved by its start offset (north, east, up metres).
Triple startPosition(const SyntheticNetwork& net, const SyntheticSite& s) {
    double f = 1 / net.inverseFlattening;
    double e2 = f * (2 - f);
    double phi = s.latitude * kDegree;
    double m = meridianRadiusAt(net.semiMajorAxis, e2, phi) + s.height;
    double n = (primeRadiusAt(net.semiMajorAxis, e2, phi) + s.height) * std::cos(phi);
    return {s.latitude + s.startOffset[0] / m / kDegree,
            s.longitude + s.startOffset[1] / n / kDegree, s.height + s.startOffset[2]};
}

// Solves the symmetric positive definite system in place (dense Cholesky); returns the inverse.
std::vector<double> solveDense(std::vector<double> n, std::vector<double>& rhs, int size) {
    auto at = [&](int i, int j) -> double& { return n[std::size_t(i) * size + j]; };
    for (int j = 0; j < size; ++j) {
        double d = at(j, j);
        for (int k = 0; k < j; ++k)
            d -= at(j, k) * at(j, k);
        if (d <= 0)
            throw std::runtime_error("reference normal matrix is singular");
        at(j, j) = std::sqrt(d);
        for (int i = j + 1; i < size; ++i) {
            double v = at(i, j);
            for (int k = 0; k < j; ++k)
                v -= at(i, k) * at(j, k);
            at(i, j) = v / at(j, j);
        }
    }
    auto solveWith = [&](std::vector<double>& b) {
        for (int i = 0; i < size; ++i) {
            for (int k = 0; k < i; ++k)
                b[i] -= at(i, k) * b[k];
            b[i] /= at(i, i);
        }
        for (int i = size - 1; i >= 0; --i) {
            for (int k = i + 1; k < size; ++k)
                b[i] -= at(k, i) * b[k];
            b[i] /= at(i, i);
        }
    };
    solveWith(rhs);
    std::vector<double> inverse(std::size_t(size) * size);
    for (int c = 0; c < size; ++c) {
        std::vector<double> e(size, 0.0);
        e[c] = 1;
        solveWith(e);
        for (int r = 0; r < size; ++r)
            inverse[std::size_t(r) * size + c] = e[r];
    }
    return inverse;
}

}  // namespace

std::array<Triple, 3> localAxes(double latitudeDegrees, double longitudeDegrees) {
    double p = latitudeDegrees * kDegree, l = longitudeDegrees * kDegree;
    // Rows X, Y, Z; columns north, east, up.
    return {{{-std::sin(p) * std::cos(l), -std::sin(l), std::cos(p) * std::cos(l)},
             {-std::sin(p) * std::sin(l), std::cos(l), std::cos(p) * std::sin(l)},
             {std::cos(p), 0.0, std::sin(p)}}};
}

Triple geodeticToCartesian(double latitudeDegrees, double longitudeDegrees, double height,
                           double semiMajorAxis, double inverseFlattening) {
    double f = 1 / inverseFlattening;
    double e2 = f * (2 - f);
    double p = latitudeDegrees * kDegree, l = longitudeDegrees * kDegree;
    double n = primeRadiusAt(semiMajorAxis, e2, p);
    return {(n + height) * std::cos(p) * std::cos(l), (n + height) * std::cos(p) * std::sin(l),
            (n * (1 - e2) + height) * std::sin(p)};
}

Triple SyntheticNetwork::trueCartesian(int k) const {
    const SyntheticSite& s = sites[k];
    return geodeticToCartesian(s.latitude, s.longitude, s.height, semiMajorAxis, inverseFlattening);
}

void SyntheticNetwork::simulate(unsigned seed, double noiseScale) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    auto axes = localAxes(referenceLatitude, referenceLongitude);
    for (SyntheticVector& v : vectors) {
        Triple a = trueCartesian(v.from), b = trueCartesian(v.to);
        Triple noise{};
        for (int k = 0; k < 3; ++k)
            noise[k] = normal(random) * v.localSigma[k] * noiseScale;
        for (int r = 0; r < 3; ++r) {
            v.observed[r] = b[r] - a[r];
            for (int c = 0; c < 3; ++c)
                v.observed[r] += axes[r][c] * noise[c];
        }
    }
}

ProjectDataSet SyntheticNetwork::toDataSet() const {
    ProjectDataSet ds;
    ds.setEllipsoid(semiMajorAxis, inverseFlattening);
    ds.setReferencePoint(referenceLatitude, referenceLongitude);
    ds.setAdjustmentSettings({std::uint8_t(minimallyConstrained ? 1 : 0), confidenceLevel, 1.0});
    ds.setBiasApriori(biasApriori);
    for (const SyntheticSite& s : sites) {
        if (!ds.addSite(s.name.c_str()))
            throw std::runtime_error("no room for site " + s.name);
        Triple start = startPosition(*this, s);
        ds.setSitePosition({start[0], start[1], start[2] - s.geoidHeight, s.geoidHeight});
        ds.setSiteSigmas(s.sigma[0], s.sigma[1], s.sigma[2]);
        ds.setSiteFixed(s.fixed[0], s.fixed[1], s.fixed[2]);
        ds.setSiteInUse(s.inUse ? 1 : 0);
    }
    auto axes = localAxes(referenceLatitude, referenceLongitude);
    for (const SyntheticVector& v : vectors) {
        if (!ds.addVector(sites[v.from].name.c_str(), sites[v.to].name.c_str()))
            throw std::runtime_error("no room for a vector");
        ds.setVectorComponents({v.observed[0], v.observed[1], v.observed[2], v.weightDivisor});
        // Cartesian covariance of uncorrelated local components: R diag(s^2) R^T.
        double q[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                q[r][c] = 0;
                for (int k = 0; k < 3; ++k)
                    q[r][c] += axes[r][k] * v.localSigma[k] * v.localSigma[k] * axes[c][k];
            }
        double s[3] = {std::sqrt(q[0][0]), std::sqrt(q[1][1]), std::sqrt(q[2][2])};
        if (v.covarianceForm) {
            ds.setVectorCovariance({{s[0], s[1], s[2]}, {q[0][1], q[0][2], q[1][2]}});
        } else {
            ds.setVectorCovariance(
                {{s[0], s[1], s[2]},
                 {q[0][1] / (s[0] * s[1]), q[0][2] / (s[0] * s[2]), q[1][2] / (s[1] * s[2])}});
        }
        ds.setVectorInUse(v.inUse ? 1 : 0);
    }
    return ds;
}

void SyntheticNetwork::writeTo(const std::string& path) const {
    if (!toDataSet().writeFile(path))
        throw std::runtime_error("cannot write " + path);
}

SyntheticNetwork ringNetwork(int count, double latitude, double longitude, double radiusMetres) {
    SyntheticNetwork net;
    net.referenceLatitude = latitude;
    net.referenceLongitude = longitude;
    for (int k = 0; k < count; ++k) {
        double angle = 2 * 3.14159265358979323846 * k / count;
        SyntheticSite s;
        char name[16];
        std::snprintf(name, sizeof name, "S%03d", k + 1);
        s.name = name;
        s.latitude = latitude + radiusMetres * std::cos(angle) / 111000.0;
        s.longitude =
            longitude + radiusMetres * std::sin(angle) / (111000.0 * std::cos(latitude * kDegree));
        s.height = 200 + 40 * std::sin(3 * angle);
        net.sites.push_back(s);
    }
    for (int k = 0; k < count; ++k)
        for (int step = 1; step <= 2; ++step) {
            SyntheticVector v;
            v.from = k;
            v.to = (k + step) % count;
            net.vectors.push_back(v);
        }
    return net;
}

SyntheticNetwork zeroLengthNetwork() {
    SyntheticNetwork net;
    net.referenceLatitude = 30;
    net.referenceLongitude = 20;
    for (const char* name : {"AAAA", "BBBB", "CCCC", "DDDD"}) {
        SyntheticSite s;
        s.name = name;
        s.latitude = 30;
        s.longitude = 20;
        s.height = 10;
        net.sites.push_back(s);
    }
    for (int k = 0; k < 3; ++k) {
        fixSite(net.sites[k]);
        SyntheticVector v;
        v.from = k;
        v.to = 3;
        net.vectors.push_back(v);
    }
    net.simulate(4, 0.0);
    return net;
}

SyntheticNetwork duplicateNameNetwork() {
    SyntheticNetwork net = ringNetwork(4, 40.0, -3.0, 1000);
    net.sites[0].name = "S003";
    net.sites[3].name = "S001";
    fixSite(net.sites[3]);
    net.vectors.clear();
    // S001 -> S003 reaches S003 (a); S002 -> S001; S002 -> S003 reaches S003 (b).
    for (auto [from, to] : {std::pair{3, 2}, {1, 3}, {1, 2}}) {
        SyntheticVector v;
        v.from = from;
        v.to = to;
        net.vectors.push_back(v);
    }
    net.simulate(2);
    return net;
}

ReferenceSolution solveReference(const SyntheticNetwork& net, const double biasSigma[4]) {
    const int siteCount = int(net.sites.size());
    double f = 1 / net.inverseFlattening;
    double e2 = f * (2 - f);
    double a = net.semiMajorAxis;
    // Unknown numbering: free site components, then the four bias parameters.
    std::vector<std::array<int, 3>> index(siteCount, {-1, -1, -1});
    int unknowns = 0;
    std::vector<Triple> position(siteCount);  // radians, radians, metres
    for (int k = 0; k < siteCount; ++k) {
        const SyntheticSite& s = net.sites[k];
        Triple start = startPosition(net, s);
        position[k] = {start[0] * kDegree, start[1] * kDegree, start[2]};
        if (!s.inUse)
            continue;
        for (int c = 0; c < 3; ++c)
            if (!s.fixed[c])
                index[k][c] = unknowns++;
    }
    const std::vector<Triple> startValue = position;
    const int biasBase = unknowns;
    unknowns += 4;
    double bias[4] = {0, 0, 0, 0};
    auto axes = localAxes(net.referenceLatitude, net.referenceLongitude);
    auto cartesian = [&](const Triple& p) {
        return geodeticToCartesian(p[0] / kDegree, p[1] / kDegree, p[2], a, net.inverseFlattening);
    };
    auto toLocal = [&](const Triple& d) {
        Triple out{};
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r)
                out[c] += axes[r][c] * d[r];
        return out;
    };

    ReferenceSolution solution;
    std::vector<double> inverse;
    double sum = 0;
    int observations = 0;
    for (int iteration = 0; iteration < 8; ++iteration) {
        std::vector<double> normal(std::size_t(unknowns) * unknowns, 0.0), rhs(unknowns, 0.0);
        sum = 0;
        observations = 0;
        // Adds one equation: residual r(x) = value + sum(jacobian * dx); weight p.
        auto add = [&](const std::vector<std::pair<int, double>>& terms, double value, double p) {
            ++observations;
            sum += p * value * value;
            for (auto [i, ci] : terms) {
                rhs[i] -= p * ci * value;
                for (auto [j, cj] : terms)
                    normal[std::size_t(i) * unknowns + j] += p * ci * cj;
            }
        };
        for (int k = 0; k < siteCount; ++k) {
            const SyntheticSite& s = net.sites[k];
            if (!s.inUse)
                continue;
            const Triple& p = position[k];
            double m = meridianRadiusAt(a, e2, p[0]) + p[2];
            double n = (primeRadiusAt(a, e2, p[0]) + p[2]) * std::cos(p[0]);
            double value[3] = {(p[0] - startValue[k][0]) * m, (p[1] - startValue[k][1]) * n,
                               p[2] - startValue[k][2]};
            double derivative[3] = {m, n, 1.0};
            for (int c = 0; c < 3; ++c)
                if (!s.fixed[c] && s.sigma[c] != 0)
                    add({{index[k][c], derivative[c]}}, value[c], 1 / (s.sigma[c] * s.sigma[c]));
        }
        for (int b = 0; b < 4; ++b)
            if (biasSigma[b] != 0)
                add({{biasBase + b, 1.0}}, bias[b] - net.biasApriori[2 * b],
                    1 / (biasSigma[b] * biasSigma[b]));
        for (const SyntheticVector& v : net.vectors) {
            if (!v.inUse)
                continue;
            const Triple t = toLocal(v.observed);
            auto model = [&](const std::vector<Triple>& pos, const double* w) {
                Triple xi = cartesian(pos[v.from]), xj = cartesian(pos[v.to]);
                Triple r = toLocal({xj[0] - xi[0] - v.observed[0], xj[1] - xi[1] - v.observed[1],
                                    xj[2] - xi[2] - v.observed[2]});
                // -(omega x t)/rho - s t / 1e6
                Triple cross = {w[1] * t[2] - w[2] * t[1], w[2] * t[0] - w[0] * t[2],
                                w[0] * t[1] - w[1] * t[0]};
                for (int c = 0; c < 3; ++c)
                    r[c] += -cross[c] / kRho - w[3] * t[c] / 1e6;
                return r;
            };
            Triple value = model(position, bias);
            std::vector<std::vector<std::pair<int, double>>> terms(3);
            for (int end : {v.from, v.to})
                for (int c = 0; c < 3; ++c) {
                    if (index[end][c] < 0)
                        continue;
                    double step = c == 2 ? 1e-3 : 1e-9;
                    std::vector<Triple> plus = position, minus = position;
                    plus[end][c] += step;
                    minus[end][c] -= step;
                    Triple rp = model(plus, bias), rm = model(minus, bias);
                    for (int e = 0; e < 3; ++e)
                        terms[e].push_back({index[end][c], (rp[e] - rm[e]) / (2 * step)});
                }
            for (int b = 0; b < 4; ++b) {
                double w[4] = {0, 0, 0, 0};
                w[b] = 1;
                double zero[4] = {0, 0, 0, 0};
                Triple with = model(position, w), without = model(position, zero);
                for (int e = 0; e < 3; ++e)
                    terms[e].push_back({biasBase + b, with[e] - without[e]});
            }
            double weightScale = 2.0 / std::max(v.weightDivisor, 2);
            for (int e = 0; e < 3; ++e)
                add(terms[e], value[e], weightScale / (v.localSigma[e] * v.localSigma[e]));
        }
        inverse = solveDense(normal, rhs, unknowns);
        double largest = 0;
        for (int k = 0; k < siteCount; ++k)
            for (int c = 0; c < 3; ++c)
                if (index[k][c] >= 0) {
                    position[k][c] += rhs[index[k][c]];
                    largest = std::max(largest, std::fabs(rhs[index[k][c]]) * (c == 2 ? 1 : 6.4e6));
                }
        for (int b = 0; b < 4; ++b)
            bias[b] += rhs[biasBase + b];
        if (largest < 1e-9 && iteration > 0)
            break;
    }
    solution.observations = observations;
    solution.unknowns = unknowns;
    solution.chiSquare = sum;
    int dof = observations - unknowns;
    solution.unitWeightError = dof > 0 ? std::sqrt(sum / dof) : 1.0;
    for (int k = 0; k < siteCount; ++k) {
        const Triple& p = position[k];
        solution.position.push_back({p[0] / kDegree, p[1] / kDegree, p[2]});
        double m = meridianRadiusAt(a, e2, p[0]) + p[2];
        double n = (primeRadiusAt(a, e2, p[0]) + p[2]) * std::cos(p[0]);
        double scale[3] = {m, n, 1.0};
        Triple sigma{0, 0, 0};
        for (int c = 0; c < 3; ++c)
            if (index[k][c] >= 0)
                sigma[c] = std::sqrt(inverse[std::size_t(index[k][c]) * unknowns + index[k][c]]) *
                           scale[c] * solution.unitWeightError;
        solution.sigma.push_back(sigma);
    }
    for (int b = 0; b < 4; ++b) {
        solution.bias[b] = bias[b];
        solution.biasSigma[b] =
            std::sqrt(inverse[std::size_t(biasBase + b) * unknowns + biasBase + b]) *
            solution.unitWeightError;
    }
    return solution;
}

}  // namespace torvek::testing

namespace torvek::testing {
Triple cartesianToGeodetic(const Triple& xyz, double semiMajorAxis, double inverseFlattening) {
    double f = 1 / inverseFlattening;
    double e2 = f * (2 - f);
    double p = std::hypot(xyz[0], xyz[1]);
    double lon = std::atan2(xyz[1], xyz[0]);
    double lat = std::atan2(xyz[2], p * (1 - e2));
    double h = 0;
    for (int i = 0; i < 20; ++i) {
        double n = semiMajorAxis / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
        h = p / std::cos(lat) - n;
        lat = std::atan2(xyz[2], p * (1 - e2 * n / (n + h)));
    }
    return {lat * 180.0 / 3.14159265358979323846, lon * 180.0 / 3.14159265358979323846, h};
}
}  // namespace torvek::testing
