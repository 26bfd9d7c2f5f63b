// The linearised observation equations of one iteration: control constraints, bias constraints
// and three equations per vector along the reference point's north, east and up axes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/adjustment_engine.h"
#include "engine/normal_solver.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/local_frame.h"

namespace torvek {
namespace {

// Parts per million.
constexpr double kPpm = 1000000.0;

EquationRecord singleTermEquation(int unknown, double misclosure, double weight) {
    EquationRecord equation;
    equation.termCount = 1;
    equation.terms[0] = {unknown, 1.0};
    equation.misclosure = misclosure;
    equation.weight = weight;
    return equation;
}

}  // namespace

void AdjustmentEngine::formEquations() {
    AdjustmentState& s = *state_;
    // The equations are added to the normal equations as they are written, when their number
    // is within the solver's limits (the driver refuses it otherwise) and its memory can be had
    // (the solve reports it otherwise).
    normalsFormed_ = false;
    const int n = s.coordinateUnknownCount + kBiasParameterCount * s.biasGroupCount;
    std::optional<EquationFeed> feed;
    if (s.loadedSiteCount <= siteLimit() && n <= solver_->unknownLimit() && startNormals(n))
        feed.emplace(*solver_, n);
    EquationFeed* const sink = feed ? &*feed : nullptr;
    scratch_.vectorScratch.rewind();
    scratch_.equationScratch.rewind();
    scratch_.controlScratch.rewind();
    s.centreRotation = localFrameMatrix(s.sinReferenceLatitude, s.cosReferenceLatitude,
                                        s.sinReferenceLongitude, s.cosReferenceLongitude);
    formControlEquations(sink);
    for (int g = 1; g <= s.biasGroupCount; ++g)
        formBiasGroupEquations(g, sink);
    s.unknownCount = n;
    s.observationCount = 3 * s.usedVectorCount + s.biasConstraintCount + s.controlConstraintCount;
    if (feed)
        normalsFormed_ = solver_->finish();
}

void AdjustmentEngine::writeFormedEquation(const EquationRecord& equation, bool control,
                                           EquationFeed* feed) {
    writeEquation(scratch_.equationScratch, equation, control);
    if (feed)
        feed->add(equation);
}

void AdjustmentEngine::formControlEquations(EquationFeed* feed) {
    AdjustmentState& s = *state_;
    for (int c = 0; c < s.controlConstraintCount; ++c) {
        ControlConstraintRecord control;
        readRecord(scratch_.controlScratch, control);
        const int index = control.siteIndex >= 1 && control.siteIndex <= s.loadedSiteCount
                              ? control.siteIndex
                              : 0;
        const SiteState& site = s.sites[index];
        const double sinPhi = std::sin(site.latitude);
        const double meridian = meridianRadius(s.semiMajorAxis, s.eccentricitySquared, sinPhi);
        const double primeVertical =
            primeVerticalRadius(s.semiMajorAxis, s.eccentricitySquared, sinPhi);
        // The misclosure is in metres for every component: the angles are scaled by the radius
        // of curvature at the site's height.
        double misclosure = 0;
        switch (control.component) {
            case 1:
                misclosure = (site.latitude - control.value) * (meridian + site.height);
                break;
            case 2:
                misclosure = (site.longitude - control.value) * (primeVertical + site.height) *
                             std::cos(site.latitude);
                break;
            default:
                misclosure = site.height - control.value;
                break;
        }
        EquationRecord equation =
            singleTermEquation(control.unknown, misclosure, 1.0 / (control.sigma * control.sigma));
        equation.siteIndex = control.siteIndex;
        std::memcpy(equation.label, control.label, sizeof equation.label);
        std::memcpy(equation.nameSlot, site.nameSlot, kNameSlotSize);
        writeFormedEquation(equation, true, feed);
    }
}

void AdjustmentEngine::formBiasGroupEquations(int g, EquationFeed* feed) {
    AdjustmentState& s = *state_;
    s.biasConstraintCount = 0;
    BiasGroupRecord bias;
    readRecord(scratch_.vectorScratch, bias);
    for (int k = 1; k <= kBiasParameterCount; ++k) {
        const double sigma = bias.sigma[k - 1];
        if (sigma == 0)
            continue;
        ++s.biasConstraintCount;
        writeFormedEquation(
            singleTermEquation(s.biasUnknown(g, k), -bias.value[k - 1], 1.0 / (sigma * sigma)),
            false, feed);
    }
    const int vectors = bias.vectorCount - s.rejectedVectorCount[g];
    bool eliminated[kBiasParameterCount] = {};
    if (settings_.rigorous)
        eliminatedBiases(bias, eliminated);
    const Matrix3& r0 = s.centreRotation;
    // frames[k][b][a]: cosine between the reference axis a and site k's axis b. It depends on
    // the site's current position only, so it is formed once per site rather than once per
    // vector end (slot 0, a site not loaded, included).
    const int sites = std::min(s.loadedSiteCount, siteLimit());
    std::vector<Matrix3> frames(static_cast<std::size_t>(sites) + 1);
    for (int k = 0; k <= sites; ++k) {
        const SiteState& site = s.sites[k];
        frames[k] = transposeProduct(r0, localFrameMatrix(site.sinLatitude, site.cosLatitude,
                                                          site.sinLongitude, site.cosLongitude));
    }
    // One record of each kind serves every vector: each read or written sets every field the
    // vector equations use, and clearing them anew for each would cost as much as forming them.
    VectorObservationRecord vector;
    EquationRecord equation;
    equation.termCount = kVectorEquationTerms;
    for (int v = 0; v < vectors; ++v) {
        if (!readRecord(scratch_.vectorScratch, vector))
            break;
        formVectorEquations({g, v, sites}, vector, frames, eliminated, bias, equation, feed);
    }
}

void AdjustmentEngine::formVectorEquations(VectorPosition at, const VectorObservationRecord& vector,
                                           const std::vector<Matrix3>& frames,
                                           const bool (&eliminated)[kBiasParameterCount],
                                           const BiasGroupRecord& bias, EquationRecord& equation,
                                           EquationFeed* feed) {
    const AdjustmentState& s = *state_;
    const Matrix3& r0 = s.centreRotation;
    const int g = at.group;
    const int sites = at.sites;
    const int i = vector.fromSite >= 1 && vector.fromSite <= sites ? vector.fromSite : 0;
    const int j = vector.toSite >= 1 && vector.toSite <= sites ? vector.toSite : 0;
    const SiteState& from = s.sites[i];
    const SiteState& to = s.sites[j];
    const Matrix3& fi = frames[i];
    const Matrix3& fj = frames[j];
    const double rho = kArcsecondsPerRadian;
    const Vector3 t = localFromCartesian(r0, {vector.dX, vector.dY, vector.dZ});
    const Vector3 w = {to.x - from.x - vector.dX, to.y - from.y - vector.dY,
                       to.z - from.z - vector.dZ};
    const Vector3 l = localFromCartesian(r0, w);
    // Bias terms -(omega x t)/rho - s t/1e6 along north, east and up.
    const double biasCoefficients[3][4] = {
        {0, -t[kUp] / rho, t[kEast] / rho, -t[kNorth] / kPpm},
        {t[kUp] / rho, 0, -t[kNorth] / rho, -t[kEast] / kPpm},
        {-t[kEast] / rho, t[kNorth] / rho, 0, -t[kUp] / kPpm},
    };
    const double weights[3] = {vector.pN, vector.pE, vector.pU};
    const auto fill = [&](EquationRecord& out, int a) {
        for (int b = 0; b < 3; ++b) {
            out.terms[b] = {from.unknownNumber[b], -element(fi, b, a)};
            out.terms[3 + b] = {to.unknownNumber[b], element(fj, b, a)};
        }
        for (int k = 0; k < kBiasParameterCount; ++k)
            out.terms[6 + k] = {s.biasUnknown(g, k + 1), biasCoefficients[a][k]};
        out.misclosure = l[a];
        out.weight = weights[a];
    };
    // The rigorous model decorrelates the three equations with the vector's own covariance.
    if (settings_.rigorous && at.vector < static_cast<int>(s.rigorousVectors.size())) {
        EquationRecord whitened[3];
        for (int a = 0; a < 3; ++a) {
            whitened[a].termCount = kVectorEquationTerms;
            fill(whitened[a], a);
        }
        whitenVectorEquations(whitened, s.rigorousVectors[at.vector].inverseFactor, eliminated,
                              bias.value);
        for (const EquationRecord& e : whitened)
            writeFormedEquation(e, false, feed);
        return;
    }
    for (int a = 0; a < 3; ++a) {
        fill(equation, a);
        writeFormedEquation(equation, false, feed);
    }
}

}  // namespace torvek
