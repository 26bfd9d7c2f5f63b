#pragma once
#include "engine/normal_solver.h"

namespace torvek {

/// The whole program `PROGRAM INPUT OUTPUT [PROGRESS REPORT]` from main's arguments: one job, the
/// normal equations held by `solverFactory`'s solver (nullptr: the built-in dense matrix).
/// Returns the exit code.
int runProgram(int argc, char** argv, NormalSolverFactory solverFactory);

}  // namespace torvek
