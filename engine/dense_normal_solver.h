#pragma once
#include <memory>

#include "engine/normal_solver.h"

namespace torvek {

/// The normal equations of `torvek`: the packed upper triangle in single precision
/// (normal_matrix.h), sized for the unknowns in use, added to by groups of equations that name the
/// same unknowns, factorised, inverted and solved in place (cholesky.h), the full inverse formed
/// only when the results need it (completeInverse). Holds 500 sites (1504 unknowns). It adds no
/// line to the report.
std::unique_ptr<NormalSolver> makeDenseNormalSolver();

}  // namespace torvek
