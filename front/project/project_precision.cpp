// The a-priori precision of a project's vectors: sigmas with correlations or covariances, or a
// full covariance matrix with its unit.
#include <cmath>
#include <cstdio>

#include "dataset/project_data_set.h"
#include "front/project/project_fields.h"
#include "front/project/project_reading.h"
#include "front/project/vector_covariance.h"

namespace torvek::front {
namespace {

using namespace fields;

// Relative difference up to which the two halves of a full matrix count as equal: values written
// with fifteen digits or fewer agree to this.
constexpr double kSymmetryTolerance = 1.0e-9;

std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string eigenvalueText(const Matrix3& m, const char* unit) {
    const std::array<double, 3> values = symmetricEigenvalues(m);
    return shortNumber(values[0]) + ", " + shortNumber(values[1]) + " and " +
           shortNumber(values[2]) + " " + unit;
}

// The matrix under "matrix": three rows of three, or the upper triangle as rows of 3, 2 and 1.
Matrix3 readMatrix(const Json& covariance, const std::string& path) {
    const Json* rows = find(covariance, "matrix");
    const std::string where = member(path, "matrix");
    if (rows == nullptr) {
        fail(where, "is missing (give [[xx, xy, xz], [yy, yz], [zz]] or the full 3 x 3 rows)");
    }
    if (!rows->is_array() || rows->size() != 3) {
        fail(where, "must be three rows: [[xx, xy, xz], [yy, yz], [zz]] or the full 3 x 3 rows");
    }
    bool full = true, upper = true;
    for (std::size_t i = 0; i < 3; ++i) {
        const Json& row = (*rows)[i];
        full = full && row.is_array() && row.size() == 3;
        upper = upper && row.is_array() && row.size() == 3 - i;
    }
    if (!full && !upper) {
        fail(where, "rows must hold 3, 3 and 3 numbers (full) or 3, 2 and 1 (upper triangle)");
    }
    Matrix3 m{};
    for (int i = 0; i < 3; ++i) {
        const Json& row = (*rows)[static_cast<std::size_t>(i)];
        for (int j = full ? 0 : i; j < 3; ++j) {
            const std::size_t column = static_cast<std::size_t>(full ? j : j - i);
            const std::string at =
                where + "[" + std::to_string(i) + "][" + std::to_string(column) + "]";
            element(m, i, j) = toNumber(row[column], at, kAnyNumber);
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < i; ++j) {
            if (!full) {
                element(m, i, j) = element(m, j, i);
                continue;
            }
            const double a = element(m, j, i), b = element(m, i, j);
            if (std::fabs(a - b) > kSymmetryTolerance * std::max(std::fabs(a), std::fabs(b))) {
                fail(where, "must be symmetric: row " + std::to_string(i + 1) + ", column " +
                                std::to_string(j + 1) + " holds " + shortNumber(b) +
                                ", its mirror " + shortNumber(a));
            }
        }
    }
    return m;
}

void readFullCovariance(const Json& vector, const std::string& path, VectorRecord& record) {
    for (const char* other : {"sigmas", "correlations", "covariances"}) {
        if (find(vector, other) != nullptr) {
            fail(path, std::string("give either \"covariance\" or \"") + other + "\", not both");
        }
    }
    const Json& covariance = *find(vector, "covariance");
    const std::string where = member(path, "covariance");
    requireObject(covariance, where);
    checkKeys(covariance, where, {"unit", "matrix"});
    const std::string unitName = requiredString(covariance, where, "unit");
    const std::optional<CovarianceUnit> unit = parseCovarianceUnit(unitName);
    if (!unit) {
        fail(member(where, "unit"), "must be \"m2\" or \"mm2\", not \"" + unitName + "\"");
    }
    Matrix3 m = readMatrix(covariance, where);
    if (!isPositiveDefinite(m)) {
        fail(where, "is not positive definite: its eigenvalues are " +
                        eigenvalueText(m, covarianceUnitName(*unit)));
    }
    for (double& value : m) {
        value *= squareMetresPer(*unit);
    }
    const SigmasAndCorrelations split = sigmasAndCorrelations(m);
    record.sigmaX = split.sigmas[0];
    record.sigmaY = split.sigmas[1];
    record.sigmaZ = split.sigmas[2];
    // Correlations rather than covariances: they keep their meaning when the program raises a
    // sigma to its floor.
    record.correlationXY = split.correlations[0];
    record.correlationXZ = split.correlations[1];
    record.correlationYZ = split.correlations[2];
}

void readSigmas(const Json& vector, const std::string& path, VectorRecord& record,
                std::vector<std::string>& notes) {
    const Json* sigmas = find(vector, "sigmas");
    if (sigmas == nullptr) {
        fail(member(path, "sigmas"),
             "is missing (give {\"x\": .., \"y\": .., \"z\": ..} in metres, or \"covariance\")");
    }
    const std::string sigmaPath = member(path, "sigmas");
    requireObject(*sigmas, sigmaPath);
    checkKeys(*sigmas, sigmaPath, {"x", "y", "z"});
    record.sigmaX = requiredNumber(*sigmas, sigmaPath, "x", kNonNegative);
    record.sigmaY = requiredNumber(*sigmas, sigmaPath, "y", kNonNegative);
    record.sigmaZ = requiredNumber(*sigmas, sigmaPath, "z", kNonNegative);
    for (double s : {record.sigmaX, record.sigmaY, record.sigmaZ}) {
        if (s < kMinimumSigma || s > kMaximumVectorSigma) {
            notes.push_back(sigmaPath +
                            ": the program holds vector sigmas between 0.001 and 100 m");
            break;
        }
    }

    const Json* correlations = find(vector, "correlations");
    const Json* covariances = find(vector, "covariances");
    if (correlations != nullptr && covariances != nullptr) {
        fail(path, "give either \"correlations\" or \"covariances\", not both");
    }
    // The data set holds either correlation coefficients or, when any value lies outside
    // [-1, 1], covariances in square metres; the two keys keep the meanings apart.
    double* values[3] = {&record.correlationXY, &record.correlationXZ, &record.correlationYZ};
    if (correlations != nullptr) {
        readTriple(vector, path, "correlations", kCorrelationKeys, values, {-1.0, 1.0});
    } else if (covariances != nullptr) {
        readTriple(vector, path, "covariances", kCorrelationKeys, values, kAnyNumber);
        bool outside = false;
        for (double* v : values) {
            outside = outside || std::fabs(*v) > 1.0;
        }
        if (!outside) {
            fail(member(path, "covariances"),
                 "the program reads values within [-1, 1] as correlations; give them as "
                 "\"correlations\" instead");
        }
    }
    if (correlations == nullptr && covariances == nullptr) {
        return;
    }
    // The matrix the program will weight with: its sigmas after the floor, with the correlations
    // given or those of the covariances given.
    const Vector3 held = {applyVectorSigmaRule(record.sigmaX), applyVectorSigmaRule(record.sigmaY),
                          applyVectorSigmaRule(record.sigmaZ)};
    Vector3 r = {record.correlationXY, record.correlationXZ, record.correlationYZ};
    if (covariances != nullptr) {
        r = {r[0] / (held[0] * held[1]), r[1] / (held[0] * held[2]), r[2] / (held[1] * held[2])};
        if (std::fabs(r[0]) > 1.0 || std::fabs(r[1]) > 1.0 || std::fabs(r[2]) > 1.0) {
            // Accepted, as the data set allows it; the person learns what it means.
            notes.push_back(member(path, "covariances") +
                            ": they do not fit the sigmas (a correlation beyond 1), so the "
                            "program drops them and weights the vector as uncorrelated");
            return;
        }
    }
    const Matrix3 m = covarianceFrom(held, r);
    if (!isPositiveDefinite(m)) {
        fail(member(path, correlations != nullptr ? "correlations" : "covariances"),
             "with the sigmas they give a covariance that is not positive definite: its "
             "eigenvalues are " +
                 eigenvalueText(m, "m2"));
    }
}

}  // namespace

void readVectorPrecision(const Json& vector, const std::string& path, VectorRecord& record,
                         PrecisionTally& tally, std::vector<std::string>& notes) {
    if (find(vector, "covariance") != nullptr) {
        readFullCovariance(vector, path, record);
        // Survey files hold thousands of such vectors: one closing note counts them.
        for (double s : {record.sigmaX, record.sigmaY, record.sigmaZ}) {
            if (s < kMinimumSigma || s > kMaximumVectorSigma) {
                if (tally.held == 0) {
                    tally.firstHeld = path;
                }
                ++tally.held;
                break;
            }
        }
        return;
    }
    readSigmas(vector, path, record, notes);
}

std::vector<std::string> precisionNotes(const PrecisionTally& tally) {
    if (tally.held == 0) {
        return {};
    }
    return {std::to_string(tally.held) + (tally.held == 1 ? " vector has" : " vectors have") +
            " a standard deviation outside 0.001 to 100 m, which the program holds within those "
            "bounds (first: " +
            tally.firstHeld + ")"};
}

}  // namespace torvek::front
