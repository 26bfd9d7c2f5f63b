#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "engine/engine_limits.h"

namespace torvek {

/// The upper triangle of the normal matrix gathered by columns as its equations arrive: column c
/// holds rows r <= c (0-based). The last `trailing` columns (the bias unknowns, which share
/// equations with nearly every unknown) are held dense when there are few of them; every other
/// column as a sorted list of rows. The pattern stays from one assembly to the next of the same
/// order, so later iterations only add into places found before.
///
/// Each equation's products are placed once for a run of equations that name the same unknowns
/// (a vector's three). Most places follow from the one before or from the end of the column;
/// where the first row of a column cannot (a site's rows in the first column of a site numbered
/// after it), its place is kept after finish(), one number per such column and run (a vector:
/// one), and a later assembly takes it instead of searching when the list still holds that row
/// there: with the same equations in the same order, nothing is searched. From the first place
/// that does not hold its row (an equation added, left out or moved) or the first row inserted,
/// the assembly searches and notes the places anew for the next one. Every place is checked
/// against its row, and every product still goes to its element in the order the equations
/// arrive, so the sums are those of a search for each product.
class NormalAssembly {
  public:
    /// Compressed columns of the gathered triangle: column c's rows (ascending) and values are
    /// rows[start[c]..start[c + 1]).
    struct Columns {
        std::vector<std::int64_t> start, rows;
        std::vector<double> values;
    };
    /// Most unknowns an equation names.
    static constexpr int kMaxTerms = kVectorEquationTerms;

    /// Begins an assembly of order n >= 0 with the last `trailing` columns (0..n) dense. The
    /// pattern of the last assembly is kept (its values set to 0) when n and `trailing` are the
    /// same. Throws std::bad_alloc when memory is short.
    void start(int n, int trailing);
    /// Adds one equation: coefficient[r] * (coefficient[c] * weight) to element (unknown[r],
    /// unknown[c]) for 0 <= r <= c < count, in that order of c and r. `unknown`: 0-based,
    /// strictly ascending, below n; count 0..kMaxTerms. Throws std::bad_alloc.
    void addEquation(const int* unknown, const double* coefficient, int count, double weight);
    /// Writes the pattern of the products added since start() and their sums to `out`. True when
    /// that pattern differs from the one of the assembly before (always so after a new order).
    /// Throws std::bad_alloc.
    bool finish(Columns& out);
    /// Frees every buffer; the next start() builds the pattern anew.
    void release();

  private:
    struct Entry {
        std::int32_t row;
        std::int32_t touched;  // added into since start(); an entry never added into is dropped
        double value;
    };
    // Dense columns beyond this many would take n values each; more bias unknowns than this are
    // held as lists.
    static constexpr int kMaxDenseColumns = 8;
    // Products of one equation: every pair r <= c of its unknowns.
    static constexpr int kMaxProducts = kMaxTerms * (kMaxTerms + 1) / 2;

    // How the places of the first rows are kept in this assembly.
    enum class Hints : std::uint8_t {
        kRecord,  // searched; pairs of column and row noted, the rows made list indices in finish()
        kReuse,   // pairs of column and list index from the assembly before, each checked
    };

    bool namesLastUnknowns(const int* unknown, int count) const;
    void placeEquation(const int* unknown, int sparse);
    std::int32_t firstRowHint(int column, int row);
    void recordFromHere();
    std::int32_t place(std::vector<Entry>& list, std::int32_t from, int row);
    void keepHints();

    int n_ = -1;
    int trailing_ = 0;
    int firstDense_ = 0;
    bool patternGrown_ = true;
    std::vector<std::vector<Entry>> lists_;
    std::vector<double> dense_;          // (column - firstDense_) x n_ values
    std::vector<std::uint8_t> touched_;  // beside dense_
    std::vector<std::uint8_t> wasTouched_;

    // The unknowns of the last equation placed and the list index of each of its sparse products
    // (column c's row r at c * (c + 1) / 2 + r); count -1: none since start().
    int lastCount_ = -1;
    int lastUnknown_[kMaxTerms] = {};
    std::int32_t lastAt_[kMaxProducts] = {};

    std::size_t entries_ = 0;         // rows in the lists
    std::size_t touchedEntries_ = 0;  // of them added into since start()

    Hints hints_ = Hints::kRecord;
    // Pairs of column and (kRecord) row or (kReuse, and after finish()) list index of each first
    // row that the next assembly takes from here; hintCursor_ pairs have been taken. Grown in
    // blocks, never moved: an array that doubles frees large blocks, after which the allocator
    // kept 4 MB more of a 100,000-site run's memory at its peak.
    std::deque<std::int32_t> hintList_;
    std::size_t hintCursor_ = 0;
};

}  // namespace torvek
