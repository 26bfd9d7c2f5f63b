// Entry point of the large-network program: `torvek-large [--threads N] [OPTIONS] INPUT OUTPUT
// [PROGRESS REPORT]`, the same run with the normal equations held sparse in double precision, and
// the rigorous model among its options (app/model_options.h).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "engine/sparse/sparse_normal_solver.h"

namespace {

// The exit code of a run whose factorisation was refused for want of memory (the report says how
// much it needed); 1 stays that of a bad command line.
constexpr int kExitNotEnoughMemory = 3;

// The BLAS threads when neither --threads nor the environment names a number: one, so that the
// kernels never wait for each other on a machine whose cores other work holds, nor spin in
// their allocator when memory runs short.
constexpr int kDefaultBlasThreads = 1;

// N of "--threads N" among the options before the positional arguments, removed from `args`;
// 0 when it is not given, -1 (after saying why) when N is not a number 1..kMaxBlasThreads.
int takeThreadsOption(std::vector<char*>& args) {
    for (std::size_t k = 1; k + 1 < args.size() && std::strncmp(args[k], "--", 2) == 0; k += 2) {
        if (std::strcmp(args[k], "--threads") != 0)
            continue;
        char* end = nullptr;
        errno = 0;
        const long threads = std::strtol(args[k + 1], &end, 10);
        if (errno != 0 || end == args[k + 1] || *end != '\0' || threads < 1 ||
            threads > torvek::kMaxBlasThreads) {
            std::fprintf(stderr, "Error: --threads takes a number from 1 to %d: %s\n",
                         torvek::kMaxBlasThreads, args[k + 1]);
            return -1;
        }
        args.erase(args.begin() + static_cast<long>(k), args.begin() + static_cast<long>(k) + 2);
        return static_cast<int>(threads);
    }
    return 0;
}

// True when the environment names the BLAS threads (OpenBLAS read it when it was loaded).
bool environmentNamesThreads() {
    for (const char* name : {"OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    const int threads = takeThreadsOption(args);
    if (threads < 0)
        return 1;
    if (threads > 0 || !environmentNamesThreads())
        torvek::setBlasThreads(threads > 0 ? threads : kDefaultBlasThreads);
    const int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    const int code =
        torvek::runProgramWithOptions(count, args.data(), torvek::makeSparseNormalSolver);
    return code == 0 && torvek::sparseMemoryRefused() ? kExitNotEnoughMemory : code;
}
