#pragma once
// The tests of single residuals in a rigorous adjustment: Baarda's standardized residual, the
// studentized residual and the minimal detectable bias, with the quantiles they need.

namespace torvek {

/// Significance level of the single-residual test behind the minimal detectable bias: 0.1 %
/// (Baarda's B-method, the customary choice of geodetic networks).
inline constexpr double kBaardaAlpha0 = 0.001;
/// Power of that test: 80 %.
inline constexpr double kBaardaPower = 0.80;

/// The z with P(Z <= z) = p for a standard normal Z, 0 < p < 1 (bisection on NormalProbability to
/// about 1e-12); p outside (0, 1) or NaN gives NaN.
double NormalQuantile(double p);

/// The non-centrality delta0 of the one-dimensional test of significance alpha0 (two-sided,
/// (0, 1)) and power beta ((0, 1)): z(1 - alpha0 / 2) + z(beta), about 4.13 for 0.1 % and 80 %.
double NonCentrality(double alpha0, double power);

/// The tests of one residual component i. Inputs: pv = (P v)_i (1/m), pqp = (P Qvv P)_ii (1/m^2,
/// >= 0), both at the a-priori sigma0 of 1, the a-posteriori sigma0 (> 0), the critical value of
/// the studentized residual and delta0.
struct ResidualTest {
    double standardized = 0;  // w = (P v)_i / sqrt((P Qvv P)_ii), at the a-priori sigma0
    double studentized = 0;   // w / a-posteriori sigma0
    double mdb = 0;           // delta0 / sqrt((P Qvv P)_ii), metres, at the a-priori sigma0
    bool outlier = false;     // |studentized| > critical value
};
/// A component without redundancy (pqp not above 0) gives every value 0 and no outlier.
ResidualTest testResidual(double pv, double pqp, double posteriorSigma0, double criticalValue,
                          double delta0);

}  // namespace torvek
