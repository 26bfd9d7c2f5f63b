#include "engine/cholesky.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "engine/cholesky_reference.h"

// The loops below reproduce the element-by-element order of the straightforward solver exactly, so
// a product must never be fused with the following addition: that would change the rounding, and
// with it the results, between the processors the dispatch picks for.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#define TORVEK_SOLVER_X86_DISPATCH 1
#endif

#define TORVEK_INLINE [[gnu::always_inline]] inline

// How the work is arranged. The packed triangle is stored row by row, so the straightforward
// column walks touch one float per cache line. Every fast loop here instead keeps a small tile of
// results (a few rows by one or more vector widths of columns) in registers and walks the
// summation index through rows, reading a contiguous run of each row it visits, so that every
// cache line fetched serves a whole vector and each loaded value feeds several rows. Each result
// element still receives exactly the products of the straightforward loop, one after the other in
// ascending summation order starting from zero; only the interleaving of different elements
// changes, which does not alter any rounding.

namespace torvek {
namespace {

inline std::ptrdiff_t rowOffset(int n, int i) {
    return static_cast<std::ptrdiff_t>(i) * n - static_cast<std::ptrdiff_t>(i) * (i + 1) / 2;
}

// Row i of the packed triangle addressed by column: element (i, j), 0-based j >= i, is
// rowBase(a, n, i)[j]. The pointer itself lies inside the buffer (it is at or after the start of
// row 0), so reading a few columns left of the diagonal stays inside the triangle.
inline float* rowBase(float* a, int n, int i) {
    return a + rowOffset(n, i);
}
inline const float* rowBase(const float* a, int n, int i) {
    return a + rowOffset(n, i);
}

inline bool isUsablePivot(float d) {
    return d > 0.0f && d <= FLT_MAX;
}

// Tile shapes per instruction set: Bytes of one vector register, Rows of results per tile (each
// one broadcast per step), Vectors per tile row. Rows x Vectors accumulators plus the loaded
// vectors must fit the register file: 16 registers for the 16- and 32-byte sets, 32 for 64 bytes.
template <int Bytes, int Rows, int Vectors>
struct TileShape {
    typedef float V __attribute__((vector_size(Bytes)));
    static constexpr int kLanes = Bytes / static_cast<int>(sizeof(float));
    static constexpr int kRows = Rows;
    static constexpr int kVectors = Vectors;
    static constexpr int kColumns = kLanes * Vectors;
};

using PortableShape = TileShape<16, 4, 3>;
using Avx2Shape = TileShape<32, 4, 3>;
using Avx512Shape = TileShape<64, 8, 3>;

// Rows of R^-1 formed together by invertFactor, and the rows of R applied per pass. The rows of
// R below the block are read once per block, so larger blocks mean less traffic; the block of
// R^-1 (kInverseRowBlock x a full row) stays in the second-level cache.
constexpr int kInverseRowBlock = 48;
constexpr int kInverseDepthBlock = 64;

template <class Shape>
struct Solver {
    using V = typename Shape::V;
    static constexpr int L = Shape::kLanes;
    static constexpr int MR = Shape::kRows;
    static constexpr int NV = Shape::kVectors;
    static constexpr int NR = Shape::kColumns;
    static_assert(NR % MR == 0, "diagonal tiles must start on a row tile boundary");
    static_assert(kInverseRowBlock % MR == 0, "the inverse row block is made of whole tiles");

    using Strip = V[NV];
    typedef double DoubleV __attribute__((vector_size(2 * sizeof(V))));

    TORVEK_INLINE static void loadVector(const float* p, V& out) {
        std::memcpy(&out, p, sizeof out);
    }

    // Lanes [0, count) of the strip at p, the rest zero; count in [0, NR]. The partial form is
    // used only in the last strip, whose columns end at the end of the triangle.
    template <bool kFull>
    TORVEK_INLINE static void loadStrip(const float* p, int count, Strip& out) {
        if constexpr (kFull) {
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                loadVector(p + v * L, out[v]);
            }
        } else {
            float tmp[NR] = {};
            std::memcpy(tmp, p, static_cast<std::size_t>(count) * sizeof(float));
            std::memcpy(out, tmp, sizeof tmp);
        }
    }

    // Stores lanes [first, last) of the strip to p + first.
    template <bool kFull>
    TORVEK_INLINE static void storeStrip(float* p, const Strip& in, int first, int last) {
        if (kFull && first == 0 && last == NR) {
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                std::memcpy(p + v * L, &in[v], sizeof(V));
            }
        } else {
            float tmp[NR];
            std::memcpy(tmp, in, sizeof tmp);
            std::memcpy(p + first, tmp + first,
                        static_cast<std::size_t>(last - first) * sizeof(float));
        }
    }

    TORVEK_INLINE static float lane(const Strip& s, int index) {
        return s[index / L][index % L];
    }
    TORVEK_INLINE static void setLane(Strip& s, int index, float value) {
        s[index / L][index % L] = value;
    }

    // ---- Cholesky factorisation -----------------------------------------------------------------
    //
    // Column strips of NR columns are finished left to right; within a strip, tiles of R rows
    // top to bottom. A tile first sums R_ki R_kj over all finished rows k above it, walking down
    // through rows k and reading from each the R factors of its own rows and a vector run of the
    // strip's columns. The rows inside the tile then finish one by one, each adding its products
    // to the rows below it before they finish, so that element (i, j) has seen k = 0..i-1 in
    // order, exactly as the straightforward dot product. Tiles on the diagonal also form the
    // pivots; their lanes left of the diagonal are computed but never stored.
    template <int R, bool kFull>
    TORVEK_INLINE static int factorTile(float* a, int n, int i0, int j0, int nc, bool onDiagonal) {
        Strip acc[R];
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) {
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                acc[r][v] = V{};
            }
        }
        const float* row = a;
        for (int k = 0; k < i0; ++k) {
            Strip b;
            loadStrip<kFull>(row + j0, nc, b);
#pragma GCC unroll 16
            for (int r = 0; r < R; ++r) {
                const float f = row[i0 + r];
#pragma GCC unroll 8
                for (int v = 0; v < NV; ++v) {
                    acc[r][v] += f * b[v];
                }
            }
            row += n - k - 1;
        }
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) {
            const int i = i0 + r;
            float* rowI = rowBase(a, n, i);
            Strip c;
            loadStrip<kFull>(rowI + j0, nc, c);
            float pivot;
            if (onDiagonal) {
                const float d = lane(c, i - j0) - lane(acc[r], i - j0);
                if (!isUsablePivot(d)) {
                    return i + 1;
                }
                pivot = std::sqrt(d);
            } else {
                pivot = rowI[i];
            }
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                c[v] = (c[v] - acc[r][v]) / pivot;
            }
            if (onDiagonal) {
                setLane(c, i - j0, pivot);
                storeStrip<kFull>(rowI + j0, c, i - j0, nc);
            } else {
                storeStrip<kFull>(rowI + j0, c, 0, nc);
            }
#pragma GCC unroll 16
            for (int r2 = r + 1; r2 < R; ++r2) {
                const float f = rowI[i0 + r2];
#pragma GCC unroll 8
                for (int v = 0; v < NV; ++v) {
                    acc[r2][v] += f * c[v];
                }
            }
        }
        return 0;
    }

    template <bool kFull>
    TORVEK_INLINE static int factorStrip(float* a, int n, int j0, int nc) {
        for (int i0 = 0; i0 < j0; i0 += MR) {
            factorTile<MR, kFull>(a, n, i0, j0, nc, false);
        }
        int i0 = j0;
        for (; i0 + MR <= j0 + nc; i0 += MR) {
            if (const int failed = factorTile<MR, kFull>(a, n, i0, j0, nc, true)) {
                return failed;
            }
        }
        for (; i0 < j0 + nc; ++i0) {
            if (const int failed = factorTile<1, kFull>(a, n, i0, j0, nc, true)) {
                return failed;
            }
        }
        return 0;
    }

    TORVEK_INLINE static int factorize(float* a, int n) {
        for (int j0 = 0; j0 < n; j0 += NR) {
            const int nc = std::min(NR, n - j0);
            const int failed =
                nc == NR ? factorStrip<true>(a, n, j0, nc) : factorStrip<false>(a, n, j0, nc);
            if (failed) {
                return failed;
            }
        }
        return 0;
    }

    // ---- Forward substitution -------------------------------------------------------------------
    //
    // Row k of R is applied to all later unknowns as soon as y_k is known; s_i collects the same
    // products in the same order as the straightforward dot product down column i.
    TORVEK_INLINE static bool forwardSubstitute(const float* a, int n, const double* u, double* y) {
        if (n <= 0) {
            return true;
        }
        std::unique_ptr<float[]> sums(new (std::nothrow) float[static_cast<std::size_t>(n)]);
        if (!sums) {
            return false;
        }
        float* s = sums.get();
        std::fill(s, s + n, 0.0f);
        for (int k = 0; k < n; ++k) {
            const float* rowK = rowBase(a, n, k);
            const double yk = (u[k] - s[k]) / rowK[k];
            y[k] = yk;
            // s_i += y_k R_ki: the product and the sum in double, the sum rounded back to float.
            int i = k + 1;
            for (; i + L <= n; i += L) {
                V sv, rv;
                loadVector(s + i, sv);
                loadVector(rowK + i, rv);
                const DoubleV sum = __builtin_convertvector(sv, DoubleV) +
                                    yk * __builtin_convertvector(rv, DoubleV);
                sv = __builtin_convertvector(sum, V);
                std::memcpy(s + i, &sv, sizeof sv);
            }
            for (; i < n; ++i) {
                s[i] += yk * rowK[i];
            }
        }
        return true;
    }

    // ---- Inverse of the factor ------------------------------------------------------------------
    //
    // Row i of R^-1 depends only on rows i..n of R, so rows are formed in blocks of
    // kInverseRowBlock, each row of the block keeping its running sums in its own storage to the
    // right of the finished part (the straightforward loop reads R_ij there only for the k = i
    // term). Per block: (1) the triangle inside the block, row by row; (2) the
    // contributions of the block's own rows of R to all columns right of the block, in register
    // tiles, the coefficient of a row above the tile row being zero (adding a zero product leaves
    // a zero sum unchanged); (3) for each run of kInverseDepthBlock rows of R below the block,
    // first the triangle that finishes those columns, then their contributions to all columns
    // further right, again in register tiles.

    // Tile of rows t0..t0+MR-1, columns j..j+nc-1: sums over rows k of R in [k0, kEnd).
    // kFromBlock: the coefficients are the block's own rows (triangular, sums start at zero);
    // otherwise they are finished columns of R^-1 and the sums continue from storage.
    template <bool kFull, bool kFromBlock>
    TORVEK_INLINE static void inverseTile(float* a, int n, int t0, int j, int nc, int k0,
                                          int kEnd) {
        float* rows[MR];
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            rows[r] = rowBase(a, n, t0 + r);
        }
        Strip acc[MR];
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            if constexpr (kFromBlock) {
#pragma GCC unroll 8
                for (int v = 0; v < NV; ++v) {
                    acc[r][v] = V{};
                }
            } else {
                loadStrip<kFull>(rows[r] + j, nc, acc[r]);
            }
        }
        const float* rowK = rowBase(a, n, k0);
        int k = k0;
        if constexpr (kFromBlock) {
            // k0 == t0: the first MR rows of R reach only the tile rows at or above them.
            for (; k < k0 + MR; ++k) {
                Strip b;
                loadStrip<kFull>(rowK + j, nc, b);
#pragma GCC unroll 16
                for (int r = 0; r < MR; ++r) {
                    const float f = r <= k - k0 ? rows[r][k] : 0.0f;
#pragma GCC unroll 8
                    for (int v = 0; v < NV; ++v) {
                        acc[r][v] += f * b[v];
                    }
                }
                rowK += n - k - 1;
            }
        }
        for (; k < kEnd; ++k) {
            Strip b;
            loadStrip<kFull>(rowK + j, nc, b);
#pragma GCC unroll 16
            for (int r = 0; r < MR; ++r) {
                const float f = rows[r][k];
#pragma GCC unroll 8
                for (int v = 0; v < NV; ++v) {
                    acc[r][v] += f * b[v];
                }
            }
            rowK += n - k - 1;
        }
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            storeStrip<kFull>(rows[r] + j, acc[r], 0, nc);
        }
    }

    // Columns [jBegin, n) of rows [i0, iEnd) receive the products of rows [k0, kEnd) of R.
    template <bool kFromBlock>
    TORVEK_INLINE static void inverseUpdate(float* a, int n, int i0, int iEnd, int jBegin, int k0,
                                            int kEnd) {
        for (int j = jBegin; j < n; j += NR) {
            const int nc = std::min(NR, n - j);
            // Top to bottom: a tile reads the rows of R at and below its own first row, which
            // the tiles above it have not overwritten and it overwrites only after reading.
            for (int t0 = i0; t0 < iEnd; t0 += MR) {
                const int from = kFromBlock ? t0 : k0;
                if (nc == NR) {
                    inverseTile<true, kFromBlock>(a, n, t0, j, nc, from, kEnd);
                } else {
                    inverseTile<false, kFromBlock>(a, n, t0, j, nc, from, kEnd);
                }
            }
        }
    }

    // Columns [k0, kEnd) of row i of R^-1 whose sums hold every term below k0: each column in
    // turn is finished and its row of R added to the columns after it, up to kEnd.
    TORVEK_INLINE static void finishColumns(float* a, int n, int i, int k0, int kEnd) {
        float* __restrict rowI = rowBase(a, n, i);
        for (int k = k0; k < kEnd; ++k) {
            const float* __restrict rowK = rowBase(a, n, k);
            const float x = -rowI[k] / rowK[k];
            rowI[k] = x;
            for (int j = k + 1; j < kEnd; ++j) {
                rowI[j] += x * rowK[j];
            }
        }
    }

    // The same for all kInverseRowBlock rows of a block, the columns copied out transposed so that
    // each step works on all rows at once in vector registers.
    TORVEK_INLINE static void finishColumnsOfBlock(float* a, int n, int i0, int k0, int kEnd) {
        constexpr int B = kInverseRowBlock;
        static_assert(B % L == 0, "the block's rows fill whole vectors");
        float t[kInverseDepthBlock * B];
        const int depth = kEnd - k0;
        for (int r = 0; r < B; ++r) {
            const float* rowI = rowBase(a, n, i0 + r);
            for (int c = 0; c < depth; ++c) {
                t[c * B + r] = rowI[k0 + c];
            }
        }
        constexpr int BV = B / L;
        for (int c = 0; c < depth; ++c) {
            const float* rowK = rowBase(a, n, k0 + c);
            V column[BV];
            const float pivot = rowK[k0 + c];
#pragma GCC unroll 16
            for (int v = 0; v < BV; ++v) {
                loadVector(t + c * B + v * L, column[v]);
                column[v] = -column[v] / pivot;
                std::memcpy(t + c * B + v * L, &column[v], sizeof(V));
            }
            for (int c2 = c + 1; c2 < depth; ++c2) {
                const float f = rowK[k0 + c2];
                float* later = t + c2 * B;
#pragma GCC unroll 16
                for (int v = 0; v < BV; ++v) {
                    V x;
                    loadVector(later + v * L, x);
                    x += column[v] * f;
                    std::memcpy(later + v * L, &x, sizeof(V));
                }
            }
        }
        for (int r = 0; r < B; ++r) {
            float* rowI = rowBase(a, n, i0 + r);
            for (int c = 0; c < depth; ++c) {
                rowI[k0 + c] = t[c * B + r];
            }
        }
    }

    TORVEK_INLINE static void invertFactor(float* a, int n) {
        for (int i0 = 0; i0 < n; i0 += kInverseRowBlock) {
            const int iEnd = std::min(i0 + kInverseRowBlock, n);
            for (int i = i0; i < iEnd; ++i) {
                float* __restrict rowI = rowBase(a, n, i);
                const float inverse = 1.0f / rowI[i];
                rowI[i] = inverse;
                for (int j = i + 1; j < iEnd; ++j) {
                    rowI[j] = 0.0f + inverse * rowI[j];
                }
                finishColumns(a, n, i, i + 1, iEnd);
            }
            if (iEnd == n) {
                break;
            }
            inverseUpdate<true>(a, n, i0, iEnd, iEnd, i0, iEnd);
            for (int k0 = iEnd; k0 < n; k0 += kInverseDepthBlock) {
                const int kEnd = std::min(k0 + kInverseDepthBlock, n);
                finishColumnsOfBlock(a, n, i0, k0, kEnd);
                inverseUpdate<false>(a, n, i0, iEnd, kEnd, k0, kEnd);
            }
        }
    }

    // ---- Solution and variances from R^-1 -------------------------------------------------------
    //
    // Each x_i and q_i is a sum along row i; eight rows advance together so that their eight
    // independent chains of additions overlap instead of waiting on one another.
    TORVEK_INLINE static void solveFromInverseFactor(const float* a, int n, const double* y,
                                                     double* x, double* q) {
        constexpr int G = 8;
        int i = 0;
        for (; i + G <= n; i += G) {
            const float* rows[G];
            float s[G];
            double sq[G];
            for (int r = 0; r < G; ++r) {
                rows[r] = rowBase(a, n, i + r);
                s[r] = 0.0f;
                sq[r] = 0.0;
                for (int j = i + r; j < i + G; ++j) {
                    const float e = rows[r][j];
                    s[r] += e * y[j];
                    sq[r] += e * e;
                }
            }
            for (int j = i + G; j < n; ++j) {
                const double yj = y[j];
#pragma GCC unroll 8
                for (int r = 0; r < G; ++r) {
                    const float e = rows[r][j];
                    s[r] += e * yj;
                    sq[r] += e * e;
                }
            }
            // Written only now: rows of this group read y at their own and later positions.
            for (int r = 0; r < G; ++r) {
                x[i + r] = s[r];
                q[i + r] = sq[r];
            }
        }
        for (; i < n; ++i) {
            const float* row = rowBase(a, n, i);
            float s = 0.0f;
            double sq = 0.0;
            for (int j = i; j < n; ++j) {
                s += row[j] * y[j];
                sq += row[j] * row[j];
            }
            x[i] = s;
            q[i] = sq;
        }
    }

    // ---- Full inverse ---------------------------------------------------------------------------
    //
    // Q_ij = sum over k >= j of (R^-1)_ik (R^-1)_jk runs along rows i and j alike, so the rows j
    // of one strip of NR columns are first copied into a small panel transposed (k by j) with
    // zeros left of each row's diagonal; a zero product leaves the zero-started sum unchanged, so
    // every lane may start at the strip's first column. Rows above the strip broadcast their own
    // elements; the strip's own rows take theirs from the panel, their storage being overwritten.
    // Strips go left to right: a row is read only right of the strip being written.

    template <int R, bool kFromPanel>
    TORVEK_INLINE static void inverseProductTile(float* a, int n, const float* panel, int i0,
                                                 int j0, int nc) {
        Strip acc[R];
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) {
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                acc[r][v] = V{};
            }
        }
        float* rows[R];
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) {
            rows[r] = rowBase(a, n, i0 + r);
        }
        // Panel rows of the strip's own rows are zero before their diagonal.
        const int kBegin = kFromPanel ? i0 : j0;
        const float* p = panel + static_cast<std::ptrdiff_t>(kBegin - j0) * NR;
        for (int k = kBegin; k < n; ++k, p += NR) {
            Strip b;
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                loadVector(p + v * L, b[v]);
            }
#pragma GCC unroll 16
            for (int r = 0; r < R; ++r) {
                const float f = kFromPanel ? p[i0 + r - j0] : rows[r][k];
#pragma GCC unroll 8
                for (int v = 0; v < NV; ++v) {
                    acc[r][v] += f * b[v];
                }
            }
        }
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) {
            const int first = kFromPanel ? i0 + r - j0 : 0;
            if (nc == NR) {
                storeStrip<true>(rows[r] + j0, acc[r], first, nc);
            } else {
                storeStrip<false>(rows[r] + j0, acc[r], first, nc);
            }
        }
    }

    TORVEK_INLINE static bool formFullInverse(float* a, int n) {
        if (n <= 0) {
            return true;
        }
        std::unique_ptr<float[]> panelStorage(
            new (std::nothrow) float[static_cast<std::size_t>(n) * NR]);
        if (!panelStorage) {
            return false;
        }
        float* panel = panelStorage.get();
        for (int j0 = 0; j0 < n; j0 += NR) {
            const int nc = std::min(NR, n - j0);
            std::fill(panel, panel + static_cast<std::ptrdiff_t>(n - j0) * NR, 0.0f);
            for (int c = 0; c < nc; ++c) {
                const float* rowJ = rowBase(a, n, j0 + c);
                for (int k = j0 + c; k < n; ++k) {
                    panel[static_cast<std::ptrdiff_t>(k - j0) * NR + c] = rowJ[k];
                }
            }
            for (int i0 = 0; i0 < j0; i0 += MR) {
                inverseProductTile<MR, false>(a, n, panel, i0, j0, nc);
            }
            int i0 = j0;
            for (; i0 + MR <= j0 + nc; i0 += MR) {
                inverseProductTile<MR, true>(a, n, panel, i0, j0, nc);
            }
            for (; i0 < j0 + nc; ++i0) {
                inverseProductTile<1, true>(a, n, panel, i0, j0, nc);
            }
        }
        return true;
    }
};

// ---- Instruction-set variants and run-time choice -----------------------------------------------

// One entry point per step and instruction set; Target is the instruction-set attribute.
#define TORVEK_SOLVER_VARIANT(Name, ShapeType, Target)                                      \
    Target int Name##Factorize(float* a, int n) {                                           \
        return Solver<ShapeType>::factorize(a, n);                                          \
    }                                                                                       \
    Target bool Name##Forward(const float* a, int n, const double* u, double* y) {          \
        return Solver<ShapeType>::forwardSubstitute(a, n, u, y);                            \
    }                                                                                       \
    Target void Name##Invert(float* a, int n) {                                             \
        Solver<ShapeType>::invertFactor(a, n);                                              \
    }                                                                                       \
    Target void Name##Solve(const float* a, int n, const double* y, double* x, double* q) { \
        Solver<ShapeType>::solveFromInverseFactor(a, n, y, x, q);                           \
    }                                                                                       \
    Target bool Name##FullInverse(float* a, int n) {                                        \
        return Solver<ShapeType>::formFullInverse(a, n);                                    \
    }

TORVEK_SOLVER_VARIANT(portable, PortableShape, )
#if TORVEK_SOLVER_X86_DISPATCH
TORVEK_SOLVER_VARIANT(avx2, Avx2Shape, __attribute__((target("avx2"))))
TORVEK_SOLVER_VARIANT(avx512, Avx512Shape, __attribute__((target("avx512f"))))
#endif

constexpr SolverKernels kPortableKernels{portableFactorize, portableForward, portableInvert,
                                         portableSolve, portableFullInverse};
#if TORVEK_SOLVER_X86_DISPATCH
constexpr SolverKernels kAvx2Kernels{avx2Factorize, avx2Forward, avx2Invert, avx2Solve,
                                     avx2FullInverse};
constexpr SolverKernels kAvx512Kernels{avx512Factorize, avx512Forward, avx512Invert, avx512Solve,
                                       avx512FullInverse};
#endif

const SolverKernels& bestKernels() {
    static const SolverKernels* const best = [] {
        for (SolverTarget t : {SolverTarget::kAvx512, SolverTarget::kAvx2}) {
            if (const SolverKernels* k = solverKernels(t)) {
                return k;
            }
        }
        return &kPortableKernels;
    }();
    return *best;
}

}  // namespace

const SolverKernels* solverKernels(SolverTarget target) {
#if TORVEK_SOLVER_X86_DISPATCH
    // The benchmark asks during static initialisation, possibly before the feature flags are set.
    __builtin_cpu_init();
#endif
    switch (target) {
        case SolverTarget::kPortable:
            return &kPortableKernels;
#if TORVEK_SOLVER_X86_DISPATCH
        case SolverTarget::kAvx2:
            return __builtin_cpu_supports("avx2") ? &kAvx2Kernels : nullptr;
        case SolverTarget::kAvx512:
            return __builtin_cpu_supports("avx512f") ? &kAvx512Kernels : nullptr;
#endif
        default:
            return nullptr;
    }
}

const char* solverTargetName(SolverTarget target) {
    switch (target) {
        case SolverTarget::kPortable:
            return "portable";
        case SolverTarget::kAvx2:
            return "avx2";
        case SolverTarget::kAvx512:
            return "avx512";
    }
    return "unknown";
}

int factorizeCholesky(float* packed, int n) {
    return bestKernels().factorize(packed, n);
}

void forwardSubstitute(const float* packed, int n, const double* u, double* y) {
    if (!bestKernels().forwardSubstitute(packed, n, u, y)) {
        reference::forwardSubstitute(packed, n, u, y);
    }
}

void invertFactor(float* packed, int n) {
    bestKernels().invertFactor(packed, n);
}

void solveFromInverseFactor(const float* packed, int n, const double* y, double* x, double* q) {
    bestKernels().solveFromInverseFactor(packed, n, y, x, q);
}

void formFullInverse(float* packed, int n) {
    if (!bestKernels().formFullInverse(packed, n)) {
        reference::formFullInverse(packed, n);
    }
}

}  // namespace torvek
