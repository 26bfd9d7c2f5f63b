// Entry point of the large-network program: `torvek-large INPUT OUTPUT [PROGRESS REPORT]`, the
// same run with the normal equations held sparse in double precision.
#include "app/program.h"
#include "engine/sparse/sparse_normal_solver.h"

int main(int argc, char** argv) {
    return torvek::runProgram(argc, argv, torvek::makeSparseNormalSolver);
}
