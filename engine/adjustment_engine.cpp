#include "engine/adjustment_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <vector>

#include "engine/bias_results.h"
#include "engine/dense_normal_solver.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/local_frame.h"

namespace torvek {

AdjustmentEngine::AdjustmentEngine(ProjectDataSet& input, AdjustedDataSet& output,
                                   ReportWriter& report, ProgressWindow& progress,
                                   AdjustmentSettings& settings,
                                   std::unique_ptr<NormalSolver> solver)
    : input_(input),
      output_(output),
      report_(report),
      progress_(progress),
      settings_(settings),
      state_(std::make_unique<AdjustmentState>()),
      solver_(solver ? std::move(solver) : makeDenseNormalSolver()) {}

AdjustmentEngine::~AdjustmentEngine() {
    endAttempt();
}

bool AdjustmentEngine::reportError(const char* format, ...) {
    report_.setStyle(style::kError);
    std::va_list arguments;
    va_start(arguments, format);
    report_.printArgs(format, arguments);
    va_end(arguments);
    report_.setStyle(style::kBody);
    return false;
}

double AdjustmentEngine::normalElement(int i, int j) const {
    return solver_->element(i, j);
}

double AdjustmentEngine::normalRightHandSide(int i) const {
    return solver_->rightHandSide(i);
}

double AdjustmentEngine::inverseElement(int i, int j) const {
    return solver_->inverse(i, j);
}

int AdjustmentEngine::siteLimit() const {
    return solver_->siteLimit();
}

bool AdjustmentEngine::adjust() {
    bool stored = beginAttempt() && runAttempt();
    endAttempt();
    return stored;
}

void AdjustmentEngine::endAttempt() {
    normalsFormed_ = false;
    solver_->release();
    scratch_.closeAll();
}

bool AdjustmentEngine::beginAttempt() {
    endAttempt();
    state_ = std::make_unique<AdjustmentState>();
    siteSlotIndex_.clear();
    // The normal matrix is allocated by the first solve, for the unknowns then in use.
    if (progress_.pollAbort(stage::kMatrixAllocated))
        return false;
    AdjustmentState& s = *state_;
    s.sigmaScale = s.posteriorSigmaScale = 0;
    s.horizontalControlCount = s.verticalControlCount = 0;
    if (!scratch_.openAll()) {
        // The reason went to the standard error stream; the report must say it too, or the
        // front end would see an attempt that failed without a word.
        return reportError("Error: Cannot create the temporary files of the adjustment\n");
    }

    const EllipsoidParameters ellipsoid = input_.ellipsoid();
    s.semiMajorAxis = ellipsoid.semiMajorAxis;
    s.inverseFlattening = ellipsoid.inverseFlattening;
    output_.setEllipsoid(s.semiMajorAxis, s.inverseFlattening);
    s.eccentricitySquared = eccentricitySquared(s.inverseFlattening);
    output_.setHeaderText(input_.headerText().c_str());
    const ReferencePoint reference = input_.referencePoint();
    s.referenceLatitudeDegrees = reference.latitude;
    s.referenceLongitudeDegrees = reference.longitude;
    output_.setReferencePoint(s.referenceLatitudeDegrees, s.referenceLongitudeDegrees);
    // An ellipsoid or reference point that no real data set can hold would give infinite or NaN
    // coordinates that the statistics would then report as results.
    if (!std::isfinite(s.semiMajorAxis) || s.semiMajorAxis <= 0 ||
        !std::isfinite(s.inverseFlattening) || s.inverseFlattening <= 1 ||
        !std::isfinite(s.eccentricitySquared)) {
        return reportError("Error: Invalid reference ellipsoid: a = %g, 1/f = %g\n",
                           s.semiMajorAxis, s.inverseFlattening);
    }
    if (!std::isfinite(s.referenceLatitudeDegrees) || std::fabs(s.referenceLatitudeDegrees) > 90 ||
        !std::isfinite(s.referenceLongitudeDegrees)) {
        return reportError("Error: Invalid reference point: latitude %g, longitude %g\n",
                           s.referenceLatitudeDegrees, s.referenceLongitudeDegrees);
    }
    if (!std::isfinite(settings_.confidenceLevel) || settings_.confidenceLevel <= 0 ||
        settings_.confidenceLevel >= 100) {
        return reportError("Error: Invalid confidence level: %g %%\n", settings_.confidenceLevel);
    }
    s.referenceLatitude = s.referenceLatitudeDegrees / kDegreesPerRadian;
    s.referenceLongitude = s.referenceLongitudeDegrees / kDegreesPerRadian;
    s.sinReferenceLatitude = std::sin(s.referenceLatitude);
    s.cosReferenceLatitude = std::cos(s.referenceLatitude);
    s.sinReferenceLongitude = std::sin(s.referenceLongitude);
    s.cosReferenceLongitude = std::cos(s.referenceLongitude);
    s.centreRotation = localFrameMatrix(s.sinReferenceLatitude, s.cosReferenceLatitude,
                                        s.sinReferenceLongitude, s.cosReferenceLongitude);
    s.sigmaFrame = localFrameMatrixAt(radiansFromDegrees(s.referenceLatitudeDegrees),
                                      radiansFromDegrees(s.referenceLongitudeDegrees));
    s.tiltConstraintAxis = 0;
    return true;
}

bool AdjustmentEngine::scratchFilesHealthy() {
    if (scratch_.flushAll())
        return true;
    return reportError("Error: Cannot write the temporary files of the adjustment\n");
}

bool AdjustmentEngine::runAttempt() {
    if (progress_.pollAbort(stage::kConstantsSet) || !loadSites() || !scratchFilesHealthy())
        return false;
    if (progress_.pollAbort(stage::kSitesLoaded) || !loadVectors() || !scratchFilesHealthy())
        return false;
    if (!iterate())
        return false;
    if (!runAdjustmentTests() || !scratchFilesHealthy())
        return false;
    // The tests were the equations' last reader: their memory, the largest the engine holds,
    // is given back before the inverse and the precisions are formed.
    scratch_.equationScratch.close();
    rescaleSigmas();
    return storeResults();
}

bool AdjustmentEngine::iterate() {
    AdjustmentState& s = *state_;
    const int iterations = settings_.overConstrained ? 2 : 1;
    for (s.iterationCount = 0; s.iterationCount < iterations;) {
        formEquations();
        if (!scratchFilesHealthy())
            return false;
        if (s.loadedSiteCount > siteLimit() || s.unknownCount > solver_->unknownLimit()) {
            return reportError("Error: %d  sites, %d unknowns. Limits are %ld and %ld\n",
                               s.loadedSiteCount, s.unknownCount, long(siteLimit()),
                               long(solver_->unknownLimit()));
        }
        if (s.observationCount < s.unknownCount) {
            return reportError("Error: %d obs. not enough to determine %d unknowns\n",
                               s.observationCount, s.unknownCount);
        }
        if (progress_.pollAbort(stage::kEquationsFormed) || !solveNormals(SolveStep::kCorrections))
            return false;
        updateCoordinates();
        if (!iterationIsFinite())
            return false;
        for (int site = 1; site <= s.loadedSiteCount; ++site) {
            const SiteState& st = s.sites[site];
            double x[3];
            for (int k = 0; k < 3; ++k)
                x[k] = st.unknownNumber[k] ? s.solution[st.unknownNumber[k]] : 0.0;
            if (output_.seekSite(st.name))
                output_.setSiteCorrections(x[0], x[1], x[2]);
        }
        ++s.iterationCount;
    }
    return true;
}

void AdjustmentEngine::rescaleSigmas() {
    AdjustmentState& s = *state_;
    // A pre-analysis has no a-posteriori sigma0: its sigmas stay at the a-priori one.
    if (settings_.preanalysis)
        return;
    for (int k = 1; k <= s.unknownCount; ++k)
        s.solutionSigma[k] = s.solutionSigma[k] * s.posteriorSigmaScale / s.sigmaScale;
    s.sigmaScale = s.posteriorSigmaScale;
}

bool AdjustmentEngine::storeResults() {
    AdjustmentState& s = *state_;
    if (!adjustedSitesAreFinite())
        return false;
    s.degreesOfFreedom = s.observationCount - s.unknownCount;
    output_.setAdjustmentCounts(
        {s.observationCount, s.unknownCount, s.degreesOfFreedom, s.iterationCount});
    // The file format defines the adjusted bias fields as 0.0001 larger than computed
    // (docs/data-set-format.md), and readers of output data sets take them so. The offset also
    // keeps an adjusted sigma of 0 (a parameter held fixed) from being stored as 0, which the
    // data set reads as a free parameter: 0.0001 passes the sigma rule as the fixed sigma 0.001.
    constexpr double kBiasStorageOffset = 0.0001;
    for (int g = 1; g <= s.biasGroupCount; ++g) {
        auto stored = [&](int k) {
            return BiasEstimate{s.solution[s.biasUnknown(g, k)] + kBiasStorageOffset,
                                s.solutionSigma[s.biasUnknown(g, k)] + kBiasStorageOffset};
        };
        storeBiasResults(output_, {stored(1), stored(2), stored(3), stored(4)},
                         s.referenceLatitudeDegrees, s.referenceLongitudeDegrees);
    }
    for (int site = 1; site <= s.loadedSiteCount; ++site) {
        const SiteState& st = s.sites[site];
        double sigma[3];
        for (int k = 0; k < 3; ++k)
            sigma[k] = st.unknownNumber[k] ? s.solutionSigma[st.unknownNumber[k]] : 0.0;
        if (!output_.seekSite(st.name))
            continue;
        output_.setAdjustedSite({st.latitude * kDegreesPerRadian, st.longitude * kDegreesPerRadian,
                                 st.height - st.geoidHeight, sigma[0], sigma[1], sigma[2]});
        output_.setSiteInUse(1);
    }
    scratch_.vectorNameScratch.rewind();
    if (!solveNormals(SolveStep::kFullInverse))
        return false;
    return storeVectorPrecisions();
}

bool AdjustmentEngine::storeVectorPrecisions() {
    if (settings_.rigorous)
        return storeRigorousVectorPrecisions();
    AdjustmentState& s = *state_;
    const Matrix3& r0 = s.centreRotation;
    struct Precision {
        VectorNameRecord name;
        ComponentPrecision local;  // no correlations: the local correlations are stored as 0
        ComponentPrecision cartesian;
    };
    // Every precision is formed and checked before the first is stored, so that a failed check
    // leaves no vector with results of this attempt beside vectors without.
    std::vector<Precision> precisions;
    precisions.reserve(static_cast<std::size_t>(std::max(s.vectorNameCount, 0)));
    for (int k = 0; k < s.vectorNameCount; ++k) {
        Precision p{};
        if (!readRecord(scratch_.vectorNameScratch, p.name))
            break;
        p.local.sigma = vectorSigmas(p.name.fromSite, p.name.toSite);
        const double sN = p.local.sigma[kNorth], sE = p.local.sigma[kEast], sU = p.local.sigma[kUp];
        // V = R0 diag(sN^2, sE^2, sU^2) R0^T, the Cartesian covariance of the adjusted vector.
        const double d[3] = {sN * sN, sE * sE, sU * sU};
        double v[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                v[i][j] = 0;
                for (int a = 0; a < 3; ++a)
                    v[i][j] += element(r0, i, a) * d[a] * element(r0, j, a);
            }
        const double sX = std::sqrt(std::fabs(v[0][0]));
        const double sY = std::sqrt(std::fabs(v[1][1]));
        const double sZ = std::sqrt(std::fabs(v[2][2]));
        double rXY = 0, rXZ = 0, rYZ = 0;
        if (sX != 0 && sY != 0 && sZ != 0) {
            rXY = v[1][0] / (std::sqrt(v[1][1]) * std::sqrt(v[0][0]));
            rXZ = v[2][0] / (std::sqrt(v[2][2]) * std::sqrt(v[0][0]));
            rYZ = v[2][1] / (std::sqrt(v[2][2]) * std::sqrt(v[1][1]));
        }
        p.cartesian = {{sX, sY, sZ}, {rXY, rXZ, rYZ}};
        for (double value : {sN, sE, sU, sX, sY, sZ, rXY, rXZ, rYZ}) {
            if (std::isfinite(value))
                continue;
            return reportError("Error: The vector #%05d:%4.4s-%4.4s has no finite adjusted sigma\n",
                               int(vectorLabelNumber(p.name.label2)), p.name.label1, p.name.label2);
        }
        precisions.push_back(p);
    }
    for (const Precision& p : precisions) {
        if (!output_.seekVector(p.name.label1, p.name.label2))
            continue;
        output_.setAdjustedLocalSigmas(p.local);
        output_.setAdjustedVectorSigmas(p.cartesian);
    }
    return true;
}

}  // namespace torvek
