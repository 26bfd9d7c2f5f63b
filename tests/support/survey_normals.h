#pragma once
// Normal equations that look like those of a GPS network, and an independent double-precision
// solution of them, for the solver's tests and benchmark. Header-only so that the benchmark can
// use it as well.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace torvek::testing {

/// Packed single-precision upper triangle (row by row) and right-hand side of order n.
struct PackedSystem {
    int n = 0;
    std::vector<float> packed;
    std::vector<double> rhs;
};

inline std::size_t packedAt(int n, int i, int j) {  // 0-based, i <= j
    return static_cast<std::size_t>(i) * n - static_cast<std::size_t>(i) * (i + 1) / 2 +
           static_cast<std::size_t>(j);
}

/// A synthetic network with n unknowns (n >= 7): sites on a jittered grid about 5 km apart, each
/// joined by vectors to its east, north and (every other site) north-east neighbour; three
/// equations per vector along the reference point's north, east and up, with the site
/// coefficients of slightly tilted local frames and the four datum bias unknowns (rotations in
/// arc seconds, scale in ppm) last; vector sigmas 5 mm + 1 ppm horizontally and twice that up;
/// three corner sites weighted in position at controlSigma metres (1 cm by default; a weaker
/// control raises the condition number), and loose a-priori constraints on the biases.
/// Unknowns are numbered site by site, north, east, up, so the matrix is banded with dense bias
/// rows, as the engine builds it; up components of the last sites are held fixed to reach exactly n
/// unknowns.
inline PackedSystem makeSurveyNormals(int n, std::uint32_t seed, double controlSigma = 0.01) {
    const int sites = (n - 4 + 2) / 3;
    const int fixedUps = 3 * sites - (n - 4);
    const int width = std::max(2, static_cast<int>(std::ceil(std::sqrt(sites))));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-1500.0, 1500.0);
    std::normal_distribution<double> gauss(0.0, 1.0);

    std::vector<double> east(sites), north(sites), up(sites);
    for (int s = 0; s < sites; ++s) {
        east[s] = (s % width) * 5000.0 + jitter(rng);
        north[s] = (s / width) * 5000.0 + jitter(rng);
        up[s] = 0.1 * jitter(rng);
    }
    std::vector<int> unknowns(3 * static_cast<std::size_t>(sites));  // -1: held fixed
    for (int s = 0, next = 0; s < sites; ++s) {
        for (int c = 0; c < 3; ++c) {
            unknowns[3 * s + c] = c == 2 && s >= sites - fixedUps ? -1 : next++;
        }
    }
    auto unknown = [&](int site, int component) { return unknowns[3 * site + component]; };
    std::vector<double> full(static_cast<std::size_t>(n) * n, 0.0);
    std::vector<double> rhs(n, 0.0);
    auto addEquation = [&](const std::vector<std::pair<int, double>>& terms, double misclosure,
                           double weight) {
        for (const auto& [ua, ca] : terms) {
            if (ua < 0) {
                continue;
            }
            for (const auto& [ub, cb] : terms) {
                if (ub >= 0) {
                    full[static_cast<std::size_t>(ua) * n + ub] += ca * cb * weight;
                }
            }
            rhs[ua] -= ca * weight * misclosure;
        }
    };
    // Local frame of a site relative to the reference point: small rotations about north and
    // east by the angles the site's offset subtends at the earth's centre.
    auto frame = [&](int s, int b, int a) {  // component b of the site axis along reference axis a
        const double tiltN = east[s] / 6.371e6, tiltE = -north[s] / 6.371e6;
        const double m[3][3] = {{1.0, 0.0, tiltE}, {0.0, 1.0, -tiltN}, {-tiltE, tiltN, 1.0}};
        return m[b][a];
    };
    constexpr double rho = 206264.80624709636;  // arc seconds per radian
    const int bias = n - 4;
    auto addVector = [&](int from, int to) {
        const double t[3] = {north[to] - north[from], east[to] - east[from], up[to] - up[from]};
        const double length = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
        const double sigmaH = 0.005 + 1e-6 * length;
        const double biasCoef[3][4] = {{0.0, -t[2] / rho, t[1] / rho, -t[0] / 1e6},
                                       {t[2] / rho, 0.0, -t[0] / rho, -t[1] / 1e6},
                                       {-t[1] / rho, t[0] / rho, 0.0, -t[2] / 1e6}};
        for (int a = 0; a < 3; ++a) {
            std::vector<std::pair<int, double>> terms;
            for (int b = 0; b < 3; ++b) {
                terms.emplace_back(unknown(from, b), -frame(from, b, a));
            }
            for (int b = 0; b < 3; ++b) {
                terms.emplace_back(unknown(to, b), frame(to, b, a));
            }
            for (int k = 0; k < 4; ++k) {
                terms.emplace_back(bias + k, biasCoef[a][k]);
            }
            const double sigma = a == 2 ? 2.0 * sigmaH : sigmaH;
            addEquation(terms, sigma * gauss(rng), 1.0 / (sigma * sigma));
        }
    };
    for (int s = 0; s < sites; ++s) {
        const bool lastColumn = s % width == width - 1;
        if (!lastColumn && s + 1 < sites) {
            addVector(s, s + 1);
        }
        if (s + width < sites) {
            addVector(s, s + width);
        }
        if (!lastColumn && s % 2 == 0 && s + width + 1 < sites) {
            addVector(s, s + width + 1);
        }
    }
    for (int s : {0, width - 1 < sites ? width - 1 : sites - 1, sites - 1}) {
        for (int c = 0; c < 3; ++c) {
            addEquation({{unknown(s, c), 1.0}}, controlSigma * gauss(rng),
                        1.0 / (controlSigma * controlSigma));
        }
    }
    // Loose a-priori bias constraints (10 arc seconds, 10 ppm) keep small networks determined.
    for (int k = 0; k < 4; ++k) {
        addEquation({{bias + k, 1.0}}, 0.0, 0.01);
    }
    PackedSystem out{n, std::vector<float>(static_cast<std::size_t>(n) * (n + 1) / 2), rhs};
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            out.packed[packedAt(n, i, j)] =
                static_cast<float>(full[static_cast<std::size_t>(i) * n + j]);
        }
    }
    return out;
}

/// A dense symmetric positive definite matrix, B^T B / n + I / 2 with B uniform in [-1, 1]:
/// no zeros anywhere, so every product of every kernel counts.
inline PackedSystem makeDenseNormals(int n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> b(static_cast<std::size_t>(n) * n);
    for (double& v : b) {
        v = uniform(rng);
    }
    PackedSystem out{n, std::vector<float>(static_cast<std::size_t>(n) * (n + 1) / 2),
                     std::vector<double>(n)};
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            double s = i == j ? 0.5 : 0.0;
            for (int k = 0; k < n; ++k) {
                s += b[static_cast<std::size_t>(k) * n + i] *
                     b[static_cast<std::size_t>(k) * n + j] / n;
            }
            out.packed[packedAt(n, i, j)] = static_cast<float>(s);
        }
        out.rhs[i] = uniform(rng);
    }
    return out;
}

/// Solution of the same system in double precision by a dense Cholesky factorisation of the
/// full matrix (the float elements taken exactly), written independently of the solver.
struct DoubleSolution {
    std::vector<double> x;        // N^-1 u
    std::vector<double> inverse;  // full N^-1, n x n row-major; filled only on request
};

inline bool solveInDouble(const PackedSystem& system, bool wantInverse, DoubleSolution& out) {
    const int n = system.n;
    auto idx = [n](int i, int j) { return static_cast<std::size_t>(i) * n + j; };
    std::vector<double> l(static_cast<std::size_t>(n) * n, 0.0);  // lower factor, N = L L^T
    for (int j = 0; j < n; ++j) {
        double d = system.packed[packedAt(n, j, j)];
        for (int k = 0; k < j; ++k) {
            d -= l[idx(j, k)] * l[idx(j, k)];
        }
        if (!(d > 0.0)) {
            return false;
        }
        l[idx(j, j)] = std::sqrt(d);
        for (int i = j + 1; i < n; ++i) {
            double s = system.packed[packedAt(n, j, i)];
            for (int k = 0; k < j; ++k) {
                s -= l[idx(i, k)] * l[idx(j, k)];
            }
            l[idx(i, j)] = s / l[idx(j, j)];
        }
    }
    auto solve = [&](std::vector<double> v) {
        for (int i = 0; i < n; ++i) {
            for (int k = 0; k < i; ++k) {
                v[i] -= l[idx(i, k)] * v[k];
            }
            v[i] /= l[idx(i, i)];
        }
        for (int i = n - 1; i >= 0; --i) {
            for (int k = i + 1; k < n; ++k) {
                v[i] -= l[idx(k, i)] * v[k];
            }
            v[i] /= l[idx(i, i)];
        }
        return v;
    };
    out.x = solve(system.rhs);
    out.inverse.clear();
    if (wantInverse) {
        // W = L^-1 row by row, then N^-1 = W^T W as a sum of outer products of W's rows.
        std::vector<double> w(static_cast<std::size_t>(n) * n, 0.0);
        for (int i = 0; i < n; ++i) {
            double* wi = &w[idx(i, 0)];
            for (int k = 0; k < i; ++k) {
                const double f = l[idx(i, k)];
                const double* wk = &w[idx(k, 0)];
                for (int j = 0; j <= k; ++j) {
                    wi[j] -= f * wk[j];
                }
            }
            const double d = l[idx(i, i)];
            for (int j = 0; j < i; ++j) {
                wi[j] /= d;
            }
            wi[i] = 1.0 / d;
        }
        out.inverse.assign(static_cast<std::size_t>(n) * n, 0.0);
        for (int k = 0; k < n; ++k) {
            const double* wk = &w[idx(k, 0)];
            for (int i = 0; i <= k; ++i) {
                double* qi = &out.inverse[idx(i, 0)];
                const double f = wk[i];
                for (int j = i; j <= k; ++j) {
                    qi[j] += f * wk[j];
                }
            }
        }
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < i; ++j) {
                out.inverse[idx(i, j)] = out.inverse[idx(j, i)];
            }
        }
    }
    return true;
}

/// How far a single-precision solution is from the double-precision one, each as the largest
/// error over all unknowns: x relative to the largest |x|, standard deviations relative to their
/// own value, elements of the inverse relative to sqrt(Q_ii Q_jj).
struct SolutionErrors {
    double x = 0.0, sigma = 0.0, inverse = 0.0;
};

inline SolutionErrors compareWithDouble(int n, const DoubleSolution& exact,
                                        const std::vector<double>& x, const std::vector<double>& q,
                                        const std::vector<float>& fullInverse) {
    SolutionErrors e;
    double xScale = 0.0;
    for (double v : exact.x) {
        xScale = std::max(xScale, std::abs(v));
    }
    for (int i = 0; i < n; ++i) {
        const double qi = exact.inverse[static_cast<std::size_t>(i) * n + i];
        e.x = std::max(e.x, std::abs(x[i] - exact.x[i]) / xScale);
        e.sigma = std::max(e.sigma, std::abs(std::sqrt(q[i]) - std::sqrt(qi)) / std::sqrt(qi));
        for (int j = i; j < n; ++j) {
            const double qj = exact.inverse[static_cast<std::size_t>(j) * n + j];
            const double d =
                fullInverse[packedAt(n, i, j)] - exact.inverse[static_cast<std::size_t>(i) * n + j];
            e.inverse = std::max(e.inverse, std::abs(d) / std::sqrt(qi * qj));
        }
    }
    return e;
}

/// Condition number of the (float) matrix in the 2-norm, from the largest eigenvalues of N and of
/// its double-precision inverse by power iteration.
inline double conditionNumber(const PackedSystem& system, const DoubleSolution& exact) {
    const int n = system.n;
    auto largestEigenvalue = [n](auto element) {
        std::vector<double> v(n, 1.0), w(n);
        double lambda = 0.0;
        for (int iteration = 0; iteration < 200; ++iteration) {
            double norm = 0.0;
            for (int i = 0; i < n; ++i) {
                double s = 0.0;
                for (int j = 0; j < n; ++j) {
                    s += element(i, j) * v[j];
                }
                w[i] = s;
                norm += s * s;
            }
            norm = std::sqrt(norm);
            double vNorm = 0.0;
            for (double c : v) {
                vNorm += c * c;
            }
            lambda = norm / std::sqrt(vNorm);
            for (int i = 0; i < n; ++i) {
                v[i] = w[i] / norm;
            }
        }
        return lambda;
    };
    const double big = largestEigenvalue([&](int i, int j) {
        return static_cast<double>(system.packed[i <= j ? packedAt(n, i, j) : packedAt(n, j, i)]);
    });
    const double inverseBig = largestEigenvalue(
        [&](int i, int j) { return exact.inverse[static_cast<std::size_t>(i) * n + j]; });
    return big * inverseBig;
}

}  // namespace torvek::testing
