#pragma once
#include "engine/normal_solver.h"

namespace torvek {

/// The whole program `PROGRAM INPUT OUTPUT [PROGRESS REPORT]` from main's arguments: one job, the
/// normal equations held by `solverFactory`'s solver (nullptr: the built-in dense matrix).
/// Returns the exit code.
int runProgram(int argc, char** argv, NormalSolverFactory solverFactory);

/// `PROGRAM [--model classic|rigorous] [--snoop ROUNDS] [--scale-by apriori|aposteriori]
/// [--statistics FILE] INPUT OUTPUT [PROGRESS REPORT]` (model_options.h): runProgram with the
/// model options. A bad option, or a statistics file that names the input or the output, is
/// refused with an "Error: " line on the standard error stream and exit code 1.
int runProgramWithOptions(int argc, char** argv, NormalSolverFactory solverFactory);

}  // namespace torvek
