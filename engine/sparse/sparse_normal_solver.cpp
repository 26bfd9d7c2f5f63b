#include "engine/sparse/sparse_normal_solver.h"

#include <suitesparse/cholmod.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

namespace torvek {
namespace {

// Products gathered before they are summed into the matrix: at least a quarter million (6 MB), so
// that each summing pass is worth its fixed cost, and at most the matrix's own size, so that the
// pending products never hold more memory than the matrix and summing stays linear overall.
constexpr std::size_t kMinPendingEntries = std::size_t{1} << 18;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class SparseNormalSolver final : public NormalSolver {
  public:
    SparseNormalSolver() {
        cholmod_l_start(&common_);
        // Out of memory is reported by the engine, not printed by the library.
        common_.print = 0;
        common_.error_handler = nullptr;
    }
    ~SparseNormalSolver() override {
        release();
        cholmod_l_finish(&common_);
    }

    const char* name() const override { return "sparse"; }

    bool start(int n, int trailing) override {
        release();
        n_ = n;
        trailing_ = std::clamp(trailing, 0, n);
        failed_ = false;
        try {
            rhs_.assign(static_cast<std::size_t>(n) + 1, 0.0);
        } catch (const std::bad_alloc&) {
            failed_ = true;
        }
        return !failed_;
    }

    void add(const EquationRecord& equation) override {
        if (failed_ || equation.weight == 0)
            return;
        // Unknowns of this equation with their summed coefficients, ascending.
        int unknown[kVectorEquationTerms];
        double coefficient[kVectorEquationTerms];
        int kept = 0;
        for (int k = 0; k < equation.termCount && k < kVectorEquationTerms; ++k) {
            const int u = equation.terms[k].unknown;
            if (u < 1 || u > n_)
                continue;
            int at = 0;
            while (at < kept && unknown[at] < u)
                ++at;
            if (at < kept && unknown[at] == u) {
                coefficient[at] += equation.terms[k].coefficient;
                continue;
            }
            for (int m = kept; m > at; --m) {
                unknown[m] = unknown[m - 1];
                coefficient[m] = coefficient[m - 1];
            }
            unknown[at] = u;
            coefficient[at] = equation.terms[k].coefficient;
            ++kept;
        }
        const auto start = std::chrono::steady_clock::now();
        try {
            for (int r = 0; r < kept; ++r) {
                rhs_[unknown[r]] -= coefficient[r] * (equation.weight * equation.misclosure);
                for (int c = r; c < kept; ++c) {
                    rows_.push_back(unknown[r] - 1);
                    columns_.push_back(unknown[c] - 1);
                    values_.push_back(coefficient[r] * coefficient[c] * equation.weight);
                }
            }
            if (rows_.size() >= std::max(kMinPendingEntries, matrixEntries()))
                failed_ = !sumPending();
        } catch (const std::bad_alloc&) {
            failed_ = true;
        }
        times_.assemble += secondsSince(start);
    }

    bool finish() override {
        const auto start = std::chrono::steady_clock::now();
        if (!failed_ && (!rows_.empty() || !matrix_))
            failed_ = !sumPending();
        if (!failed_) {
            try {
                diagonal_.assign(static_cast<std::size_t>(n_), 0.0);
            } catch (const std::bad_alloc&) {
                failed_ = true;
            }
        }
        if (!failed_) {
            const auto* p = static_cast<const SuiteSparse_long*>(matrix_->p);
            const auto* i = static_cast<const SuiteSparse_long*>(matrix_->i);
            const auto* x = static_cast<const double*>(matrix_->x);
            for (int j = 0; j < n_; ++j)
                for (SuiteSparse_long k = p[j]; k < p[j + 1]; ++k)
                    if (i[k] == j)
                        diagonal_[j] += x[k];
        }
        times_.assemble += secondsSince(start);
        return !failed_;
    }

    double diagonal(int u) const override {
        return u >= 1 && u <= static_cast<int>(diagonal_.size()) ? diagonal_[u - 1] : 0.0;
    }

    Factorisation factorise() override {
        Factorisation result;
        if (n_ == 0)
            return result;
        auto start = std::chrono::steady_clock::now();
        std::vector<SuiteSparse_long> member, permutation;
        try {
            member.assign(static_cast<std::size_t>(n_), 0);
            permutation.assign(static_cast<std::size_t>(n_), 0);
        } catch (const std::bad_alloc&) {
            result.outOfMemory = true;
            return result;
        }
        // Constraint set 1, ordered after set 0: the bias unknowns, which share equations with
        // nearly every site and would fill every column ordered after them.
        std::fill(member.end() - trailing_, member.end(), 1);
        if (!cholmod_l_camd(matrix_, nullptr, 0, member.data(), permutation.data(), &common_)) {
            result.outOfMemory = true;
            return result;
        }
        common_.nmethods = 1;
        common_.method[0].ordering = CHOLMOD_GIVEN;
        common_.postorder = false;
        factor_ = cholmod_l_analyze_p(matrix_, permutation.data(), nullptr, 0, &common_);
        times_.order = secondsSince(start);
        if (!factor_) {
            result.outOfMemory = true;
            return result;
        }
        start = std::chrono::steady_clock::now();
        cholmod_l_factorize(matrix_, factor_, &common_);
        times_.factorise = secondsSince(start);
        if (common_.status == CHOLMOD_OUT_OF_MEMORY) {
            result.outOfMemory = true;
            return result;
        }
        const auto* perm = static_cast<const SuiteSparse_long*>(factor_->Perm);
        if (common_.status == CHOLMOD_NOT_POSDEF || factor_->minor < factor_->n) {
            const SuiteSparse_long minor = std::min<SuiteSparse_long>(factor_->minor, n_ - 1);
            result.badPivot = static_cast<int>(perm[minor]) + 1;
            return result;
        }
        // The selected inverse runs on the simplicial LDL' form.
        if (!cholmod_l_change_factor(CHOLMOD_REAL, false, false, true, true, factor_, &common_))
            result.outOfMemory = true;
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
        std::vector<double>().swap(inverse_);
        if (!invert)
            return true;
        start = std::chrono::steady_clock::now();
        const bool inverted = selectedInverse();
        times_.selectedInverse = secondsSince(start);
        return inverted;
    }

    double inverse(int i, int j) const override {
        if (inverse_.empty() || i < 1 || j < 1 || i > n_ || j > n_)
            return 0.0;
        SuiteSparse_long a = inversePermutation_[i - 1], b = inversePermutation_[j - 1];
        if (a > b)
            std::swap(a, b);
        const auto* p = static_cast<const SuiteSparse_long*>(factor_->p);
        const auto* rows = static_cast<const SuiteSparse_long*>(factor_->i);
        for (SuiteSparse_long k = p[a]; k < p[a + 1]; ++k)
            if (rows[k] == b)
                return inverse_[k];
        return 0.0;
    }

    void describe(char* text, std::size_t size) const override {
        std::snprintf(text, size, "%d unknowns, %ld nonzeros in N, %ld in its factor", n_,
                      matrix_ ? static_cast<long>(cholmod_l_nnz(matrix_, &common_)) : 0L,
                      factor_ ? static_cast<long>(factorEntries()) : 0L);
    }

    void release() override {
        if (matrix_)
            cholmod_l_free_sparse(&matrix_, &common_);
        if (factor_)
            cholmod_l_free_factor(&factor_, &common_);
        std::vector<SuiteSparse_long>().swap(rows_);
        std::vector<SuiteSparse_long>().swap(columns_);
        std::vector<double>().swap(values_);
        std::vector<double>().swap(inverse_);
        std::vector<SuiteSparse_long>().swap(inversePermutation_);
        diagonal_.clear();
    }

    SparsePhaseTimes times() const { return times_; }

  private:
    std::size_t matrixEntries() const {
        return matrix_
                   ? static_cast<std::size_t>(static_cast<const SuiteSparse_long*>(matrix_->p)[n_])
                   : 0;
    }
    std::size_t factorEntries() const {
        return static_cast<std::size_t>(static_cast<const SuiteSparse_long*>(factor_->p)[n_]);
    }

    // Sums the pending products into the matrix (upper triangle, duplicates added).
    bool sumPending() {
        const std::size_t count = rows_.size();
        cholmod_triplet* triplet = cholmod_l_allocate_triplet(
            n_, n_, std::max<std::size_t>(count, 1), 1, CHOLMOD_REAL, &common_);
        if (!triplet)
            return false;
        std::copy(rows_.begin(), rows_.end(), static_cast<SuiteSparse_long*>(triplet->i));
        std::copy(columns_.begin(), columns_.end(), static_cast<SuiteSparse_long*>(triplet->j));
        std::copy(values_.begin(), values_.end(), static_cast<double*>(triplet->x));
        triplet->nnz = count;
        rows_.clear();
        columns_.clear();
        values_.clear();
        cholmod_sparse* part = cholmod_l_triplet_to_sparse(triplet, count, &common_);
        cholmod_l_free_triplet(&triplet, &common_);
        if (!part)
            return false;
        if (!matrix_) {
            matrix_ = part;
            return true;
        }
        double one[2] = {1, 0};
        cholmod_sparse* sum = cholmod_l_add(matrix_, part, one, one, true, true, &common_);
        cholmod_l_free_sparse(&part, &common_);
        if (!sum)
            return false;
        cholmod_l_free_sparse(&matrix_, &common_);
        matrix_ = sum;
        return true;
    }

    // Takahashi's recurrences on L D L^T (unit L, permuted): for j from the last column down,
    // Z_ij = -sum_k L_kj Z_ik over k > j in column j's pattern, and Z_jj = 1/D_j - sum_k L_kj Z_kj.
    // Every Z_ik needed lies on L's pattern, so only that pattern is ever formed.
    bool selectedInverse() {
        const auto* p = static_cast<const SuiteSparse_long*>(factor_->p);
        const auto* rows = static_cast<const SuiteSparse_long*>(factor_->i);
        const auto* l = static_cast<const double*>(factor_->x);
        const auto* perm = static_cast<const SuiteSparse_long*>(factor_->Perm);
        try {
            inverse_.assign(factorEntries(), 0.0);
            inversePermutation_.assign(static_cast<std::size_t>(n_), 0);
            std::vector<SuiteSparse_long> position(static_cast<std::size_t>(n_), -1);
            std::vector<double> column;
            for (int k = 0; k < n_; ++k)
                inversePermutation_[perm[k]] = k;
            for (SuiteSparse_long j = n_ - 1; j >= 0; --j) {
                const SuiteSparse_long first = p[j], end = p[j + 1];
                column.assign(static_cast<std::size_t>(end - first), 0.0);
                for (SuiteSparse_long q = first + 1; q < end; ++q)
                    position[rows[q]] = q - first;
                for (SuiteSparse_long q = first + 1; q < end; ++q) {
                    const SuiteSparse_long k = rows[q];
                    const double lkj = l[q];
                    column[q - first] -= lkj * inverse_[p[k]];
                    for (SuiteSparse_long t = p[k] + 1; t < p[k + 1]; ++t) {
                        const SuiteSparse_long at = position[rows[t]];
                        if (at < 0)
                            continue;
                        column[at] -= lkj * inverse_[t];
                        column[q - first] -= l[first + at] * inverse_[t];
                    }
                }
                double diagonal = 1.0 / l[first];
                for (SuiteSparse_long q = first + 1; q < end; ++q) {
                    inverse_[q] = column[q - first];
                    diagonal -= l[q] * column[q - first];
                    position[rows[q]] = -1;
                }
                inverse_[first] = diagonal;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    mutable cholmod_common common_{};
    int n_ = 0;
    int trailing_ = 0;
    bool failed_ = false;
    std::vector<double> rhs_;
    std::vector<SuiteSparse_long> rows_, columns_;
    std::vector<double> values_;
    cholmod_sparse* matrix_ = nullptr;
    std::vector<double> diagonal_;
    cholmod_factor* factor_ = nullptr;
    std::vector<double> inverse_;
    std::vector<SuiteSparse_long> inversePermutation_;
    SparsePhaseTimes times_;
};

}  // namespace

std::unique_ptr<NormalSolver> makeSparseNormalSolver() {
    return std::make_unique<SparseNormalSolver>();
}

SparsePhaseTimes sparsePhaseTimes(const NormalSolver& solver) {
    const auto* sparse = dynamic_cast<const SparseNormalSolver*>(&solver);
    return sparse ? sparse->times() : SparsePhaseTimes{};
}

}  // namespace torvek
