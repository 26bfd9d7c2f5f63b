#include "support/rigorous_reference.h"

#include <cmath>
#include <stdexcept>

namespace torvek::testing {
namespace {

// Dense symmetric inverse by Gauss-Jordan elimination with partial pivoting, n x n row by row.
std::vector<double> inverse(std::vector<double> a, int n) {
    std::vector<double> b(static_cast<std::size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        b[i * n + i] = 1;
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c]))
                pivot = r;
        if (a[pivot * n + c] == 0)
            throw std::runtime_error("singular");
        for (int k = 0; k < n; ++k) {
            std::swap(a[c * n + k], a[pivot * n + k]);
            std::swap(b[c * n + k], b[pivot * n + k]);
        }
        const double d = a[c * n + c];
        for (int k = 0; k < n; ++k) {
            a[c * n + k] /= d;
            b[c * n + k] /= d;
        }
        for (int r = 0; r < n; ++r) {
            if (r == c)
                continue;
            const double f = a[r * n + c];
            for (int k = 0; k < n; ++k) {
                a[r * n + k] -= f * a[c * n + k];
                b[r * n + k] -= f * b[c * n + k];
            }
        }
    }
    return b;
}

}  // namespace

Cov3 RigorousReference::block(int i, int j) const {
    Cov3 q{};
    const int n = static_cast<int>(std::sqrt(static_cast<double>(qxx.size())) + 0.5);
    if (firstUnknown[i] < 0 || firstUnknown[j] < 0)
        return q;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            q[3 * r + c] = qxx[(firstUnknown[i] + r) * n + firstUnknown[j] + c];
    return q;
}

RigorousReference solveRigorousReference(const std::vector<Triple>& start,
                                         const std::vector<bool>& free,
                                         const std::vector<ReferenceVector>& vectors,
                                         double delta0) {
    RigorousReference out;
    const int sites = static_cast<int>(start.size());
    int n = 0;
    for (int i = 0; i < sites; ++i) {
        out.firstUnknown.push_back(free[i] ? n : -1);
        n += free[i] ? 3 : 0;
    }
    const int m = 3 * static_cast<int>(vectors.size());
    // Design A (m x n), misclosures l = observed - (to - from) at the start, weights P (m x m).
    std::vector<double> a(static_cast<std::size_t>(m) * n, 0.0), l(m),
        p(static_cast<std::size_t>(m) * m, 0.0);
    for (int k = 0; k < static_cast<int>(vectors.size()); ++k) {
        const ReferenceVector& v = vectors[k];
        const std::vector<double> pk =
            inverse(std::vector<double>(v.covariance.begin(), v.covariance.end()), 3);
        for (int r = 0; r < 3; ++r) {
            const int row = 3 * k + r;
            if (out.firstUnknown[v.to] >= 0)
                a[row * n + out.firstUnknown[v.to] + r] += 1;
            if (out.firstUnknown[v.from] >= 0)
                a[row * n + out.firstUnknown[v.from] + r] -= 1;
            l[row] = v.observed[r] - (start[v.to][r] - start[v.from][r]);
            for (int c = 0; c < 3; ++c)
                p[row * m + 3 * k + c] = pk[3 * r + c];
        }
    }
    // N = A^T P A, u = A^T P l.
    std::vector<double> pa(static_cast<std::size_t>(m) * n, 0.0),
        normal(static_cast<std::size_t>(n) * n, 0.0), u(n, 0.0);
    for (int i = 0; i < m; ++i)
        for (int k = 0; k < m; ++k)
            if (p[i * m + k] != 0)
                for (int j = 0; j < n; ++j)
                    pa[i * n + j] += p[i * m + k] * a[k * n + j];
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < m; ++k) {
            for (int j = 0; j < n; ++j)
                normal[i * n + j] += a[k * n + i] * pa[k * n + j];
            u[i] += pa[k * n + i] * l[k];
        }
    out.qxx = inverse(normal, n);
    std::vector<double> x(n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            x[i] += out.qxx[i * n + j] * u[j];
    out.xyz = start;
    for (int i = 0; i < sites; ++i)
        for (int c = 0; c < 3 && out.firstUnknown[i] >= 0; ++c)
            out.xyz[i][c] += x[out.firstUnknown[i] + c];
    // v = A x - l; Qvv = C - A Qxx A^T with C = P^-1.
    std::vector<double> v(m, 0.0), c = inverse(p, m), qvv = c;
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < n; ++j)
            v[i] += a[i * n + j] * x[j];
        v[i] -= l[i];
    }
    std::vector<double> aq(static_cast<std::size_t>(m) * n, 0.0);
    for (int i = 0; i < m; ++i)
        for (int k = 0; k < n; ++k)
            for (int j = 0; j < n; ++j)
                aq[i * n + j] += a[i * n + k] * out.qxx[k * n + j];
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < m; ++j)
            for (int k = 0; k < n; ++k)
                qvv[i * m + j] -= aq[i * n + k] * a[j * n + k];
    double vpv = 0;
    std::vector<double> pv(m, 0.0);
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < m; ++j)
            pv[i] += p[i * m + j] * v[j];
        vpv += v[i] * pv[i];
    }
    out.degreesOfFreedom = m - n;
    out.posteriorSigma0 = std::sqrt(vpv / out.degreesOfFreedom);
    // Diagonals of Qvv P and P Qvv P.
    std::vector<double> qvvp(static_cast<std::size_t>(m) * m, 0.0);
    for (int i = 0; i < m; ++i)
        for (int k = 0; k < m; ++k)
            if (qvv[i * m + k] != 0)
                for (int j = 0; j < m; ++j)
                    qvvp[i * m + j] += qvv[i * m + k] * p[k * m + j];
    out.vectors.resize(vectors.size());
    for (int i = 0; i < m; ++i) {
        double pqp = 0;
        for (int k = 0; k < m; ++k)
            pqp += p[i * m + k] * qvvp[k * m + i];
        ReferenceComponent& rc = out.vectors[i / 3][i % 3];
        rc.residual = v[i];
        rc.redundancy = qvvp[i * m + i];
        rc.standardized = pv[i] / std::sqrt(pqp);
        rc.studentized = rc.standardized / out.posteriorSigma0;
        rc.mdb = delta0 / std::sqrt(pqp);
        out.redundancySum += rc.redundancy;
    }
    return out;
}

}  // namespace torvek::testing
