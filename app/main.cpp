// Entry point of the adjustment program: `torvek INPUT OUTPUT [PROGRESS REPORT]`.
#include "app/program.h"
#include "engine/dense_normal_solver.h"

int main(int argc, char** argv) {
    return torvek::runProgram(argc, argv, torvek::makeDenseNormalSolver);
}
