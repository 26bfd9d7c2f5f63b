// Entry point of the large-network program: `torvek-large [OPTIONS] INPUT OUTPUT [PROGRESS
// REPORT]`, the same run with the normal equations held sparse in double precision, and the
// rigorous model among its options (app/model_options.h).
#include "app/program.h"
#include "engine/sparse/sparse_normal_solver.h"

int main(int argc, char** argv) {
    return torvek::runProgramWithOptions(argc, argv, torvek::makeSparseNormalSolver);
}
