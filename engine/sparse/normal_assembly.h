#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace torvek {

/// The upper triangle of the normal matrix gathered by columns as its products arrive: column c
/// holds rows r <= c (0-based). The last `trailing` columns (the bias unknowns, which share
/// equations with nearly every unknown) are held dense when there are few of them; every other
/// column as a sorted list of rows. The pattern stays from one assembly to the next of the same
/// order, so later iterations only add into places found before.
class NormalAssembly {
  public:
    /// Compressed columns of the gathered triangle: column c's rows (ascending) and values are
    /// rows[start[c]..start[c + 1]).
    struct Columns {
        std::vector<std::int64_t> start, rows;
        std::vector<double> values;
    };

    /// Begins an assembly of order n >= 0 with the last `trailing` columns (0..n) dense. The
    /// pattern of the last assembly is kept (its values set to 0) when n and `trailing` are the
    /// same. Throws std::bad_alloc when memory is short.
    void start(int n, int trailing);
    /// Adds `value` to element (row, column), 0 <= row <= column < n. Throws std::bad_alloc.
    void add(int row, int column, double value);
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

    int n_ = -1;
    int trailing_ = 0;
    int firstDense_ = 0;
    bool patternGrown_ = true;
    std::vector<std::vector<Entry>> lists_;
    std::vector<double> dense_;          // (column - firstDense_) x n_ values
    std::vector<std::uint8_t> touched_;  // beside dense_
    std::vector<std::uint8_t> wasTouched_;
};

}  // namespace torvek
