#pragma once
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace torvek {

/// Number of elements of the packed upper triangle of an n x n symmetric matrix, n >= 0.
constexpr std::size_t packedTriangleSize(int n) {
    return static_cast<std::size_t>(n) * (static_cast<std::size_t>(n) + 1) / 2;
}

/// 0-based position of element (i, j), 1-based 1 <= i <= j <= n, in the upper triangle of an n x n
/// symmetric matrix stored row by row (row i holds columns i..n).
constexpr std::size_t packedIndex(int i, int j, int n) {
    // (i - 1)(2n - i) is always even: one of the two factors is.
    return static_cast<std::size_t>(i - 1) * (2 * static_cast<std::size_t>(n) - i) / 2 +
           static_cast<std::size_t>(j - 1);
}

/// The single-precision normal matrix of one adjustment attempt: the packed upper triangle of the
/// symmetric n x n matrix, row by row. It holds N, then its Cholesky factor R, then R^-1 and at the
/// end the full inverse, all in the same buffer (cholesky.h). Elements are in the units of the
/// weighted equations (1/m^2 for coordinate unknowns) and are addressed 1-based. The buffer is
/// sized for the unknowns in use, n(n + 1)/2 floats, so that a small network does not pay for the
/// largest one.
class NormalMatrix {
  public:
    /// Largest order: 500 sites with three unknowns each plus the four datum bias unknowns.
    static constexpr int kMaxOrder = 1504;

    /// Makes room for order n, [0, kMaxOrder], keeping the buffer when it is large enough already
    /// (contents undefined after a new allocation), and sets the order to 0. Returns false,
    /// leaving the matrix unallocated, when memory is short or n is out of range; the caller
    /// reports it.
    bool allocate(int n) {
        order_ = 0;
        if (n < 0 || n > kMaxOrder) {
            release();
            return false;
        }
        if (data_ && n <= capacity_)
            return true;
        release();
        // At least one element, so that an allocated matrix always has a buffer.
        data_.reset(new (std::nothrow) float[std::max<std::size_t>(packedTriangleSize(n), 1)]);
        capacity_ = data_ ? n : 0;
        return data_ != nullptr;
    }
    void release() {
        data_.reset();
        order_ = 0;
        capacity_ = 0;
    }
    bool isAllocated() const { return data_ != nullptr; }
    /// Largest order the buffer holds; 0 when unallocated.
    int capacity() const { return capacity_; }

    /// Order n of the system the element access refers to, [0, capacity()].
    void setOrder(int n) {
        assert(n >= 0 && n <= capacity_);
        order_ = n;
    }
    int order() const { return order_; }

    /// Zeroes the n(n+1)/2 elements of the current order.
    void clear() {
        if (data_) {
            std::memset(data_.get(), 0, packedTriangleSize(order_) * sizeof(float));
        }
    }

    /// Element (i, j), 1-based, 1 <= i <= j <= order().
    float& at(int i, int j) {
        assert(data_ && 1 <= i && i <= j && j <= order_);
        return data_[packedIndex(i, j, order_)];
    }
    float at(int i, int j) const {
        assert(data_ && 1 <= i && i <= j && j <= order_);
        return data_[packedIndex(i, j, order_)];
    }
    /// Element (i, j) of the symmetric matrix with the indices in either order, 1-based.
    float symmetricAt(int i, int j) const { return i <= j ? at(i, j) : at(j, i); }

    float* data() { return data_.get(); }
    const float* data() const { return data_.get(); }

  private:
    std::unique_ptr<float[]> data_;
    int order_ = 0;
    int capacity_ = 0;
};

}  // namespace torvek
