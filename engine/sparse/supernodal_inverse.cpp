#include "engine/sparse/supernodal_inverse.h"

#include <algorithm>
#include <cstddef>

// BLAS and LAPACK (Fortran interface, 32-bit integers; the trailing arguments are the lengths of
// the character arguments). CHOLMOD itself factorises with them.
extern "C" {
void dgemm_(const char* transA, const char* transB, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t, std::size_t);
void dsymm_(const char* side, const char* uplo, const int* m, const int* n, const double* alpha,
            const double* a, const int* lda, const double* b, const int* ldb, const double* beta,
            double* c, const int* ldc, std::size_t, std::size_t);
void dtrsm_(const char* side, const char* uplo, const char* transA, const char* diag, const int* m,
            const int* n, const double* alpha, const double* a, const int* lda, double* b,
            const int* ldb, std::size_t, std::size_t, std::size_t, std::size_t);
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t);
}

namespace torvek {
namespace {

// One supernode of the factor: columns first..first + columns - 1, and `rows` row indices (its
// own columns first, then the rows below them, ascending) with a rows x columns block of values,
// column-major.
struct Supernode {
    SuiteSparse_long first, columns, rows;
    const SuiteSparse_long* rowIndex;
    double* values;
};

Supernode supernode(const cholmod_factor& factor, SuiteSparse_long s) {
    const auto* super = static_cast<const SuiteSparse_long*>(factor.super);
    const auto* pi = static_cast<const SuiteSparse_long*>(factor.pi);
    const auto* px = static_cast<const SuiteSparse_long*>(factor.px);
    return {super[s], super[s + 1] - super[s], pi[s + 1] - pi[s],
            static_cast<const SuiteSparse_long*>(factor.s) + pi[s],
            static_cast<double*>(factor.x) + px[s]};
}

}  // namespace

// From the last supernode S down, with R the rows below S and U = L_RS L_SS^-1:
//   Z_RS = -Z_RR U,   Z_SS = (L_SS L_SS^T)^-1 - U^T Z_RS.
// Z_RR lies in the blocks of S's ancestors, already inverted: every pair of rows of R lies on
// the factor's pattern (the rows below a column form a clique of the filled graph). S's own
// values are needed only for S, so Z takes their place.
void SupernodalInverse::invertInPlace(cholmod_factor& factor) {
    const SuiteSparse_long n = static_cast<SuiteSparse_long>(factor.n);
    const SuiteSparse_long count = static_cast<SuiteSparse_long>(factor.nsuper);
    superOfColumn_.assign(static_cast<std::size_t>(n), 0);
    for (SuiteSparse_long s = 0; s < count; ++s) {
        const Supernode node = supernode(factor, s);
        std::fill_n(superOfColumn_.begin() + node.first, node.columns, s);
    }
    std::vector<double> zRR, u;
    std::vector<SuiteSparse_long> position;
    const double one = 1, minusOne = -1, zero = 0;
    for (SuiteSparse_long s = count - 1; s >= 0; --s) {
        const Supernode node = supernode(factor, s);
        const int k = static_cast<int>(node.columns);
        const int m = static_cast<int>(node.rows - node.columns);
        const int ld = static_cast<int>(node.rows);
        if (m > 0) {
            const std::size_t mm = static_cast<std::size_t>(m);
            u.resize(mm * k);
            for (int c = 0; c < k; ++c)
                std::copy_n(node.values + static_cast<std::size_t>(c) * ld + k, m,
                            u.data() + c * mm);
            dtrsm_("R", "L", "N", "N", &m, &k, &one, node.values, &ld, u.data(), &m, 1, 1, 1, 1);
            gatherBelow(factor, node.rowIndex + k, m, zRR, position);
        }
        int info = 0;
        dpotri_("L", &k, node.values, &ld, &info, 1);
        if (m > 0) {
            dsymm_("L", "L", &m, &k, &minusOne, zRR.data(), &m, u.data(), &m, &zero,
                   node.values + k, &ld, 1, 1);
            dgemm_("T", "N", &k, &k, &m, &minusOne, u.data(), &m, node.values + k, &ld, &one,
                   node.values, &ld, 1, 1);
        }
    }
}

// The lower triangle of Z_RR (m x m, column-major) from the inverted blocks that hold the
// columns of R, taking each supernode's run of columns in R at once.
void SupernodalInverse::gatherBelow(const cholmod_factor& factor, const SuiteSparse_long* below,
                                    int m, std::vector<double>& zRR,
                                    std::vector<SuiteSparse_long>& position) const {
    const std::size_t mm = static_cast<std::size_t>(m);
    zRR.resize(mm * mm);
    position.resize(mm);
    for (int a = 0; a < m;) {
        const Supernode holder = supernode(factor, superOfColumn_[below[a]]);
        SuiteSparse_long j = below[a] - holder.first;
        for (int b = a; b < m; ++b) {
            while (j + 1 < holder.rows && holder.rowIndex[j] < below[b])
                ++j;
            position[b] = j;
        }
        int end = a;
        while (end < m && below[end] < holder.first + holder.columns)
            ++end;
        for (int c = a; c < end; ++c) {
            const double* z = holder.values + (below[c] - holder.first) * holder.rows;
            double* out = zRR.data() + c * mm;
            for (int b = c; b < m; ++b)
                out[b] = z[position[b]];
        }
        a = end;
    }
}

double SupernodalInverse::element(const cholmod_factor& factor, SuiteSparse_long a,
                                  SuiteSparse_long b) const {
    if (superOfColumn_.empty())
        return 0.0;
    if (a > b)
        std::swap(a, b);
    const Supernode node = supernode(factor, superOfColumn_[a]);
    const SuiteSparse_long* end = node.rowIndex + node.rows;
    const SuiteSparse_long* at = std::lower_bound(node.rowIndex + (a - node.first), end, b);
    if (at == end || *at != b)
        return 0.0;
    return node.values[(a - node.first) * node.rows + (at - node.rowIndex)];
}

void SupernodalInverse::clear() {
    std::vector<SuiteSparse_long>().swap(superOfColumn_);
}

}  // namespace torvek
