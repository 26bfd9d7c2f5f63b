#pragma once

namespace torvek {

/// Makes this thread's floating-point unit take subnormal numbers as zero, as operands and as
/// results (on x86-64 the DAZ and FTZ bits of MXCSR, which every vector variant of the solver
/// shares; elsewhere nothing changes). The program sets it once, first thing, for the whole run.
///
/// Why: the inverse of the Cholesky factor of a network with long chains of sites holds elements
/// that shrink by orders of magnitude along each row. In single precision they pass through the
/// subnormal range (below 1.2e-38), where every operation takes a slow microcode path: such a
/// network solved 1.8 times slower. The values lost are below 1e-38 in sums of order 1e-6 and
/// more, and change no stored result. Setting the mode for the whole process rather than around
/// the fast kernels keeps them giving the bits of the straightforward loops (cholesky.h).
void flushSubnormalsToZero();

/// Whether flushSubnormalsToZero is in force on this thread.
bool subnormalsFlushToZero();

/// Restores the floating-point mode that was in force when it was made (for tests).
class FloatEnvironmentGuard {
  public:
    FloatEnvironmentGuard();
    ~FloatEnvironmentGuard();
    FloatEnvironmentGuard(const FloatEnvironmentGuard&) = delete;
    FloatEnvironmentGuard& operator=(const FloatEnvironmentGuard&) = delete;

  private:
    unsigned saved_;
};

}  // namespace torvek
