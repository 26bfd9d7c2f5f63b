// The adjustment tests: the equations of the last iteration are replayed to give residuals,
// adjusted vectors and the weighted sum of squared residuals.
#include "engine/residual_replay.h"

#include <cmath>
#include <cstring>

#include "engine/adjustment_engine.h"
#include "geodesy/local_frame.h"
#include "report/adjustment_tests_section.h"
#include "stats/adjustment_tests.h"

namespace torvek {

double residualOf(const EquationRecord& equation, const std::vector<double>& x, int unknownCount) {
    double v = 0;
    for (int k = 0; k < equation.termCount; ++k) {
        const int u = equation.terms[k].unknown;
        if (u >= 1 && u <= unknownCount)
            v += equation.terms[k].coefficient * x[u];
    }
    return v + equation.misclosure;
}

namespace {

bool allFinite(const double* values, int count) {
    for (int k = 0; k < count; ++k)
        if (!std::isfinite(values[k]))
            return false;
    return true;
}

}  // namespace

int componentOfLabel(const char* label) {
    if (std::strcmp(label, "LAT.") == 0)
        return 0;
    if (std::strcmp(label, "LON.") == 0)
        return 1;
    if (std::strcmp(label, "H   ") == 0)
        return 2;
    return 3;  // refused by the setter: nothing is stored
}

AdjustmentTestsSection testsSection(const AdjustmentTestResult& result,
                                    const AdjustmentSettings& settings) {
    AdjustmentTestsSection section;
    section.confidenceLevel = settings.confidenceLevel;
    section.observationCount = result.observationCount;
    section.unknownCount = result.unknownCount;
    section.degreesOfFreedom = result.degreesOfFreedom;
    section.chiSquarePassed = result.passed;
    section.lowerLimit = result.lowerLimit;
    section.upperLimit = result.upperLimit;
    section.chiSquare = result.chiSquare;
    section.unitWeightStandardError = result.unitWeightStandardError;
    section.tauCriticalValue = result.tauCriticalValue;
    section.vectorSigmaScale = settings.vectorSigmaScale;
    return section;
}

bool AdjustmentEngine::runAdjustmentTests() {
    if (settings_.rigorous)
        return runRigorousTests();
    AdjustmentState& s = *state_;
    scratch_.vectorScratch.rewind();
    scratch_.equationScratch.rewind();
    // One running sum in the order of the scratch files, so the chi-square is the same to the
    // last bit whichever step adds to it.
    double sum = 0;
    if (!replayControlConstraints(sum))
        return false;
    for (int g = 1; g <= s.biasGroupCount; ++g)
        if (!replayBiasGroup(g, sum))
            return false;
    return finishAdjustmentTests(sum);
}

bool AdjustmentEngine::replayControlConstraints(double& sum) {
    AdjustmentState& s = *state_;
    for (int c = 0; c < s.controlConstraintCount; ++c) {
        EquationRecord equation;
        readEquation(scratch_.equationScratch, equation, true);
        const double v = residualOf(equation, s.solution, s.unknownCount);
        const double z = std::sqrt(equation.weight) * v;
        sum += equation.weight * v * v;
        if (!std::isfinite(v) || !std::isfinite(z)) {
            return reportError("Error: Site %4.4s has no finite constraint residual\n",
                               equation.nameSlot);
        }
        if (output_.seekSite(equation.nameSlot))
            output_.setConstraintResidual(componentOfLabel(equation.label), v, z);
    }
    return true;
}

bool AdjustmentEngine::replayBiasGroup(int g, double& sum) {
    AdjustmentState& s = *state_;
    BiasGroupRecord bias;
    readRecord(scratch_.vectorScratch, bias);
    // The bias equations were written only for the parameters with a sigma.
    for (int k = 0; k < kBiasParameterCount; ++k) {
        if (bias.sigma[k] == 0)
            continue;
        EquationRecord equation;
        readEquation(scratch_.equationScratch, equation, false);
        const double v = residualOf(equation, s.solution, s.unknownCount);
        sum += equation.weight * v * v;
    }
    const int vectors = bias.vectorCount - s.rejectedVectorCount[g];
    // The reads set every field, so the two records serve every vector.
    VectorObservationRecord vector;
    EquationRecord equation;
    for (int k = 0; k < vectors; ++k) {
        if (!readRecord(scratch_.vectorScratch, vector))
            break;
        if (!replayVector(vector, equation, sum))
            return false;
    }
    return true;
}

bool AdjustmentEngine::replayVector(const VectorObservationRecord& vector, EquationRecord& equation,
                                    double& sum) {
    AdjustmentState& s = *state_;
    Vector3 v{}, z{};
    for (int a = 0; a < 3; ++a) {
        readEquation(scratch_.equationScratch, equation, false);
        v[a] = residualOf(equation, s.solution, s.unknownCount);
        sum += equation.weight * v[a] * v[a];
        z[a] = std::sqrt(equation.weight) * v[a];
    }
    // A site number outside the loaded sites falls back to slot 0 rather than reading past them.
    const int i =
        vector.fromSite >= 1 && vector.fromSite <= s.loadedSiteCount ? vector.fromSite : 0;
    const int j = vector.toSite >= 1 && vector.toSite <= s.loadedSiteCount ? vector.toSite : 0;
    const Vector3 d = {s.sites[j].x - s.sites[i].x, s.sites[j].y - s.sites[i].y,
                       s.sites[j].z - s.sites[i].z};
    const Matrix3& r0 = s.centreRotation;
    const Vector3 local = localFromCartesian(r0, d);
    const Vector3 vXYZ = cartesianFromLocal(r0, v);
    const Vector3 zXYZ = cartesianFromLocal(r0, z);
    const double results[12] = {vXYZ[0], vXYZ[1], vXYZ[2], zXYZ[0], zXYZ[1], zXYZ[2],
                                v[0],    v[1],    v[2],    z[0],    z[1],    z[2]};
    if (!allFinite(results, 12) || !allFinite(d.data(), 3) || !allFinite(local.data(), 3)) {
        return reportError("Error: The vector #%05d:%4.4s-%4.4s has no finite residual\n",
                           int(vectorLabelNumber(vector.label2)), vector.label1, vector.label2);
    }
    // A vector missing from the output data set is still counted in the sum.
    if (!output_.seekVector(vector.label1, vector.label2))
        return true;
    output_.setAdjustedVector({d[0], d[1], d[2], local[kNorth], local[kEast], local[kUp]});
    output_.setVectorTestResults(results);
    output_.setVectorInUse(1);
    return true;
}

bool AdjustmentEngine::finishAdjustmentTests(double sum) {
    AdjustmentState& s = *state_;
    const AdjustmentTestResult result =
        evaluateAdjustmentTests(sum, s.observationCount, s.unknownCount, settings_.confidenceLevel);
    const double statistics[5] = {result.chiSquare, result.lowerLimit, result.upperLimit,
                                  result.tauCriticalValue, result.unitWeightStandardError};
    if (!allFinite(statistics, 5)) {
        return reportError("Error: The adjustment tests have no finite chi-square (%g)\n", sum);
    }
    s.degreesOfFreedom = result.degreesOfFreedom;
    s.posteriorSigmaScale = result.unitWeightStandardError;
    output_.setUnitWeightStandardError(result.unitWeightStandardError);
    output_.setChiSquareTest(result.chiSquare, result.lowerLimit, result.upperLimit);
    output_.setTauCriticalValue(result.tauCriticalValue);
    printAdjustmentTests(report_, testsSection(result, settings_));
    return true;
}

}  // namespace torvek
