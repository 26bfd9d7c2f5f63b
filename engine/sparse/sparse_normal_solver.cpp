#include "engine/sparse/sparse_normal_solver.h"

#include <dlfcn.h>
#include <suitesparse/cholmod.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "engine/sparse/normal_assembly.h"
#include "engine/sparse/supernodal_inverse.h"

namespace torvek {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Set once a factorisation was refused for want of memory (sparseMemoryRefused).
bool memoryRefused = false;
// Set once a factorisation has run: OpenBLAS keeps the buffers it allocated for it.
bool blasBuffersHeld = false;

// The work buffer OpenBLAS allocates for each thread at its first LAPACK call (its BUFFER_SIZE,
// 128 MiB and a page, as seen in a debugger on x86-64). When the allocation fails it retries
// forever instead of failing, so the buffer must be counted before the factorisation starts.
constexpr double kBlasBufferBytes = 134221824.0;

// The threads the BLAS kernels run on: OpenBLAS's own count when the process has it, else one.
int blasThreadsInUse() {
    using GetThreads = int (*)();
    const auto get =
        reinterpret_cast<GetThreads>(::dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
    return get != nullptr ? std::max(get(), 1) : 1;
}

// What the factorisation of the analysed `factor` and the selected inverse after it hold at
// once, in bytes: the supernodal values (xsize reals, or CHOLMOD's count of the factor's
// nonzeros when larger), the inverse on the same pattern, the largest update block and, before
// the first factorisation, the BLAS buffers of each thread.
double factorisationBytes(const cholmod_factor& factor, const cholmod_common& common) {
    const double values = std::max(static_cast<double>(factor.xsize), common.lnz);
    const double buffers = blasBuffersHeld ? 0.0 : kBlasBufferBytes * blasThreadsInUse();
    return sizeof(double) * (2.0 * values + static_cast<double>(factor.maxcsize)) + buffers;
}

// A number from /proc/meminfo in bytes ("MemAvailable:  123 kB"), or -1.
double meminfoBytes(const char* field) {
    std::FILE* file = std::fopen("/proc/meminfo", "re");
    if (file == nullptr)
        return -1.0;
    char line[256];
    double bytes = -1.0;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            bytes = std::strtod(line + length + 1, nullptr) * 1024.0;  // the file counts kB
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

// Bytes the process can still have: the rest of its address-space limit (RLIMIT_AS, less what
// it maps now) and the memory the system has available with its free swap, whichever is less;
// infinity when neither can be read.
double availableMemoryBytes() {
    double available = std::numeric_limits<double>::infinity();
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const double mapped = static_cast<double>(pages) * static_cast<double>(::getpagesize());
        available = std::max(0.0, static_cast<double>(limit.rlim_cur) - mapped);
    }
    const double system = meminfoBytes("MemAvailable");
    const double swap = meminfoBytes("SwapFree");
    if (system >= 0.0)
        available = std::min(available, system + std::max(swap, 0.0));
    return available;
}

class SparseNormalSolver final : public NormalSolver {
  public:
    explicit SparseNormalSolver(int nestedDissectionFrom)
        : nestedDissectionFrom_(nestedDissectionFrom) {
        cholmod_l_start(&common_);
        // Out of memory is reported by the engine, not printed by the library.
        common_.print = 0;
        common_.error_handler = nullptr;
        // The selected inverse works on the supernodal blocks.
        common_.supernodal = CHOLMOD_SUPERNODAL;
        common_.nmethods = 1;
        common_.method[0].ordering = CHOLMOD_GIVEN;
        common_.postorder = true;
    }
    ~SparseNormalSolver() override {
        release();
        cholmod_l_finish(&common_);
    }

    const char* name() const override { return "sparse"; }
    // Memory is the only limit; one less than the largest int leaves room to count past it.
    int siteLimit() const override { return std::numeric_limits<int>::max() - 1; }
    int unknownLimit() const override { return std::numeric_limits<int>::max(); }

    bool start(int n, int trailing) override {
        trailing = std::clamp(trailing, 0, std::max(n, 0));
        // The ordering and the symbolic factor serve every iteration of an attempt; a new order
        // drops them here, a new pattern in finish().
        if (n != n_ || trailing != trailing_)
            dropAnalysis();
        inverse_.clear();
        n_ = n;
        trailing_ = trailing;
        failed_ = false;
        times_ = {};
        assemblyStart_ = std::chrono::steady_clock::now();
        try {
            rhs_.assign(static_cast<std::size_t>(n) + 1, 0.0);
            assembly_.start(n, trailing);
        } catch (const std::bad_alloc&) {
            failed_ = true;
        }
        return !failed_;
    }

    void add(const EquationRecord& equation, const accumulation::TermPlan& plan) override {
        if (failed_ || equation.weight == 0)
            return;
        const int kept = plan.kept;
        double coefficient[kVectorEquationTerms];
        plan.coefficients(equation, coefficient);
        int unknown[kVectorEquationTerms];  // 0-based
        for (int c = 0; c < kept; ++c) {
            rhs_[plan.unknown[c]] -= coefficient[c] * (equation.weight * equation.misclosure);
            unknown[c] = plan.unknown[c] - 1;
        }
        try {
            assembly_.addEquation(unknown, coefficient, kept, equation.weight);
        } catch (const std::bad_alloc&) {
            failed_ = true;
        }
    }

    bool finish() override {
        if (!failed_) {
            try {
                if (assembly_.finish(columns_))
                    dropAnalysis();
                diagonal_.assign(static_cast<std::size_t>(n_), 0.0);
            } catch (const std::bad_alloc&) {
                failed_ = true;
            }
        }
        if (!failed_) {
            for (int j = 0; j < n_; ++j) {
                const auto end = columns_.start[j + 1];
                if (end > columns_.start[j] && columns_.rows[end - 1] == j)
                    diagonal_[j] = columns_.values[end - 1];
            }
            matrix_ = {};
            matrix_.nrow = matrix_.ncol = static_cast<std::size_t>(n_);
            matrix_.nzmax = columns_.rows.size();
            matrix_.p = columns_.start.data();
            matrix_.i = columns_.rows.data();
            matrix_.x = columns_.values.data();
            matrix_.stype = 1;
            matrix_.itype = CHOLMOD_LONG;
            matrix_.xtype = CHOLMOD_REAL;
            matrix_.dtype = CHOLMOD_DOUBLE;
            matrix_.sorted = true;
            matrix_.packed = true;
        }
        times_.assemble = secondsSince(assemblyStart_);
        return !failed_;
    }

    double element(int i, int j) const override {
        const int size = static_cast<int>(diagonal_.size());
        if (i < 1 || j < 1 || i > size || j > size)
            return 0.0;
        if (i == j)
            return diagonal_[i - 1];
        // Column max(i, j) holds row min(i, j) in the upper triangle, rows ascending.
        const int column = std::max(i, j) - 1;
        const std::int64_t row = std::min(i, j) - 1;
        const auto first = columns_.rows.begin() + columns_.start[column];
        const auto last = columns_.rows.begin() + columns_.start[column + 1];
        const auto at = std::lower_bound(first, last, row);
        return at != last && *at == row ? columns_.values[at - columns_.rows.begin()] : 0.0;
    }

    double rightHandSide(int i) const override {
        return i >= 1 && i < static_cast<int>(rhs_.size()) ? rhs_[i] : 0.0;
    }

    Factorisation factorise() override {
        Factorisation result;
        inverse_.clear();
        if (n_ == 0)
            return result;
        auto start = std::chrono::steady_clock::now();
        if (!factor_) {
            std::vector<SuiteSparse_long> permutation;
            if (!order(permutation)) {
                result.outOfMemory = true;
                return result;
            }
            factor_ = cholmod_l_analyze_p(&matrix_, permutation.data(), nullptr, 0, &common_);
            if (!factor_) {
                result.outOfMemory = true;
                return result;
            }
        }
        // Refused before the factorisation when it cannot fit: an allocation that fails inside
        // the BLAS kernels is not reported back, and an address space nearly used up made the
        // threaded kernels spin instead of failing.
        const double needed = factorisationBytes(*factor_, common_);
        const double available = availableMemoryBytes();
        if (needed > available) {
            result.outOfMemory = true;
            result.bytesNeeded = needed;
            result.bytesAvailable = available;
            memoryRefused = true;
            dropAnalysis();
            return result;
        }
        times_.order = secondsSince(start);
        start = std::chrono::steady_clock::now();
        blasBuffersHeld = true;
        cholmod_l_factorize(&matrix_, factor_, &common_);
        times_.factorise = secondsSince(start);
        if (common_.status == CHOLMOD_OUT_OF_MEMORY) {
            result.outOfMemory = true;
            return result;
        }
        const auto* perm = static_cast<const SuiteSparse_long*>(factor_->Perm);
        if (common_.status == CHOLMOD_NOT_POSDEF || factor_->minor < factor_->n) {
            const SuiteSparse_long minor = std::min<SuiteSparse_long>(factor_->minor, n_ - 1);
            result.badPivot = static_cast<int>(perm[minor]) + 1;
            // A factor that failed is analysed anew for the next system.
            dropAnalysis();
        }
        return result;
    }

    bool solve(double* x, bool invert) override {
        if (n_ == 0)
            return true;
        auto start = std::chrono::steady_clock::now();
        cholmod_dense* b = cholmod_l_zeros(n_, 1, CHOLMOD_REAL, &common_);
        if (!b)
            return false;
        std::copy(rhs_.begin() + 1, rhs_.end(), static_cast<double*>(b->x));
        cholmod_dense* solution = cholmod_l_solve(CHOLMOD_A, factor_, b, &common_);
        cholmod_l_free_dense(&b, &common_);
        if (!solution)
            return false;
        const auto* values = static_cast<const double*>(solution->x);
        std::copy(values, values + n_, x + 1);
        cholmod_l_free_dense(&solution, &common_);
        times_.solve = secondsSince(start);
        if (!invert)
            return true;
        start = std::chrono::steady_clock::now();
        try {
            inverse_.invertInPlace(*factor_);
            const auto* perm = static_cast<const SuiteSparse_long*>(factor_->Perm);
            inversePermutation_.assign(static_cast<std::size_t>(n_), 0);
            for (int k = 0; k < n_; ++k)
                inversePermutation_[perm[k]] = k;
        } catch (const std::bad_alloc&) {
            inverse_.clear();
            return false;
        }
        times_.selectedInverse = secondsSince(start);
        return true;
    }

    // The selected inverse is formed with the last solution.
    bool completeInverse() override { return true; }

    double inverse(int i, int j) const override {
        if (inverse_.empty() || i < 1 || j < 1 || i > n_ || j > n_)
            return 0.0;
        return inverse_.element(*factor_, inversePermutation_[i - 1], inversePermutation_[j - 1]);
    }

    bool describe(char* text, std::size_t size) const override {
        std::snprintf(text, size, "%d unknowns, %ld nonzeros in N, %ld in its factor", n_,
                      static_cast<long>(columns_.rows.size()),
                      factor_ ? static_cast<long>(factorEntries()) : 0L);
        return true;
    }

    void release() override {
        dropAnalysis();
        assembly_.release();
        columns_ = {};
        matrix_ = {};
        n_ = -1;
        std::vector<double>().swap(rhs_);
        std::vector<double>().swap(diagonal_);
    }

    SparsePhaseTimes times() const { return times_; }

  private:
    // Nonzeros of the factor as a column-by-column factor would hold them: the lower triangle of
    // each supernode's diagonal block and its rows below.
    std::size_t factorEntries() const {
        if (!factor_->is_super)
            return static_cast<std::size_t>(static_cast<const SuiteSparse_long*>(factor_->p)[n_]);
        const auto* super = static_cast<const SuiteSparse_long*>(factor_->super);
        const auto* pi = static_cast<const SuiteSparse_long*>(factor_->pi);
        std::size_t count = 0;
        for (std::size_t s = 0; s < factor_->nsuper; ++s) {
            const auto columns = static_cast<std::size_t>(super[s + 1] - super[s]);
            const auto rows = static_cast<std::size_t>(pi[s + 1] - pi[s]);
            count += columns * rows - columns * (columns - 1) / 2;
        }
        return count;
    }

    void dropAnalysis() {
        inverse_.clear();
        std::vector<SuiteSparse_long>().swap(inversePermutation_);
        if (factor_)
            cholmod_l_free_factor(&factor_, &common_);
    }

    // A fill-reducing order of the unknowns with the `trailing` ones last, in their own order:
    // they share equations with nearly every site and would fill every column ordered after them.
    bool order(std::vector<SuiteSparse_long>& permutation) {
        try {
            permutation.assign(static_cast<std::size_t>(n_), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        const int leading = n_ - trailing_;
        if (leading > 0) {
            // The leading unknowns' columns hold only leading rows: the block is a view.
            cholmod_sparse block = matrix_;
            block.nrow = block.ncol = static_cast<std::size_t>(leading);
            if (leading >= nestedDissectionFrom_) {
                if (!cholmod_l_metis(&block, nullptr, 0, false, permutation.data(), &common_))
                    return false;
            } else if (!cholmod_l_amd(&block, nullptr, 0, permutation.data(), &common_)) {
                return false;
            }
        }
        for (int k = leading; k < n_; ++k)
            permutation[k] = k;
        return true;
    }

    mutable cholmod_common common_{};
    const int nestedDissectionFrom_;
    int n_ = -1;
    int trailing_ = 0;
    bool failed_ = false;
    std::vector<double> rhs_;
    NormalAssembly assembly_;
    NormalAssembly::Columns columns_;
    cholmod_sparse matrix_{};  // a view of columns_
    std::vector<double> diagonal_;
    cholmod_factor* factor_ = nullptr;
    SupernodalInverse inverse_;
    std::vector<SuiteSparse_long> inversePermutation_;
    SparsePhaseTimes times_;
    // The clock is read at start() and finish() only: two reads per equation took a sixth of
    // the assembly's time.
    std::chrono::steady_clock::time_point assemblyStart_;
};

}  // namespace

std::unique_ptr<NormalSolver> makeSparseNormalSolver(int nestedDissectionFrom) {
    return std::make_unique<SparseNormalSolver>(nestedDissectionFrom);
}

std::unique_ptr<NormalSolver> makeSparseNormalSolver() {
    return makeSparseNormalSolver(kNestedDissectionFrom);
}

SparsePhaseTimes sparsePhaseTimes(const NormalSolver& solver) {
    const auto* sparse = dynamic_cast<const SparseNormalSolver*>(&solver);
    return sparse ? sparse->times() : SparsePhaseTimes{};
}

bool sparseMemoryRefused() {
    return memoryRefused;
}

bool setBlasThreads(int threads) {
    using SetThreads = void (*)(int);
    threads = std::clamp(threads, 1, kMaxBlasThreads);
    // CHOLMOD's supernodal factorisation opens OpenMP regions of a fixed four threads, whatever
    // the count asked: on a two-core machine with one core busy a 10,000-site run then spent
    // more time waiting in the runtime's locks than computing. One thread asked for makes every
    // region run on the calling thread alone (no active level); more leave them as they are.
    // Looked up rather than linked, like the BLAS call below: the runtime comes with CHOLMOD.
    const auto levels =
        reinterpret_cast<SetThreads>(::dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (levels != nullptr && threads == 1)
        levels(0);
    // Looked up rather than linked: the BLAS the system provides may be another one.
    const auto set =
        reinterpret_cast<SetThreads>(::dlsym(RTLD_DEFAULT, "openblas_set_num_threads"));
    if (set == nullptr)
        return false;
    set(threads);
    return true;
}

}  // namespace torvek
