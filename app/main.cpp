// Entry point of the adjustment program: `torvek INPUT OUTPUT [PROGRESS REPORT]`.
#include "app/program.h"
#include "engine/dense_normal_solver.h"
#include "platform/process_memory.h"

int main(int argc, char** argv) {
    // A run of torvek stays within some tens of megabytes; torvek-large keeps the default heap.
    torvek::platform::prepareHeapForShortRun();
    return torvek::runProgram(argc, argv, torvek::makeDenseNormalSolver);
}
