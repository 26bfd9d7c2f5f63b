#pragma once
#include "engine/engine_limits.h"

namespace torvek {

/// The settings and flags that the job sequence, the connectivity test and the adjustment share
/// over one run.
struct AdjustmentSettings {
    /// Adjustment type: decided by the connectivity test; over-constrained is its negation.
    bool minimallyConstrained = false;
    bool overConstrained = false;
    /// Confidence level of the statistical tests, percent in (0, 100).
    double confidenceLevel = 95.0;
    /// Scale factor for the a-priori vector sigmas, as stored in the data set (reported).
    double vectorSigmaScale = 1.0;
    /// Set by the job sequence before the retry: free bias parameters get the smallest sigma.
    bool forceBiasConstraints = false;
    /// Set by the solver when it meets a missing equation or a bad pivot at a site's unknown.
    bool singularityRetry = false;
    /// A-priori values of the bias parameters (rotations about north, east, up in arc seconds,
    /// scale correction in ppm) and whether each is held fixed; filled by the vector loader.
    double biasApriori[kBiasParameterCount] = {};
    bool biasFixed[kBiasParameterCount] = {};
    /// The rigorous model (rigorous_model.h) instead of the classic one; only with a solver of
    /// its own (torvek-large).
    bool rigorous = false;
    /// The rigorous model scales ellipses and relative precisions by the a-posteriori sigma0
    /// instead of the a-priori one.
    bool scaleByPosterior = false;
    /// A pre-analysis of the rigorous model: every vector in use is planned, its observed
    /// components replaced by the differences of its sites' approximate coordinates, so the
    /// precisions and reliability come from geometry and weights alone at the a-priori sigma0.
    bool preanalysis = false;
};

}  // namespace torvek
