// The rigorous model's statistics from the selected inverse of the last iteration: residuals,
// redundancy numbers and the single-residual tests per Earth-centred component, the covariance
// and error ellipse of every site, and the relative precision of every pair of sites joined by a
// vector in use.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "engine/adjustment_engine.h"
#include "engine/residual_replay.h"
#include "geodesy/covariance_matrix.h"
#include "geodesy/ellipsoid.h"
#include "report/rigorous_section.h"
#include "stats/distributions.h"
#include "stats/residual_tests.h"

namespace torvek {
namespace {

// Parts per million.
constexpr double kPpm = 1.0e6;
constexpr char kAxisNames[3] = {'x', 'y', 'z'};

// The residual part of one vector before the a-posteriori sigma0 is known: everything in the
// Earth-centred frame at the a-priori sigma0 of 1.
struct VectorResiduals {
    Vector3 v{};                                // residuals
    Matrix3 qvv{};                              // their cofactor matrix
    Matrix3 pqvvp{};                            // P Qvv P
    Vector3 pv{};                               // P v
    Vector3 redundancy{};                       // diag(Qvv P)
    Vector3 localV{}, localPv{}, localPqvvp{};  // the same along the reference north, east, up
};

// The distinct unknowns of a vector's equations and their whitened coefficients.
struct VectorDesign {
    int count = 0;
    int unknown[kVectorEquationTerms];
    double a[3][kVectorEquationTerms];
};

VectorDesign designOf(const EquationRecord (&equations)[3], int unknownCount) {
    VectorDesign d;
    for (int t = 0; t < equations[0].termCount; ++t) {
        const int u = equations[0].terms[t].unknown;
        if (u < 1 || u > unknownCount)
            continue;
        int k = 0;
        while (k < d.count && d.unknown[k] != u)
            ++k;
        if (k == d.count) {
            d.unknown[d.count++] = u;
            for (auto& row : d.a)
                row[k] = 0;
        }
        for (int r = 0; r < 3; ++r)
            d.a[r][k] += equations[r].terms[t].coefficient;
    }
    return d;
}

// I - A Q A^T of the whitened equations: the cofactor matrix of the whitened residuals.
template <typename Inverse>
Matrix3 whitenedResidualCofactor(const VectorDesign& d, const Inverse& inverse) {
    double q[kVectorEquationTerms][kVectorEquationTerms];
    for (int i = 0; i < d.count; ++i)
        for (int j = i; j < d.count; ++j)
            q[i][j] = q[j][i] = inverse(d.unknown[i], d.unknown[j]);
    Matrix3 qvv{};
    for (int r = 0; r < 3; ++r) {
        double aq[kVectorEquationTerms];
        for (int j = 0; j < d.count; ++j) {
            aq[j] = 0;
            for (int i = 0; i < d.count; ++i)
                aq[j] += d.a[r][i] * q[i][j];
        }
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int j = 0; j < d.count; ++j)
                sum += aq[j] * d.a[c][j];
            qvv[3 * r + c] = (r == c ? 1.0 : 0.0) - sum;
        }
    }
    return qvv;
}

Vector3 apply(const Matrix3& m, const Vector3& x) {
    return {m[0] * x[0] + m[1] * x[1] + m[2] * x[2], m[3] * x[0] + m[4] * x[1] + m[5] * x[2],
            m[6] * x[0] + m[7] * x[1] + m[8] * x[2]};
}

// From whitened residuals w (cofactor qw) to the frame where the covariance is T T^T: with
// T = frame L, v = T w, Qvv = T qw T^T, P v = G w and P Qvv P = G qw G^T for G = frame L^-T.
VectorResiduals residualsFrom(const Vector3& w, const Matrix3& qw, const Matrix3& r0,
                              const RigorousVector& weights) {
    VectorResiduals out;
    const Matrix3 t = product(r0, weights.factor);
    const Matrix3 g = product(r0, transposed(weights.inverseFactor));
    out.v = apply(t, w);
    out.qvv = congruence(t, qw);
    out.pv = apply(g, w);
    out.pqvvp = congruence(g, qw);
    const Matrix3 qvvp = product(product(t, qw), transposed(g));
    out.redundancy = {qvvp[0], qvvp[4], qvvp[8]};
    const Matrix3 gl = transposed(weights.inverseFactor);
    out.localV = apply(weights.factor, w);
    out.localPv = apply(gl, w);
    const Matrix3 lp = congruence(gl, qw);
    out.localPqvvp = {lp[0], lp[4], lp[8]};
    return out;
}

// A constraint's residual and redundancy number, kept until the a-posteriori sigma0 is known.
struct ConstraintResidual {
    EquationRecord equation;
    double v = 0, r = 0;
};

// The tests of a vector in use from its residuals, and its adjusted vector from the sites.
RigorousVectorResult vectorResult(const RigorousVector& weights, const VectorResiduals& res,
                                  const AdjustmentState& s, double delta0) {
    const RigorousResults& g = s.rigorous;
    RigorousVectorResult out;
    out.record = weights.record;
    out.fromSite = weights.fromSite;
    out.toSite = weights.toSite;
    const SiteState& from = s.sites[weights.fromSite];
    const SiteState& to = s.sites[weights.toSite];
    std::memcpy(out.from, from.name, 4);
    std::memcpy(out.to, to.name, 4);
    for (int a = 0; a < 3; ++a) {
        RigorousComponent& c = out.components[a];
        c.observed = weights.observed[a];
        c.residual = res.v[a];
        c.adjusted = c.observed + c.residual;
        c.residualSigma = std::sqrt(std::max(res.qvv[4 * a], 0.0));
        c.redundancy = res.redundancy[a];
        const ResidualTest t =
            testResidual(res.pv[a], res.pqvvp[4 * a], g.posteriorSigma0, g.criticalValue, delta0);
        c.standardized = t.standardized;
        c.studentized = t.studentized;
        c.mdb = t.mdb * g.aprioriSigma0;
        c.outlier = t.outlier && !g.preanalysis;
    }
    const Vector3 d = {to.x - from.x, to.y - from.y, to.z - from.z};
    out.length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const Vector3 n = localFromCartesian(
        localFrameMatrix(from.sinLatitude, from.cosLatitude, from.sinLongitude, from.cosLongitude),
        d);
    out.azimuth = std::atan2(n[kEast], n[kNorth]) * kDegreesPerRadian;
    if (out.azimuth < 0)
        out.azimuth += 360;
    out.heightDifference = to.height - from.height;
    return out;
}

// Sigmas and correlations of a covariance; correlations 0 where a sigma is 0.
ComponentPrecision precisionOf(const Matrix3& c) {
    ComponentPrecision p;
    for (int a = 0; a < 3; ++a)
        p.sigma[a] = std::sqrt(std::max(c[4 * a], 0.0));
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int k = 0; k < 3; ++k) {
        const double product = p.sigma[pairs[k][0]] * p.sigma[pairs[k][1]];
        p.correlation[k] = product > 0 ? c[3 * pairs[k][0] + pairs[k][1]] / product : 0.0;
    }
    return p;
}

// The cofactors of the three coordinate unknowns of sites i and j (0 for a fixed component).
template <typename Inverse>
Matrix3 siteBlock(const SiteState& a, const SiteState& b, const Inverse& inverse) {
    Matrix3 q{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (a.unknownNumber[r] != 0 && b.unknownNumber[c] != 0)
                q[3 * r + c] = inverse(a.unknownNumber[r], b.unknownNumber[c]);
    return q;
}

Matrix3 frameOf(const SiteState& site) {
    return localFrameMatrix(site.sinLatitude, site.cosLatitude, site.sinLongitude,
                            site.cosLongitude);
}

template <typename Inverse>
RigorousSiteResult siteResult(const SiteState& site, const RigorousResults& g,
                              const Inverse& inverse) {
    RigorousSiteResult out;
    std::memcpy(out.name, site.name, 4);
    out.adjusted = site.unknownNumber[0] || site.unknownNumber[1] || site.unknownNumber[2];
    out.xyz = {site.x, site.y, site.z};
    out.latitude = site.latitude * kDegreesPerRadian;
    out.longitude = site.longitude * kDegreesPerRadian;
    out.height = site.height;
    out.covarianceNEU = siteBlock(site, site, inverse);
    out.covarianceXYZ = congruence(frameOf(site), out.covarianceNEU);
    const Matrix3& q = out.covarianceNEU;
    const ErrorEllipse e = errorEllipse(q[0], q[4], q[1], g.ellipseScale);
    out.semiMajor = e.semiMajor;
    out.semiMinor = e.semiMinor;
    out.azimuth = e.azimuth;
    out.heightSigma = g.heightScale * std::sqrt(std::max(q[8], 0.0));
    return out;
}

// Q_tt + Q_ff - Q_tf - Q_ft of the two sites, carried into the Earth-centred frame.
template <typename Inverse>
Matrix3 relativeCovariance(const SiteState& f, const SiteState& t, const Inverse& inverse) {
    const Matrix3 rf = frameOf(f), rt = frameOf(t);
    const Matrix3 ft = product(product(rf, siteBlock(f, t, inverse)), transposed(rt));
    Matrix3 c{};
    const Matrix3 ff = congruence(rf, siteBlock(f, f, inverse));
    const Matrix3 tt = congruence(rt, siteBlock(t, t, inverse));
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            c[3 * r + k] = ff[3 * r + k] + tt[3 * r + k] - ft[3 * r + k] - ft[3 * k + r];
    return c;
}

RigorousPairResult pairResult(const SiteState& f, const SiteState& t, const Matrix3& covariance,
                              const RigorousResults& g) {
    RigorousPairResult out;
    std::memcpy(out.from, f.name, 4);
    std::memcpy(out.to, t.name, 4);
    out.covarianceXYZ = covariance;
    const Vector3 d = {t.x - f.x, t.y - f.y, t.z - f.z};
    out.distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const Matrix3 middle =
        localFrameMatrixAt(0.5 * (f.latitude + t.latitude), 0.5 * (f.longitude + t.longitude));
    const Matrix3 q = congruence(transposed(middle), covariance);
    const ErrorEllipse e = errorEllipse(q[0], q[4], q[1], g.ellipseScale);
    out.semiMajor = e.semiMajor;
    out.semiMinor = e.semiMinor;
    out.azimuth = e.azimuth;
    out.verticalSigma = g.heightScale * std::sqrt(std::max(q[8], 0.0));
    out.ppm = out.distance > 0 ? out.semiMajor / out.distance * kPpm : 0;
    return out;
}

// The replay of the last iteration's equations: the residuals of constraints and vectors, the
// weighted sum of their squares and the sum of their redundancy numbers.
struct Replay {
    double sum = 0, redundancy = 0;
    std::vector<ConstraintResidual> constraints;
    std::vector<VectorResiduals> vectors;
};

template <typename Inverse>
void replayBiasConstraints(const AdjustmentState& s, const BiasGroupRecord& bias,
                           ScratchFile& equations, const Inverse& inverse, Replay& out) {
    for (int k = 0; k < kBiasParameterCount; ++k) {
        if (bias.sigma[k] == 0)
            continue;
        EquationRecord equation;
        readEquation(equations, equation, false);
        const double v = residualOf(equation, s.solution, s.unknownCount);
        const int u = equation.terms[0].unknown;
        out.sum += equation.weight * v * v;
        // An eliminated parameter's constraint stands alone: its redundancy is 0.
        out.redundancy += 1 - equation.weight * inverse(u, u);
    }
}

template <typename Inverse>
Replay replayEquations(const AdjustmentState& s, ScratchFiles& scratch, const Inverse& inverse) {
    Replay out;
    scratch.vectorScratch.rewind();
    scratch.equationScratch.rewind();
    for (int c = 0; c < s.controlConstraintCount; ++c) {
        ConstraintResidual k;
        readEquation(scratch.equationScratch, k.equation, true);
        k.v = residualOf(k.equation, s.solution, s.unknownCount);
        const int u = k.equation.terms[0].unknown;
        k.r = 1 - k.equation.weight * inverse(u, u);
        out.sum += k.equation.weight * k.v * k.v;
        out.redundancy += k.r;
        out.constraints.push_back(k);
    }
    out.vectors.reserve(s.rigorousVectors.size());
    for (int g = 1; g <= s.biasGroupCount; ++g) {
        BiasGroupRecord bias;
        readRecord(scratch.vectorScratch, bias);
        replayBiasConstraints(s, bias, scratch.equationScratch, inverse, out);
        const int vectors = std::min(bias.vectorCount - s.rejectedVectorCount[g],
                                     static_cast<int>(s.rigorousVectors.size()));
        for (int k = 0; k < vectors; ++k) {
            VectorObservationRecord vector;
            EquationRecord equations[3];
            if (!readRecord(scratch.vectorScratch, vector))
                break;
            Vector3 w{};
            for (int a = 0; a < 3; ++a) {
                readEquation(scratch.equationScratch, equations[a], false);
                w[a] = residualOf(equations[a], s.solution, s.unknownCount);
                out.sum += w[a] * w[a];
            }
            const Matrix3 qw =
                whitenedResidualCofactor(designOf(equations, s.unknownCount), inverse);
            out.vectors.push_back(residualsFrom(w, qw, s.centreRotation, s.rigorousVectors[k]));
            const Vector3& r = out.vectors.back().redundancy;
            out.redundancy += r[0] + r[1] + r[2];
        }
    }
    return out;
}

// The global statistics and the scales of the ellipses.
void setGlobalStatistics(RigorousResults& g, const AdjustmentTestResult& tests,
                         const AdjustmentSettings& settings, double redundancy) {
    g.degreesOfFreedom = tests.degreesOfFreedom;
    g.aprioriSigma0 = 1.0;
    g.posteriorSigma0 = tests.unitWeightStandardError;
    g.scaledByPosterior = settings.scaleByPosterior && !settings.preanalysis;
    g.preanalysis = settings.preanalysis;
    g.chiSquare = tests.chiSquare;
    g.chiSquareLower = tests.lowerLimit;
    g.chiSquareUpper = tests.upperLimit;
    g.chiSquarePassed = tests.passed;
    g.criticalValue = tests.tauCriticalValue;
    g.alpha0 = kBaardaAlpha0;
    g.power = kBaardaPower;
    g.delta0 = NonCentrality(kBaardaAlpha0, kBaardaPower);
    g.confidence = settings.confidenceLevel / 100;
    const double sigma0 = g.scaledByPosterior ? g.posteriorSigma0 : g.aprioriSigma0;
    g.ellipseScale = sigma0 * std::sqrt(ChiSquareQuantile(2, g.confidence));
    g.heightScale = sigma0 * std::sqrt(ChiSquareQuantile(1, g.confidence));
    g.redundancySum = redundancy;
}

bool allFinite(const RigorousVectorResult& r) {
    for (const RigorousComponent& c : r.components)
        for (double x : {c.residual, c.residualSigma, c.redundancy, c.standardized, c.mdb})
            if (!std::isfinite(x))
                return false;
    return std::isfinite(r.length) && std::isfinite(r.azimuth);
}

// The adjusted vector from its sites, as the classic model stores it.
void storeAdjustedVector(AdjustedDataSet& output, const AdjustmentState& s,
                         const RigorousVector& weights) {
    const SiteState& from = s.sites[weights.fromSite];
    const SiteState& to = s.sites[weights.toSite];
    const Vector3 d = {to.x - from.x, to.y - from.y, to.z - from.z};
    const Vector3 local = localFromCartesian(s.centreRotation, d);
    output.setAdjustedVector({d[0], d[1], d[2], local[kNorth], local[kEast], local[kUp]});
}

// The data set's result fields of a vector: residuals and studentized residuals along X, Y, Z
// and along the reference north, east, up.
void storeVectorFields(AdjustedDataSet& output, const RigorousVectorResult& r,
                       const VectorResiduals& res, const RigorousResults& g) {
    double fields[kVectorTestResultCount];
    for (int a = 0; a < 3; ++a) {
        fields[a] = r.components[a].residual;
        fields[3 + a] = r.components[a].studentized;
        fields[6 + a] = res.localV[a];
        fields[9 + a] = testResidual(res.localPv[a], res.localPqvvp[a], g.posteriorSigma0,
                                     g.criticalValue, g.delta0)
                            .studentized;
    }
    output.setVectorTestResults(fields);
}

// The sites' covariances and ellipses and the relative precision of every pair of sites joined
// by a vector in use (each pair once).
template <typename Inverse>
void collectPrecisions(const AdjustmentState& s, RigorousResults& g, const Inverse& inverse) {
    g.sites.reserve(static_cast<std::size_t>(s.loadedSiteCount));
    for (int i = 1; i <= s.loadedSiteCount; ++i)
        g.sites.push_back(siteResult(s.sites[i], g, inverse));
    std::map<std::pair<int, int>, bool> seen;
    for (const RigorousVectorResult& v : g.vectors) {
        const std::pair<int, int> key = std::minmax(v.fromSite, v.toSite);
        if (key.first == key.second || !seen.emplace(key, true).second)
            continue;
        const SiteState& f = s.sites[v.fromSite];
        const SiteState& t = s.sites[v.toSite];
        RigorousPairResult pair = pairResult(f, t, relativeCovariance(f, t, inverse), g);
        pair.fromSite = v.fromSite;
        pair.toSite = v.toSite;
        g.pairs.push_back(pair);
    }
}

void printSection(ReportWriter& report, const RigorousResults& g,
                  const AdjustmentSettings& settings) {
    std::vector<FlaggedComponent> flagged;
    for (const RigorousVectorResult& v : g.vectors) {
        for (int a = 0; a < 3; ++a) {
            if (v.components[a].outlier)
                flagged.push_back(flaggedComponent(v, a));
        }
    }
    RigorousModelSection section;
    section.confidenceLevel = settings.confidenceLevel;
    section.scaledByPosterior = g.scaledByPosterior;
    section.aprioriSigma0 = g.aprioriSigma0;
    section.posteriorSigma0 = g.posteriorSigma0;
    section.alpha0 = g.alpha0;
    section.power = g.power;
    section.delta0 = g.delta0;
    section.criticalValue = g.criticalValue;
    section.redundancySum = g.redundancySum;
    section.preanalysis = g.preanalysis;
    section.degreesOfFreedom = g.degreesOfFreedom;
    section.ellipseFactor = std::sqrt(ChiSquareQuantile(2, g.confidence));
    section.heightFactor = std::sqrt(ChiSquareQuantile(1, g.confidence));
    section.flagged = flagged.data();
    section.flaggedCount = static_cast<int>(flagged.size());
    printRigorousModel(report, section);
}

}  // namespace

bool AdjustmentEngine::runRigorousTests() {
    AdjustmentState& s = *state_;
    RigorousResults& g = s.rigorous;
    g = RigorousResults{};
    const auto inverse = [this](int i, int j) { return inverseElement(i, j); };
    const Replay replay = replayEquations(s, scratch_, inverse);
    const AdjustmentTestResult tests = evaluateAdjustmentTests(
        replay.sum, s.observationCount, s.unknownCount, settings_.confidenceLevel);
    setGlobalStatistics(g, tests, settings_, replay.redundancy);
    const double statistics[5] = {tests.chiSquare, tests.lowerLimit, tests.upperLimit,
                                  tests.tauCriticalValue, tests.unitWeightStandardError};
    for (double x : statistics)
        if (!std::isfinite(x))
            return reportError("Error: The adjustment tests have no finite chi-square (%g)\n",
                               replay.sum);
    for (std::size_t k = 0; k < replay.vectors.size(); ++k) {
        const RigorousVector& weights = s.rigorousVectors[k];
        RigorousVectorResult r = vectorResult(weights, replay.vectors[k], s, g.delta0);
        if (!allFinite(r))
            return reportError("Error: The vector %4.4s-%4.4s (record %d) has no finite residual\n",
                               r.from, r.to, int(r.record));
        g.vectors.push_back(r);
    }
    for (const ConstraintResidual& c : replay.constraints) {
        const double standardized =
            c.r > 0 ? std::sqrt(c.equation.weight) * c.v / std::sqrt(c.r) : 0.0;
        if (output_.seekSite(c.equation.nameSlot))
            output_.setConstraintResidual(componentOfLabel(c.equation.label), c.v,
                                          standardized / g.posteriorSigma0);
    }
    for (std::size_t k = 0; k < g.vectors.size(); ++k) {
        const RigorousVector& weights = s.rigorousVectors[k];
        if (!output_.seekVector(weights.label1, weights.label2))
            continue;
        const RigorousVectorResult& r = g.vectors[k];
        storeVectorFields(output_, r, replay.vectors[k], g);
        storeAdjustedVector(output_, s, weights);
        output_.setVectorInUse(1);
    }
    collectPrecisions(s, g, inverse);
    s.degreesOfFreedom = tests.degreesOfFreedom;
    s.posteriorSigmaScale = tests.unitWeightStandardError;
    output_.setUnitWeightStandardError(tests.unitWeightStandardError);
    output_.setChiSquareTest(tests.chiSquare, tests.lowerLimit, tests.upperLimit);
    output_.setTauCriticalValue(tests.tauCriticalValue);
    // A pre-analysis has no observations to test: the chi-square section would only mislead.
    if (!settings_.preanalysis)
        printAdjustmentTests(report_, testsSection(tests, settings_));
    printSection(report_, g, settings_);
    g.valid = true;
    return true;
}

bool AdjustmentEngine::storeRigorousVectorPrecisions() {
    AdjustmentState& s = *state_;
    const auto inverse = [this](int i, int j) { return inverseElement(i, j); };
    // The data set holds the adjusted vectors' precisions at the a-posteriori sigma0, as the
    // classic model stores them.
    const double variance = s.sigmaScale * s.sigmaScale;
    const Matrix3 r0t = transposed(s.centreRotation);
    for (const RigorousVector& weights : s.rigorousVectors) {
        Matrix3 c = relativeCovariance(s.sites[weights.fromSite], s.sites[weights.toSite], inverse);
        for (double& x : c)
            x *= variance;
        const ComponentPrecision cartesian = precisionOf(c);
        const ComponentPrecision local = precisionOf(congruence(r0t, c));
        for (double x : {cartesian.sigma[0], cartesian.sigma[1], cartesian.sigma[2], local.sigma[0],
                         local.sigma[1], local.sigma[2]}) {
            if (!std::isfinite(x))
                return reportError(
                    "Error: The vector %4.4s-%4.4s (record %d) has no finite adjusted sigma\n",
                    weights.label1, weights.label2, int(weights.record));
        }
        if (!output_.seekVector(weights.label1, weights.label2))
            continue;
        output_.setAdjustedLocalSigmas(local);
        output_.setAdjustedVectorSigmas(cartesian);
    }
    return true;
}

FlaggedComponent flaggedComponent(const RigorousVectorResult& v, int axis) {
    const RigorousComponent& c = v.components[axis];
    FlaggedComponent f;
    f.record = v.record;
    std::memcpy(f.from, v.from, 4);
    std::memcpy(f.to, v.to, 4);
    f.axis = kAxisNames[axis];
    f.residual = c.residual;
    f.studentized = c.studentized;
    f.mdb = c.mdb;
    return f;
}

}  // namespace torvek
