#pragma once

// The distribution functions behind the adjustment tests: the standard normal distribution, the
// upper tail of the chi-square distribution, the chi-square quantile and the critical value of
// the tau test on standardised residuals. All are pure functions of their arguments: no state,
// no output; only ChiSquareQuantile and ChiSquareQuantiles allocate, a table of df / 2 doubles
// for their evaluations.

namespace torvek {

// P(Z <= z) for a standard normal Z. z is dimensionless and may be any double; |z| >= 6 gives
// exactly 0 or 1. Accurate to about 1e-9 absolute (a polynomial approximation). A NaN z gives NaN.
double NormalProbability(double z);

// P(X > x) for X chi-square distributed with df degrees of freedom. x >= 0, df >= 1; x <= 0 or
// df < 1 gives 1.0. Terms below exp(-20) are dropped, so tails beyond that read as 0 (for df = 2:
// exactly exp(-x/2) for x < 40, 0 beyond). x = +infinity gives 0, a NaN x gives NaN. The run time
// grows with df.
double ChiSquareProbability(double x, int df);

// The x with P(X <= x) = p for X chi-square distributed with df degrees of freedom, found by
// doubling and then bisecting to a bracket narrower than 3e-7 (or as narrow as the doubles allow
// for very large x). Valid range: 0 < p <= 1, df >= 1. Any argument outside it (p <= 0, p > 1,
// NaN p, df < 1) gives 1.0, the value that also stands for "no test possible".
double ChiSquareQuantile(int df, double p);

// Both quantiles of a two-sided test, ChiSquareQuantile(df, lowerP) and ChiSquareQuantile(df,
// upperP), the very same doubles, with the table of df / 2 doubles formed once for both.
struct ChiSquareBounds {
    double lower = 1.0;
    double upper = 1.0;
};
ChiSquareBounds ChiSquareQuantiles(int df, double lowerP, double upperP);

// The critical value of tau (a residual divided by its standard deviation estimated from the same
// adjustment) for dof degrees of freedom, n observations tested together and a global
// significance level alpha in (0, 1): the per-observation level u = 1 - (1 - alpha)^(1/n) is
// spent two-sided on the exact distribution of tau. Results: 0 when no test is possible (dof < 2,
// n < 1, alpha >= 1 or NaN alpha); sqrt(dof) when alpha <= 0 (the largest possible tau).
double TauCriticalValue(int dof, int n, double alpha);

}  // namespace torvek
